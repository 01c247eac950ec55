// Txt's RichEdit control as Velmora asks it: straight through the control's own window
// procedure, so that what Velmora asks while it handles Txt's messages does not come back through
// them. Positions are the control's, each line break one CR (window/boxpositions.h maps them).
// Error model: none of these throw but std::bad_alloc; a control that is not there answers 0.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <richedit.h>

#include <string>

namespace window::win32 {

class RichBox {
 public:
  RichBox() = default;
  RichBox(HWND box, WNDPROC boxProc) : box_(box), boxProc_(boxProc) {}

  HWND Handle() const { return box_; }
  WNDPROC Procedure() const { return boxProc_; }  // the control's own window procedure
  LRESULT Ask(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  std::u16string Text(LONG from, LONG to) const;  // the characters from..to
  LONG Length() const;
  CHARRANGE Selection() const;

 private:
  HWND box_ = nullptr;
  WNDPROC boxProc_ = nullptr;
};

}  // namespace window::win32
