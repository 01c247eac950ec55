#include "window/gotoline.h"

namespace window {

std::optional<std::size_t> LineToGoTo(std::u16string_view typed, std::size_t lineCount) {
  std::size_t number = 0;
  for (const char16_t unit : typed) {
    if (unit < u'0' || unit > u'9') return std::nullopt;
    number = number * 10 + static_cast<std::size_t>(unit - u'0');
    if (number > lineCount) return std::nullopt;  // and no overflow, however long the number
  }
  if (number == 0) return std::nullopt;
  return number - 1;
}

}  // namespace window
