// A window that records what the editor shows, for driving frmMain without Qt.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "editor/frmmain.h"
#include "editor/window.h"

namespace safety {

class FakeWindow : public editor::Window {
 public:
  // The form whose TextChanged runs after SetText, as the real text box does.
  editor::frmMain* form = nullptr;
  std::u16string text;
  std::u16string caption;
  std::vector<std::u16string> messages;
  int answer = editor::vbNo;  // what the close prompt returns
  bool ended = false;

  std::u16string Text() const override { return text; }
  void SetText(std::u16string value) override {
    text = std::move(value);
    if (form) form->TextChanged();
  }
  void SetCaption(std::u16string_view value) override { caption = value; }
  int ShowMessage(std::u16string_view message, editor::Buttons buttons, editor::Icon,
                  std::u16string_view) override {
    messages.emplace_back(message);
    return buttons == editor::Buttons::Ok ? editor::vbOK : answer;
  }
  void EndRun() override { ended = true; }
  void SetLinkCursor(int) override {}
  void MoveText(int, int) override {}

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

}  // namespace safety
