#include "window/win32/richbox.h"

namespace window::win32 {

LRESULT RichBox::Ask(UINT message, WPARAM wParam, LPARAM lParam) const {
  return box_ ? CallWindowProcW(boxProc_, box_, message, wParam, lParam) : 0;
}

std::u16string RichBox::Text(LONG from, LONG to) const {
  if (to <= from) return {};
  std::u16string text(static_cast<std::size_t>(to - from) + 1, u'\0');
  TEXTRANGEW range = {{from, to}, reinterpret_cast<wchar_t*>(text.data())};
  text.resize(static_cast<std::size_t>(Ask(EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range))));
  return text;
}

LONG RichBox::Length() const {
  GETTEXTLENGTHEX length = {GTL_PRECISE | GTL_NUMCHARS, 1200};  // 1200: UTF-16
  return static_cast<LONG>(Ask(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length)));
}

CHARRANGE RichBox::Selection() const {
  CHARRANGE range = {};
  Ask(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
  return range;
}

}  // namespace window::win32
