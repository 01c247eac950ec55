// frmMain as a native Win32 window: the text box Txt, a RichEdit control (MSFTEDIT.DLL) in
// plain-text mode with an undo history of many steps; the static labels Label1 and Label2; and
// the link labels Label3(0) (reload) and Label3(1) (save). It forwards the window's messages to
// the editor's handlers and carries out the editor's requests (captions, messages, text, cursor).
// Txt shows the text's hidden characters as stand-ins and marks the lines a save would leave
// out, as the Qt window does. Each load puts the text in a new Txt: the history starts empty.
//
// The control holds each CR LF of the text as one character; window/boxpositions.h turns its
// positions into the text's and back. Everything else here counts in the text's positions.
//
// Error model: creating the window throws std::runtime_error when Windows refuses a window,
// control or font; the editor::Window calls throw std::runtime_error or std::bad_alloc, which
// the editor's handlers catch step by step.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commdlg.h>

#include <richedit.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "editor/frmmain.h"
#include "editor/window.h"
#include "window/find.h"
#include "window/layout.h"
#include "window/standins.h"
#include "window/win32/leftoutmarks.h"
#include "window/win32/richbox.h"

namespace window::win32 {

class MainForm : public editor::Window, private SearchedBox {
 public:
  // Creates the window and its controls, hidden, at the design size and centred on the screen.
  MainForm(HINSTANCE instance, store::Common& common);
  ~MainForm() override;
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  editor::frmMain& Form() { return form_; }
  bool RunEnded() const { return runEnded_; }
  HWND Handle() const { return window_; }
  HWND Txt() const { return txt_; }
  HWND Label(int number) const;  // 1 or 2
  HWND Label3(int index) const { return label3_.at(static_cast<std::size_t>(index)); }

  // Shows the window; the first time, centred on the screen's work area.
  void Show(int showCommand);

  // The system's Find (Ctrl+F) or Replace (Ctrl+H) dialog, modeless, with the selection as what
  // to find; and its keyboard, for the message loop: true when message was the dialog's.
  void OpenFind(bool replacing);
  // Ctrl+G: asks for a line's number and puts the caret at the start of that line.
  void GoToLine();
  bool TakeDialogMessage(MSG& message);
  HWND FindDialog() const { return findDialog_; }
  // The dialog's search, as the system's dialog fills it in, and its buttons pressed: what the
  // dialog itself sends this window.
  FINDREPLACEW& DialogSearch() { return findReplace_; }
  void PressDialogButton(DWORD button);

  // Replaces the message box, for tests: receives what would be shown, returns the button.
  std::function<int(std::u16string_view text, editor::Buttons, editor::Icon, std::u16string_view title)>
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
  int PixelsToTwips(int pixels) const;

