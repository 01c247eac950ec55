// The clipboard as Txt uses it. A copy from Velmora holds its reply text twice: with every
// original code unit under a format of Velmora's own, so that a paste into Velmora gives back
// exactly what was copied, and as plain text for other programs.
//
// Error model: a clipboard Windows will not open, or that holds neither format, reads as empty;
// WriteClipboard throws std::runtime_error when Windows refuses the clipboard. Both throw
// std::bad_alloc when there is no memory for the text.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace window::win32 {

struct ClipboardText {
  std::u16string text;
  bool replyText = false;  // copied from Velmora, every unit as it was; else plain text
};

// What a paste puts in: the reply text of a copy from Velmora if there is one, else the plain text.
ClipboardText ReadClipboard(HWND owner);

// Whether a paste would find text: a copy from Velmora or plain text.
bool ClipboardHoldsText();

// Puts replyText on the clipboard in both formats, in place of what it held.
void WriteClipboard(HWND owner, std::u16string_view replyText);

}  // namespace window::win32
