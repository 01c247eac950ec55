#include "replytext/replytext.h"

namespace replytext {

void AppendReplyLine(ReplyText& text, std::u16string_view ask, std::u16string_view answer) {
  if (!text.empty()) text.append(LineBreak);
  text.append(ask).append(ReplySeparator).append(answer);
}

namespace {

// Where the first CR LF at or after from begins, or npos. A plain loop over the units: the
// library's search for a two-unit text costs several times as much per unit, and a save runs
// this over the whole text.
std::size_t FindLineBreak(std::u16string_view text, std::size_t from) {
  for (std::size_t at = from + 1; at < text.size(); ++at)
    if (text[at] == u'\n' && text[at - 1] == u'\r') return at - 1;
  return std::u16string_view::npos;
}

// Where the first "###" begins, or npos; the same plain loop.
std::size_t FindSeparator(std::u16string_view text) {
  for (std::size_t at = 2; at < text.size(); ++at)
    if (text[at] == u'#' && text[at - 1] == u'#' && text[at - 2] == u'#') return at - 2;
  return std::u16string_view::npos;
}

}  // namespace

std::vector<std::u16string_view> SplitReplyText(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  if (text.empty()) return lines;
  // Room for as many lines as there are LFs and one more, so that a million lines take room for
  // about a million views, not up to twice that; a count this simple the compiler vectorises.
  std::size_t count = 1;
  for (const char16_t unit : text) count += unit == u'\n';
  lines.reserve(count);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = FindLineBreak(text, start);
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

  const std::size_t separator = FindSeparator(trimmed);
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
