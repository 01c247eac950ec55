// The behaviour of the main window: start-up check and load, the modified flag and captions,
// the reload and save commands, and the prompt before closing with unsaved changes.
#pragma once

#include <optional>

#include "editor/window.h"
#include "store/common.h"

namespace editor {

// Runs one step of an event handler. A step that throws is abandoned at the point of failure and
// the handler goes on with its next step; returns whether the step completed.
template <typename Step>
bool Attempt(Step&& step) noexcept {
  try {
    step();
    return true;
  } catch (...) {
    return false;
  }
}

class frmMain {
 public:
  frmMain(Window& window, store::Common& common) : window_(window), common_(common) {}

  // Handlers, called by the window platform on the window thread.
  void StartUp();
  void TextChanged();
  void TextKeyPress(int& keyAscii);
  // Index 0 reloads, 1 saves; other indexes do nothing. Returns whether the command succeeded.
  bool LinkClick(int index);
  // Setting cancel to 1 keeps the window open.
  void CloseRequest(int& cancel);

  // True iff the text changed since the start-up load or the last save.
  bool Modified() const { return modified_; }

 private:
  bool ReloadReplies();
  bool SaveReplies();
  std::optional<store::Resolution> AskAboutConflicts(const std::vector<store::ShownConflict>& conflicts);
  // Puts a text of the whole table in the box; if that fails, says so and refuses saving until a
  // load succeeds. Returns whether it succeeded.
  bool ShowTable(std::u16string text);
  void SetCaption(std::u16string_view suffix);
  void Report(std::u16string_view text);

  Window& window_;
  store::Common& common_;
  bool modified_ = false;
  // Set by the first successful load. Until then the text box does not hold the table, so a
  // save would overwrite the stored entries with whatever it holds, and is refused.
  bool loaded_ = false;
};

}  // namespace editor
