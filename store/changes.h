// The difference between the reply table and the entries of an edited text: the fewest writes
// that leave the table's ask/answer pairs, read in ascending id, equal to the entries in order.
#pragma once

#include <vector>

#include "replytext/replytext.h"
#include "store/engine.h"

namespace store {

// Reads the table through engine (inside the caller's write transaction, so that it is compared
// as it is now) and returns the changes that make it hold exactly entries, whose views the
// changes point into. Rows whose entry is unchanged are not named at all; an entry edited in
// place is an update of that row; a row whose entry moved keeps its other columns under a new
// id. Other rows' ids change only where no free id between neighbours keeps the order.
ChangeSet PlanChanges(Engine& engine, const std::vector<replytext::ReplyEntryView>& entries);

}  // namespace store
