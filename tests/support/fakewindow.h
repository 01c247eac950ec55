// A window that records what the editor shows, for driving frmMain without a toolkit.
#pragma once

#include <deque>
#include <new>
#include <string>
#include <vector>

#include "editor/frmmain.h"
#include "editor/window.h"
#include "store/common.h"

namespace testsupport {

class FakeWindow : public editor::Window {
 public:
  editor::frmMain* form = nullptr;  // told of every change of the text, as by a real text box
  std::u16string text, caption;
  std::vector<std::u16string> messages, titles;  // of the message boxes shown, in turn
  // The buttons pressed in boxes that ask, in turn; once used up, OK or No.
  std::deque<int> answers;
  bool ended = false;
  bool failSetText = false;  // SetText then keeps half the text and runs out of memory
  int linkCursors = 0;

  bool IsOrdinaryFile(std::u16string_view path) const override { return store::IsOrdinaryFile(path); }
  std::u16string Text() const override { return text; }
  void SetText(std::u16string value) override {
    if (failSetText) {
      text = value.substr(0, value.size() / 2);
      throw std::bad_alloc();
    }
    Type(std::move(value), true);
  }
  void SetCaption(std::u16string_view value) override { caption = value; }
  int ShowMessage(std::u16string_view message, editor::Buttons buttons, editor::Icon,
                  std::u16string_view title) override {
    messages.emplace_back(message);
    titles.emplace_back(title);
    const int answer = answers.empty() ? (buttons == editor::Buttons::Ok ? editor::vbOK : editor::vbNo)
                                       : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
  void EndRun() override { ended = true; }
  void SetLinkCursor(int) override { ++linkCursors; }
  void MoveText(int, int) override {}

  // The operator types: more text at the end, or all of it anew.
  void Type(std::u16string more, bool replace = false) {
    text = replace ? std::move(more) : text + more;
    if (form) form->TextChanged();
  }
  std::u16string LastMessage() const { return messages.empty() ? u"" : messages.back(); }
};

// A Common and a frmMain on the reply database of one directory, as in a run.
struct Editor {
  explicit Editor(std::u16string appPath) : common(std::move(appPath)), form(window, common) {
    window.form = &form;
  }
  FakeWindow window;
  store::Common common;
  editor::frmMain form;
  bool Save() { return form.LinkClick(1); }
  bool Reload() { return form.LinkClick(0); }
};

inline bool Contains(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

}  // namespace testsupport
