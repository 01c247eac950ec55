// What the text box was made from: per row of the table as last loaded or saved, its id and a
// 128-bit key of its texts. Unequal keys mean unequal texts; at 2^-128 per pair, equal keys are
// taken for equal texts, so the record holds no text (24 bytes a row).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace store {

struct TextKey {
  std::uint64_t low = 0, high = 0;
  bool operator==(const TextKey& other) const { return low == other.low && high == other.high; }
  bool operator!=(const TextKey& other) const { return !(*this == other); }
};

// The key of a row's or an entry's texts: XXH3's 128-bit hash of ask "###" answer, seeded with
// the length of ask so that no other pair of texts gives the same input. Where answer follows
// ask and a "###" in memory, as in a parsed line, the texts are hashed where they are.
TextKey KeyOf(std::u16string_view ask, std::u16string_view answer);

// A 64-bit hash of one text, for pairing an edited line with the row that had its question or
// its answer: a guide, never taken for equality.
std::uint64_t HintOf(std::u16string_view text);

struct RecordRow {
  std::int64_t id;
  TextKey key;
};

struct Record {
  std::vector<RecordRow> rows;  // in ascending id
  // The engine's version of the file when the record was made, where the engine can tell: while
  // it is unchanged, no other program has written and the table is still the record.
  std::optional<std::uint64_t> version;
};

}  // namespace store
