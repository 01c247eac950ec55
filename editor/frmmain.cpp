#include "editor/frmmain.h"

#include "editor/messages.h"

#include <utility>

namespace editor {

namespace {
constexpr int kCtrlS = 19;
}

void frmMain::SetCaption(std::u16string_view suffix) {
  Attempt([&] { window_.SetCaption(std::u16string(AppTitle).append(suffix)); });
}

void frmMain::Report(std::u16string_view text) {
  Attempt([&] { window_.ShowMessage(text, Buttons::Ok, Icon::Critical, AppTitle); });
}

void frmMain::StartUp() {
  bool found = false;
  Attempt([&] { found = window_.IsOrdinaryFile(common_.DatabasePath()); });
  if (!found) {
    Attempt([&] { window_.ShowMessage(kMissingDatabase, Buttons::Ok, Icon::Critical, kNoticeTitle); });
    window_.EndRun();
    return;
  }
  Attempt([&] { window_.SetLinkCursor(0); });
  Attempt([&] { window_.SetLinkCursor(1); });
  Attempt([&] { window_.MoveText(0, 0); });
  // A failed open is not reported here: the reload that follows fails and says why.
  Attempt([&] { common_.OpenDatabase(); });
  Attempt([&] { LinkClick(0); });
  modified_ = false;
  SetCaption(u"");
}

void frmMain::TextChanged() {
  modified_ = true;
  SetCaption(kChangedSuffix);
}

void frmMain::TextKeyPress(int& keyAscii) {
  if (keyAscii == kCtrlS) {
    keyAscii = 0;
    LinkClick(1);
  }
}

bool frmMain::LinkClick(int index) {
  switch (index) {
    case 0:
      return ReloadReplies();
    case 1:
      return SaveReplies();
    default:
      return false;
  }
}

bool frmMain::ReloadReplies() {
  replytext::ReplyText text;
  try {
    text = common_.LoadReplyText();
  } catch (const std::exception& cause) {
    // The text box keeps what it had, and the caption does not claim a load.
    Report(LoadFailedMessage(cause, !loaded_));
    return false;
  }
  if (!ShowTable(std::move(text))) return false;
  SetCaption(kLoadedSuffix);
  return true;
}

bool frmMain::ShowTable(std::u16string text) {
  try {
    window_.SetText(std::move(text));
  } catch (const std::exception& cause) {
    // The box may now hold part of the table: saving it would delete the rest, so saving is
    // refused until a load succeeds again.
    loaded_ = false;
    Report(LoadFailedMessage(cause, true));
    return false;
  }
  loaded_ = true;
  return true;
}

bool frmMain::SaveReplies() {
  if (!loaded_) {
    Report(kSaveRefused);
    return false;
  }
  store::SaveOutcome outcome;
  try {
    std::size_t caretLine = 0;
    Attempt([&] { caretLine = window_.CaretLine(); });
    outcome = common_.SaveReplyText(
        window_.Text(), [this](const std::vector<store::ShownConflict>& conflicts) { return AskAboutConflicts(conflicts); },
        caretLine);
  } catch (const std::exception& cause) {
    Report(SaveFailedMessage(cause));
    // The line the save was refused for is selected, for the operator to mend.
    if (const auto* error = dynamic_cast<const store::Error*>(&cause); error && error->at() && error->at()->line)
      Attempt([&] { window_.SelectLine(error->at()->line - 1); });
    return false;
  }
  if (outcome.cancelled) return false;  // the edits stay, unsaved
  // The table as saved holds what another program wrote: the box shows it, the caret on the line
  // it was on. (The save itself is done even if the box cannot show it.)
  if (outcome.saved && ShowTable(std::move(*outcome.saved)))
    Attempt([&] { window_.SetCaretLine(outcome.followedLine); });
  modified_ = false;
  SetCaption(kSavedSuffix);
  return true;
}

std::optional<store::Resolution> frmMain::AskAboutConflicts(const std::vector<store::ShownConflict>& conflicts) {
  // If the question cannot be shown, nothing is saved rather than a version chosen unasked.
  int answer = vbCancel;
  Attempt([&] { answer = window_.ShowMessage(ConflictPrompt(conflicts), Buttons::YesNoCancel, Icon::None, AppTitle); });
  if (answer == vbYes) return store::Resolution::Mine;
  if (answer == vbNo) return store::Resolution::Theirs;
  return std::nullopt;
}

void frmMain::CloseRequest(int& cancel) {
  if (modified_) {
    // If the prompt cannot be shown, stay open rather than drop the edits.
    int answer = vbCancel;
    Attempt([&] { answer = window_.ShowMessage(kSavePrompt, Buttons::YesNoCancel, Icon::None, AppTitle); });
    if (answer == vbCancel) {
      cancel = 1;
      return;
    }
    // A save that failed has told the operator why; closing now would lose the edits.
    if (answer == vbYes && !LinkClick(1)) {
      cancel = 1;
      return;
    }
  }
  Attempt([&] { common_.CloseDatabase(); });
}

}  // namespace editor
