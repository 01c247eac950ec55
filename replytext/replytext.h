// The editor text of the reply table: one entry per line, question "###" answer, lines joined
// by CR LF. All texts are UTF-16; lengths and positions count 16-bit code units.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace replytext {

// One question and answer pair of the reply table.
struct ReplyEntry {
  std::u16string ask;
  std::u16string answer;

  bool operator==(const ReplyEntry& other) const {
    return ask == other.ask && answer == other.answer;
  }
};

// An entry as two views into the line it was read from.
struct ReplyEntryView {
  std::u16string_view ask;
  std::u16string_view answer;
};

// The complete editor text. It has no header, comments or escapes.
using ReplyText = std::u16string;

inline constexpr std::u16string_view ReplySeparator = u"###";
// The only line separator in either direction; a lone CR or LF is an ordinary character.
inline constexpr std::u16string_view LineBreak = u"\r\n";

// Appends one entry to text being joined: a CR LF first unless text is still empty, then the
// entry's line. Joining a table is this, applied to each row in table order.
void AppendReplyLine(ReplyText& text, std::u16string_view ask, std::u16string_view answer);

// Cuts text at every CR LF. Empty text gives no lines; text ending in CR LF gives a last, empty
// line. The views point into text.
std::vector<std::u16string_view> SplitReplyText(std::u16string_view text);

// Reads one edited line back as an entry. The line is trimmed of spaces (U+0020 only) at both
// ends and cut at its first "###"; it yields nothing when there is no separator or when either
// side is empty. The entry's views point into line, so a save copies nothing per line.
std::optional<ReplyEntryView> ParseReplyLine(std::u16string_view line);

// Whether a save leaves out a line that holds something: one not made of spaces alone that does
// not read as an entry. The text boxes mark such lines.
bool IsLeftOut(std::u16string_view line);

}  // namespace replytext
