// Moves reply text in and out of a Qt text box without changing a single code unit.
//
// The box shows one line per CR LF-separated line. A QTextDocument cannot hold a lone CR, a lone
// LF, U+2029 or the frame marks U+FDD0/U+FDD1 inside a line (it breaks the line there), and shows
// U+2028 as a line break. Each of those is therefore shown as a visible stand-in character that
// carries the original code unit in its character format; reading the box back restores it. A
// stand-in typed or pasted by the user has no such format and stays what it is.
#pragma once

#include <string>
#include <string_view>

#include <QtGlobal>

class QPlainTextEdit;

namespace window {

// Replaces the whole content of box with text; leaves an empty undo history.
void SetReplyText(QPlainTextEdit& box, std::u16string text);

// The box's content as reply text: lines joined by CR LF, stand-ins restored.
std::u16string ReplyTextOf(const QPlainTextEdit& box);

// The same, reading the document whole if it holds at most wholeReadLimit units, else in pieces
// of pieceSize units.
std::u16string ReplyTextOf(const QPlainTextEdit& box, qsizetype wholeReadLimit, qsizetype pieceSize);

}  // namespace window
