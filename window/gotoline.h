// Ctrl+G in both windows: the caret to the start of a line given by its number, in a small modal
// dialog as the system's own editor has it.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace window {

inline constexpr std::u16string_view kGoToTitle = u"转到指定行";
inline constexpr std::u16string_view kGoToLabel = u"行号(&L):";
inline constexpr std::u16string_view kGoToButton = u"转到";
inline constexpr std::u16string_view kGoToCancel = u"取消";
inline constexpr std::u16string_view kLineOutOfRange = u"行号超出了总行数。";

// The line (from 0) that a typed number (from 1) names, or nothing where what was typed is not a
// number from 1 to lineCount.
std::optional<std::size_t> LineToGoTo(std::u16string_view typed, std::size_t lineCount);

}  // namespace window
