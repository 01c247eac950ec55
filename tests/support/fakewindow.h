// A window that records what the editor shows, for driving frmMain without Qt.
#pragma once

#include <deque>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "editor/frmmain.h"
#include "editor/window.h"
#include "store/common.h"

namespace testsupport {

class FakeWindow : public editor::Window {
 public:
  // The form whose TextChanged runs after SetText and Type, as the real text box does.
  editor::frmMain* form = nullptr;
  std::u16string text;
  std::u16string caption;
  std::vector<std::u16string> messages;  // the texts of the message boxes shown, in turn
  std::vector<std::u16string> titles;    // and their titles
  // The buttons pressed in boxes that ask, in turn. Once they are used up, OK closes a notice
  // and No answers a question.
  std::deque<int> answers;
  bool ended = false;
  bool failSetText = false;  // SetText then keeps half the text and runs out of memory
  int linkCursors = 0;

  bool IsOrdinaryFile(std::u16string_view path) const override {
    return store::IsOrdinaryFile(path);
  }
  std::u16string Text() const override { return text; }
  void SetText(std::u16string value) override {
    if (failSetText) {
      text = value.substr(0, value.size() / 2);
      throw std::bad_alloc();
    }
    text = std::move(value);
    if (form) form->TextChanged();
  }
  void SetCaption(std::u16string_view value) override { caption = value; }
  int ShowMessage(std::u16string_view message, editor::Buttons buttons, editor::Icon,
                  std::u16string_view title) override {
    messages.emplace_back(message);
    titles.emplace_back(title);
    if (answers.empty()) return buttons == editor::Buttons::Ok ? editor::vbOK : editor::vbNo;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void EndRun() override { ended = true; }
  void SetLinkCursor(int) override { ++linkCursors; }
  void MoveText(int, int) override {}

  // The user types more at the end of the text.
  void Type(const std::u16string& more) {
    text += more;
    if (form) form->TextChanged();
  }
  // The last message shown, or empty text.
  std::u16string LastMessage() const { return messages.empty() ? u"" : messages.back(); }
};

// A Common and a frmMain on the reply database of one directory, started up like a run.
struct Editor {
  explicit Editor(std::u16string appPath) : common(std::move(appPath)), form(window, common) {
    window.form = &form;
  }
  FakeWindow window;
  store::Common common;
  editor::frmMain form;
};

// True iff text contains a CJK ideograph, i.e. the message is written in Chinese.
inline bool IsChinese(std::u16string_view text) {
  for (char16_t c : text)
    if (c >= 0x4E00 && c <= 0x9FFF) return true;
  return false;
}

inline bool Contains(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

}  // namespace testsupport
