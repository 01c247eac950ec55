#include "store/textplaces.h"

#include <cstdint>

#include "replytext/replytext.h"

namespace store {

namespace {

constexpr std::size_t kShownUnits = 20;

// The numbers (from 1) of the lines of text that hold places, which point into text in the order
// they stand there: one walk over the text for all of them.
std::vector<std::size_t> LineNumbersOf(std::u16string_view text, const std::vector<const char16_t*>& places) {
  std::vector<std::size_t> numbers;
  numbers.reserve(places.size());
  std::size_t line = 1, at = 1;
  for (const char16_t* place : places) {
    for (const auto offset = static_cast<std::size_t>(place - text.data()); at < offset; ++at)
      line += text[at] == u'\n' && text[at - 1] == u'\r';
    numbers.push_back(line);
  }
  return numbers;
}

std::size_t LineNumberOf(std::u16string_view text, std::u16string_view line) { return LineNumbersOf(text, {line.data()})[0]; }

// Whether view lies within text (compared as addresses: it may come from elsewhere).
bool Within(std::u16string_view text, std::u16string_view view) {
  const auto at = [](const char16_t* p) { return reinterpret_cast<std::uintptr_t>(p); };
  return at(view.data()) >= at(text.data()) && at(view.data() + view.size()) <= at(text.data() + text.size());
}

}  // namespace

std::u16string TextStart(std::u16string_view text) {
  if (text.size() <= kShownUnits) return std::u16string(text);
  std::size_t cut = kShownUnits;
  if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;  // not between the halves of a pair
  return std::u16string(text.substr(0, cut)) + u"…";
}

FailedLine LocateRefusal(std::u16string_view text, const Lines& lines, const RowTexts& row, const Error& error) {
  if (!Within(text, row.ask)) return {};
  FailedLine at{LineNumberOf(text, row.ask), TextStart(row.ask), std::nullopt};
  if (error.fault() != Fault::Duplicate) return at;
  // An index on the question is the usual one; an engine may name the column it was on.
  const std::string& column = error.subject();
  const bool byAnswer = column.size() >= 6 && column.compare(column.size() - 6, 6, "answer") == 0;
  for (const std::u16string_view line : lines) {
    const auto entry = replytext::ParseReplyLine(line);
    if (entry->ask.data() != row.ask.data() && (byAnswer ? entry->answer == row.answer : entry->ask == row.ask)) {
      at.duplicateOf = LineNumberOf(text, line);
      return at;
    }
  }
  at.duplicateOf = 0;  // a row of the table's that the text does not show
  return at;
}

std::vector<ShownConflict> ShowConflicts(std::u16string_view text, const Lines& lines,
                                         const std::vector<Conflict>& conflicts, const TableChanges& table) {
  std::vector<const char16_t*> places;  // the conflicts with lines come first, in line order
  for (const Conflict& conflict : conflicts)
    if (conflict.line != Conflict::kDeleted) places.push_back(lines[conflict.line].data());
  const std::vector<std::size_t> numbers = LineNumbersOf(text, places);
  std::vector<ShownConflict> shown;
  shown.reserve(conflicts.size());
  for (const Conflict& conflict : conflicts) {
    const auto theirs = conflict.theirs ? table.texts.find(conflict.id) : table.texts.end();
    std::optional<std::u16string> answer;
    if (theirs != table.texts.end()) answer = TextStart(theirs->second.second);
    if (conflict.line == Conflict::kDeleted) {  // the operator deleted a row the other program edited
      shown.push_back({0, TextStart(theirs->second.first), u"", answer});
      continue;
    }
    const replytext::ReplyEntryView mine = *replytext::ParseReplyLine(lines[conflict.line]);
    shown.push_back({numbers[shown.size()], TextStart(mine.ask), TextStart(mine.answer), answer});
  }
  return shown;
}

}  // namespace store
