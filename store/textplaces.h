// The places in the operator's text that a save names to the operator: the line an entry it was
// refused for stands on, and the conflicts it asks about, as the operator sees them.
//
// Error model: none of these fails but for want of memory (std::bad_alloc).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/changes.h"
#include "store/engine.h"

namespace store {

// A conflict as the question shows it: the operator's line (from 1; 0 where the operator deleted
// it) with the question and answer it holds, and the other program's answer (none where it
// deleted the row). Where the operator deleted the row, the question is the other program's.
struct ShownConflict {
  std::size_t line;
  std::u16string question, mine;
  std::optional<std::u16string> theirs;
  bool operator==(const ShownConflict& other) const {
    return line == other.line && question == other.question && mine == other.mine && theirs == other.theirs;
  }
};

// The start of a text for a message: at most about twenty units, cut where it is longer with "…".
std::u16string TextStart(std::u16string_view text);

// The line of text a refused write of an accepted line stands on (row's texts point into text),
// and for a duplicate the other accepted line whose question it repeats (its answer, where the
// error names the answer's column).
FailedLine LocateRefusal(std::u16string_view text, const Lines& lines, const RowTexts& row, const Error& error);

// The conflicts of a plan over the accepted lines of text, as the question shows them.
std::vector<ShownConflict> ShowConflicts(std::u16string_view text, const Lines& lines,
                                         const std::vector<Conflict>& conflicts, const TableChanges& table);

}  // namespace store
