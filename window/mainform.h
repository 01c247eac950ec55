// frmMain on Qt Widgets: the text box Txt, the labels Label1 and Label2, and the link labels
// Label3(0) (reload) and Label3(1) (save). It forwards the platform's events to the editor's
// handlers and carries out the editor's requests (captions, messages, text, cursor).
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>

#include <array>
#include <functional>

#include "editor/frmmain.h"
#include "editor/window.h"
#include "window/find.h"
#include "window/finddialog.h"
#include "window/textmapping.h"

namespace window {

// The multi-line text box; reports every character key to a key-press handler first.
class TextBox : public ReplyTextBox {
 public:
  using ReplyTextBox::ReplyTextBox;
  std::function<void(int& keyAscii)> onKeyPress;
  // Offered every key press first; true when it took the key (find and replace's keys).
  std::function<bool(const QKeyEvent& event)> onCommandKey;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// A label that reports a click (press and release of the left button over it).
class LinkLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> onClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// Makes Qt's own texts (the text box's and scroll bar's menus, the message box buttons) Chinese
// (PRC), whatever the system's language. Call once, after the QApplication is made.
void UseChineseTexts();

// The character code a key press produces (Ctrl+letter gives 1..26), or 0 for a key that
// produces none.
int KeyAscii(const QKeyEvent& event);

class MainForm : public QWidget, public editor::Window, private SearchedBox {
 public:
  explicit MainForm(store::Common& common);

  editor::frmMain& Form() { return form_; }
  bool RunEnded() const { return runEnded_; }

  TextBox& Txt() { return *txt_; }
  QLabel& Label1() { return *label1_; }
  QLabel& Label2() { return *label2_; }
  LinkLabel& Label3(int index) { return *label3_.at(static_cast<std::size_t>(index)); }

  // The find and replace dialog (made at its first use), and the searches it and F3 run.
  FindDialog& Finding();
  Finder& Searches() { return finder_; }
  // Ctrl+F and Ctrl+H: the dialog as "查找" or "替换", with the selection as what to find.
  void OpenFind(bool replacing);
  // Ctrl+G: asks for a line's number and puts the caret at the start of that line.
  void GoToLine();

  // Replaces the message box, for tests: receives what would be shown, returns the button.
  std::function<int(std::u16string_view text, editor::Buttons, editor::Icon,
                    std::u16string_view title)>
      messageHook;

  // editor::Window
  bool IsOrdinaryFile(std::u16string_view path) const override;
  std::u16string Text() const override;
  void SetText(std::u16string text) override;
  void SetCaption(std::u16string_view caption) override;
  int ShowMessage(std::u16string_view text, editor::Buttons buttons, editor::Icon icon,
                  std::u16string_view title) override;
  void EndRun() override { runEnded_ = true; }
  void SetLinkCursor(int index) override;
  void MoveText(int left, int top) override;
  std::size_t CaretLine() const override;
  void SetCaretLine(std::size_t line) override { ShowLine(line, false); }
  void SelectLine(std::size_t line) override { ShowLine(line, true); }

  // Twips and pixels through the screen's logical dots per inch (15 twips a pixel at 96).
  int TwipsToPixels(int twips) const;
  int TwipsToPixelsY(int twips) const;
  int PixelsToTwips(int pixels) const;
  int PixelsToTwipsY(int pixels) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Puts the caret at the start of a line (selecting the line if asked) and scrolls it into view.
  void ShowLine(std::size_t line, bool select);
  // Gives the window, the text box and its view the sizes they will be shown at, before a text
  // goes in: the box lays every line out again whenever its width changes, and keeps a layout
  // per line from then on, which for a large table outweighs the text itself.
  void SettleGeometry();
  // Places the text box and the labels for the window's present size.
  void ApplyLayout();
  // Puts the window, frame included, in the middle of its screen.
  void Centre();
  bool TakeFindKey(const QKeyEvent& event);  // Ctrl+F, Ctrl+H, F3, Shift+F3, Ctrl+G

  // SearchedBox, for the searches
  std::u16string_view ShownText() override;
  Stretch Selection() const override;
  void Select(Stretch stretch) override;
  void ReplaceSelection(std::u16string_view with) override;
  std::vector<Original> StandIns() override { return StandInsOf(*txt_); }
  void ReplaceAllText(std::u16string shown, std::vector<Original> originals) override;
  void Tell(std::u16string_view message) override;

  editor::frmMain form_;
  TextBox* txt_;
  QLabel* label1_;
  QLabel* label2_;
  std::array<LinkLabel*, 2> label3_;
  bool runEnded_ = false;
  FindDialog* findDialog_ = nullptr;
  Finder finder_{*this};
  QString searched_;           // the text searches run over, as the document shows it
  bool searchedStale_ = true;  // the document changed since searched_ was copied from it
  int laidOutOuterWidth_ = 0;     // the outer width the labels were last placed for, in pixels
  bool centredInFrame_ = false;  // centred since the window manager framed the window
};

}  // namespace window
