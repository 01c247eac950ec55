// A save as three ways of one table: the record (the table the text box was made from), the
// operator's text, and the table as it is at the save. The operator's changes are the record
// against the text's lines: a line whose units are the line the box was given for a row is that
// row untouched, whatever its parse gives, and only a changed line is parsed into the texts to
// store. Another program's changes are the record against the table now, by id, a row whose line
// as joined is unchanged counting as unchanged. The plan applies the operator's changes on top of
// the table now, in the fewest writes, and leaves every row the operator did not change as the
// other program left it.
//
// Error model: planning reads through the engine and passes its store::Error on; ApplyChanges
// likewise. Neither commits nor rolls back: the caller's transaction does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "replytext/replytext.h"
#include "store/engine.h"
#include "store/record.h"

namespace store {

// The accepted lines of the operator's text (those that parse as an entry), as they stand.
using Lines = std::vector<std::u16string_view>;

// What other programs did to the table since the record was made, by the record's rows.
struct TableChanges {
  enum Status : std::uint8_t { Same, Edited, Deleted };
  std::vector<Status> status;                            // per record row; empty: all the same
  std::vector<std::pair<std::size_t, TextKey>> edited;   // (record row, its key now), in row order
  std::vector<RecordRow> added;                          // rows the record does not have, by id
  // The texts of the rows edited and added, by id: what the text box is to show of them.
  std::unordered_map<std::int64_t, std::pair<std::u16string, std::u16string>> texts;
};

// The table now against record: no read at all while the engine's version is still the
// record's, else one read of the whole table.
TableChanges CompareTable(Engine& engine, const Record& record);

// Which version a row both changed keeps: the operator's or the other program's.
enum class Resolution { Mine, Theirs };

// The writes of a save, in the order they run: deletes, moves (each target free when it runs;
// a temporary id only for moves that form a cycle), updates, inserts. Rows not named here are
// not touched at all.
struct ChangeSet {
  std::vector<std::int64_t> deletes;
  std::vector<std::pair<std::int64_t, std::int64_t>> moves;  // (from, to); other columns go along
  std::vector<RowTexts> updates;                             // by id after the moves
  std::vector<RowTexts> inserts;
};

// A row both changed differently, or one edited and the other deleted, as it stood at the plan.
struct Conflict {
  static constexpr std::size_t kDeleted = static_cast<std::size_t>(-1);
  std::int64_t id;                // the row's id in the record
  std::size_t line;               // the operator's version: an accepted line, or kDeleted
  std::optional<TextKey> theirs;  // the other program's version: the row's key now, or deleted
  bool operator==(const Conflict& other) const {
    return id == other.id && line == other.line && theirs == other.theirs;
  }
};

// A stretch of the table as saved, as the box is to show it: a piece of the operator's text (whole
// lines, as they stand or trimmed as stored), or, where theirs is set, the row with the texts
// another program wrote.
struct ShownRun {
  std::u16string_view piece;
  std::optional<std::int64_t> theirs;
};

struct SavePlan {
  std::vector<Conflict> conflicts;  // in line order, then the deleted rows' order
  // After the other program's versions were chosen: the line of the table as saved that shows the
  // first of them.
  std::optional<std::size_t> firstTheirs;
  bool keepsTheirs = false;   // the table as saved holds writes the text does not show
  ChangeSet changes;
  Record saved;               // the table as saved (its version left empty)
  // Where the table as saved holds writes the text does not show: the table as saved, as runs of
  // what to show, and its line that holds accepted line `follow` (or the first one after it
  // still there, or else the last line).
  std::optional<std::vector<ShownRun>> shown;
  std::size_t followedLine = 0;
};

// Plans the save of lines (views into the operator's text, which the plan's texts point into)
// over the table now. Reads through engine only where edited lines are paired with rows by their
// texts. Conflicts are listed either way; resolution says which version they keep. `follow` is
// an accepted line's place, as for SavePlan::followedLine.
SavePlan PlanSave(Engine& engine, const Record& record, const Lines& lines, const TableChanges& table,
                  Resolution resolution, std::size_t follow);

// The table as saved as editor text, from the pieces of the text planned and the texts other
// programs wrote, made at its final size.
replytext::ReplyText ShownTable(const std::vector<ShownRun>& runs, const TableChanges& table);

// Runs changes through engine. Updates refused by a unique index (a question moved from one row
// to another) wait for the rows holding their texts; where they wait on each other, one of them
// holds a text of its own for a moment. Where an update or insert fails, failed names it.
void ApplyChanges(Engine& engine, const ChangeSet& changes, const RowTexts*& failed);

}  // namespace store
