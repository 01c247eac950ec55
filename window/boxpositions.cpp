#include "window/boxpositions.h"

#include <algorithm>

namespace window {

std::size_t BoxPosition(std::u16string_view text, std::size_t at) {
  at = std::min(at, text.size());
  if (at > 0 && at < text.size() && text[at - 1] == u'\r' && text[at] == u'\n') ++at;  // inside a pair
  std::size_t pairs = 0;
  for (std::size_t found = text.find(u"\r\n"); found != std::u16string_view::npos && found + 1 < at;
       found = text.find(u"\r\n", found + 2))
    ++pairs;
  return at - pairs;
}

std::size_t TextPosition(std::u16string_view boxText, std::size_t at) {
  at = std::min(at, boxText.size());
  return at + static_cast<std::size_t>(std::count(boxText.begin(), boxText.begin() + static_cast<std::ptrdiff_t>(at), u'\r'));
}

}  // namespace window
