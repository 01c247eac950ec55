// Positions in the text a box shows, whose lines end in CR LF, and in a box that holds each of
// those line breaks as one character (a RichEdit control does). Every position that passes
// between the two goes through these, so a selection, a caret line, a match or a stand-in lands
// on the same unit either way. Neither Qt nor Win32 is used here.
#pragma once

#include <cstddef>
#include <string_view>

namespace window {

// The box position of position at in text. A position between a CR and its LF, which the box
// cannot hold, is taken as the one after the pair; one past the end as the box's end.
std::size_t BoxPosition(std::u16string_view text, std::size_t at);

// The text position of box position at, where boxText is the box's own text (a line break as one
// CR), at least up to at; one past its end as the text's end.
std::size_t TextPosition(std::u16string_view boxText, std::size_t at);

}  // namespace window
