// What the text box was made from: per row of the table as last loaded or saved, its id and a
// 128-bit key of the line the box shows for it. Unequal keys mean unequal lines; at 2^-128 per
// pair, equal keys are taken for equal lines, so the record holds no text (24 bytes a row).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace store {

struct TextKey {
  std::uint64_t low = 0, high = 0;
  bool operator==(const TextKey& other) const { return low == other.low && high == other.high; }
  bool operator!=(const TextKey& other) const { return !(*this == other); }
};

// The key of a line of editor text, as its units stand.
TextKey LineKey(std::u16string_view line);
// The key of a row's line: ask "###" answer, as the load joins it. Where answer follows ask and a
// "###" in memory, as in a line of text, the line is hashed where it is.
TextKey LineKey(std::u16string_view ask, std::u16string_view answer);

// A 64-bit hash of one text, for pairing an edited line with the row that had its question or
// its answer: a guide, never taken for equality.
std::uint64_t HintOf(std::u16string_view text);

struct RecordRow {
  std::int64_t id;
  TextKey key;  // of the line the box shows for the row
};

struct Record {
  std::vector<RecordRow> rows;  // in ascending id
  // Rows whose stored line is not the line the box shows, by their place in rows, ascending: a
  // line saved with spaces around it is stored trimmed while the box keeps the spaces. The key
  // is of the stored line, which is what another program's reads are compared with.
  std::vector<std::pair<std::size_t, TextKey>> stored;
  // The engine's version of the file when the record was made, where the engine can tell: while
  // it is unchanged, no other program has written and the table is still the record.
  std::optional<std::uint64_t> version;
};

}  // namespace store