 private:
  // Puts the caret at the start of a line (selecting the line if asked) and scrolls it into view.
  void ShowLine(std::size_t line, bool select);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK TextProc(HWND text, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK GoToProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void StartGoTo(HWND dialog);
  void GoToTyped(HWND dialog);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
  LRESULT ColourLabel(HDC dc, HWND label) const;  // answers WM_CTLCOLORSTATIC
  bool SetLinkCursorOver(HWND control) const;     // the link cursor, if control is a link that has it
  // What the operator asks of Txt by its keys, its context menu or the messages for them; each
  // is also the id of its item in the menu.
  enum class Command : UINT { None, Undo, Redo, Cut, Copy, Paste, Delete, SelectAll };
  static Command CommandOf(UINT message, WPARAM wParam);
  LRESULT OnTextMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // A typed character, to the editor first; false when it is swallowed.
  bool TakeCharacter(WPARAM& character);
  // A message to the control, and the stand-ins followed through what it changed.
  LRESULT PassOn(UINT message, WPARAM wParam, LPARAM lParam);
  void Perform(Command command);
  bool CanPerform(Command command) const;
  // Txt's own menu, at a point on the screen, or at the caret when at is -1 (the keyboard's).
  void ShowContextMenu(LPARAM at);
  // Runs edit, which may change Txt's text, following the stand-ins through the change (the
  // stand-ins it puts in, it adds to pasted); an edit at the selection changes nothing before
  // it. Has the marks painted anew when the text or the rows in view changed.
  LRESULT FollowEdit(bool atSelection, const std::function<LRESULT(std::vector<Original>& pasted)>& edit);
  // A new, empty Txt in the place of the one there is, which goes, or at its design place when
  // there is none.
  void CreateTxt();
  std::u16string TxtText() const;  // Txt's text, stand-ins and all, lines ending in CR LF
  std::pair<std::size_t, std::size_t> SelectedRange() const;  // where the selection starts and ends
  // Selects start..end of shown, Txt's text, and scrolls it into view.
  void SelectShown(std::u16string_view shown, std::size_t start, std::size_t end);
  // A child control with its design caption, at its design place.
  HWND CreateControl(int id, const wchar_t* kind, const DesignedControl& design, DWORD style, DWORD exStyle);
  void CreateControls();
  void SizeToText(HWND label);
  void SetFonts();
  // Txt's text starts right of the margin the marks are painted in, whatever Txt's size.
  void KeepMarkMargin();
  // Has the margin painted anew when the rows in view or the text changed.
  void RefreshMarks(bool textChanged);
  // Copies the selection as reply text, every unit as it is.
  void CopySelection() const;
  // Pastes a copy from Velmora as it was copied, returning its stand-ins; other text with every
  // line end (CR LF, LF, CR, U+2028, U+2029) as CR LF.
  std::vector<Original> Paste();
  void ChangeDpi(int dpi, const RECT& suggested);
  POINT PlaceOf(HWND control) const;  // in the window's client area, pixels
  void LayOutControls();
  void Centre();
  Search SearchOfDialog() const;
  // The keys of find and replace (Ctrl+F, Ctrl+H, F3, Shift+F3); true when message was one.
  bool TakeFindKey(UINT message, WPARAM wParam);

  // SearchedBox, for the searches
  std::u16string_view ShownText() override;
  Stretch Selection() const override;
  void Select(Stretch stretch) override;
  void ReplaceSelection(std::u16string_view with) override;
  std::vector<Original> StandIns() override { return standIns_.Originals(TxtText()); }
  void ReplaceAllText(std::u16string shown, std::vector<Original> originals) override;
  void Tell(std::u16string_view message) override;

  HINSTANCE instance_;
  editor::frmMain form_;
  int dpi_ = 96;
  HWND window_ = nullptr;
  HWND txt_ = nullptr;
  HWND label1_ = nullptr;
  HWND label2_ = nullptr;
  std::array<HWND, 2> label3_{};
  HFONT linkFont_ = nullptr;
  HICON windowIcon_ = nullptr;
  HCURSOR linkCursor_ = nullptr;
  std::array<bool, 2> linkCursorSet_{};
  RichBox box_;                 // Txt, asked through the RichEdit control's own window procedure
  LeftOutMarks marks_;          // the bands beside Txt's lines a save would leave out
  bool assigning_ = false;      // SetText is putting text in: the control's change is not the operator's
  bool edited_ = false;         // the operator's message to Txt changed its text
  StandInTrack standIns_;       // where Txt shows stand-ins, followed through the operator's edits
  Finder finder_{*this};
  std::u16string searched_;     // the text a search runs over
  UINT findMessage_ = 0;        // the registered message the Find and Replace dialogs send
  FINDREPLACEW findReplace_{};  // the dialogs' search, which must last as long as they do
  std::array<wchar_t, 256> findWhat_{}, replaceWith_{};
  HWND findDialog_ = nullptr;
  bool replacing_ = false;      // the dialog open is the Replace one
  LONG marginReported_ = -1;    // the left of Txt's text rectangle as Txt reported it after setting it
  bool shown_ = false;
  bool runEnded_ = false;
};

}  // namespace window::win32
