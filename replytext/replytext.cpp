#include "replytext/replytext.h"

namespace replytext {

void AppendReplyLine(ReplyText& text, std::u16string_view ask, std::u16string_view answer) {
  if (!text.empty()) text.append(LineBreak);
  text.append(ask).append(ReplySeparator).append(answer);
}

std::vector<std::u16string_view> SplitReplyText(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  if (text.empty()) return lines;
  // Counted first, so that a million lines take room for a million views, not up to twice that.
  std::size_t count = 1;
  for (std::size_t at = text.find(LineBreak); at != std::u16string_view::npos; at = text.find(LineBreak, at + 2)) ++count;
  lines.reserve(count);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(LineBreak, start);
    if (end == std::u16string_view::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + LineBreak.size();
  }
}

std::optional<ReplyEntryView> ParseReplyLine(std::u16string_view line) {
  const std::size_t first = line.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return std::nullopt;
  const std::size_t last = line.find_last_not_of(u' ');
  const std::u16string_view trimmed = line.substr(first, last - first + 1);

  const std::size_t separator = trimmed.find(ReplySeparator);
  if (separator == std::u16string_view::npos) return std::nullopt;
  const std::u16string_view ask = trimmed.substr(0, separator);
  const std::u16string_view answer = trimmed.substr(separator + ReplySeparator.size());
  if (ask.empty() || answer.empty()) return std::nullopt;
  return ReplyEntryView{ask, answer};
}

bool IsLeftOut(std::u16string_view line) {
  return line.find_first_not_of(u' ') != std::u16string_view::npos && !ParseReplyLine(line);
}

}  // namespace replytext
