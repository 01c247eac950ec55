// frmMain as a native Win32 window: the multi-line EDIT control Txt, the static labels Label1
// and Label2, and the link labels Label3(0) (reload) and Label3(1) (save). It forwards the
// window's messages to the editor's handlers and carries out the editor's requests (captions,
// messages, text, cursor).
//
// Error model: creating the window throws std::runtime_error when Windows refuses a window,
// control or font; the editor::Window calls throw std::runtime_error or std::bad_alloc, which
// the editor's handlers catch step by step.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "editor/frmmain.h"
#include "editor/window.h"
#include "window/layout.h"

namespace window::win32 {

// The text as the EDIT control holds it, and back. The control ends its text at a NUL, so a NUL
// is shown as U+2400 (SYMBOL FOR NULL) followed by an invisible U+FE0E; a U+2400 of the text
// itself is shown doubled, so that every text comes back exactly, and a U+2400 the operator
// types stays what it is.
std::u16string ShownText(std::u16string_view text);
std::u16string TextShown(std::u16string_view shown);

class MainForm : public editor::Window {
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

  // Twips and pixels through the screen's logical dots per inch (15 twips a pixel at 96).
  int TwipsToPixels(int twips) const;
  int PixelsToTwips(int pixels) const;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK TextProc(HWND text, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnTextMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // A child control with its design caption, at its design place.
  HWND CreateControl(int id, const wchar_t* kind, const DesignedControl& design, DWORD style, DWORD exStyle);
  void CreateControls();
  void SizeToText(HWND label);
  void SetLinkFont();
  void ChangeDpi(int dpi, const RECT& suggested);
  POINT PlaceOf(HWND control) const;  // in the window's client area, pixels
  void LayOutControls();
  void Centre();

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
  WNDPROC editProc_ = nullptr;  // the EDIT control's own window procedure
  bool assigning_ = false;      // SetText is putting text in: the control's change is not the operator's
  bool shown_ = false;
  bool runEnded_ = false;
};

}  // namespace window::win32
