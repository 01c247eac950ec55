#include "store/changes.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace store {

namespace {

using replytext::ReplyEntryView;
using Index = std::uint32_t;  // a row's or an entry's place: a reply table holds fewer than 2^32
constexpr Index kNone = std::numeric_limits<Index>::max();
constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;

// Ids as unsigned numbers in the same order, so that the whole 64-bit range is counted without
// signed overflow.
std::uint64_t Unsigned(std::int64_t id) { return static_cast<std::uint64_t>(id) ^ kHalf; }
std::int64_t Signed(std::uint64_t u) {
  return u >= kHalf ? static_cast<std::int64_t>(u - kHalf) : static_cast<std::int64_t>(u) + std::numeric_limits<std::int64_t>::min();
}

// The entry an accepted line reads as.
ReplyEntryView Parsed(std::u16string_view line) { return *replytext::ParseReplyLine(line); }

// An accepted line as a save stores it: ask "###" answer, which is the line without the spaces
// around it.
std::u16string_view StoredLine(std::u16string_view line) {
  const ReplyEntryView texts = Parsed(line);
  return {texts.ask.data(), texts.ask.size() + replytext::ReplySeparator.size() + texts.answer.size()};
}

[[noreturn]] void NoFreeIds() { throw Error(Fault::OrderNotKept, 0, "no free ids keep the lines in order"); }

// ---- The operator's changes: which record row holds which entry ----

struct Links {
  Links(std::size_t rows, std::size_t entries) : entryOfRow(rows, kNone), rowOfEntry(entries, kNone), anchor(entries) {}
  std::vector<Index> entryOfRow, rowOfEntry;
  std::vector<bool> anchor;  // per entry: a line kept in order with its neighbours, unchanged
  void Link(std::size_t row, std::size_t entry) {
    entryOfRow[row] = static_cast<Index>(entry), rowOfEntry[entry] = static_cast<Index>(row);
  }
};

// A stretch of the record's rows and of the text's entries, each from its begin to its end.
struct Span {
  std::size_t rowBegin, rowEnd, entryBegin, entryEnd;
};

// For each entry of span, the k-th row of span holding its key if it is the k-th entry holding
// it, or kNone.
std::vector<Index> Candidates(const std::vector<RecordRow>& rows, const std::vector<TextKey>& keys, const Span& span) {
  const std::size_t count = span.rowEnd - span.rowBegin, first = span.rowBegin;
  std::size_t size = 4;
  while (size < count + count / 2) size <<= 1;
  // Open addressing by key: a slot holds the first row of one key, `next` the later ones in
  // order, and `take` (by a key's first row) the row its next entry takes.
  std::vector<Index> slots(size, kNone), next(count, kNone), take(count, kNone);
  const auto find = [&](const TextKey& key) {
    std::size_t slot = key.low & (size - 1);
    while (slots[slot] != kNone && rows[slots[slot]].key != key) slot = (slot + 1) & (size - 1);
    return slot;
  };
  for (std::size_t row = span.rowEnd; row-- > first;) {
    const std::size_t slot = find(rows[row].key);
    if (slots[slot] != kNone) next[row - first] = slots[slot];
    slots[slot] = static_cast<Index>(row), take[row - first] = static_cast<Index>(row);
  }
  std::vector<Index> candidates(span.entryEnd - span.entryBegin, kNone);
  for (std::size_t entry = span.entryBegin; entry < span.entryEnd; ++entry) {
    const Index head = slots[find(keys[entry])];
    if (head == kNone) continue;
    Index& row = take[head - first];
    candidates[entry - span.entryBegin] = row;
    if (row != kNone) row = next[row - first];
  }
  return candidates;
}

// The longest run of places, in order, whose values never fall (rise, where strict): a mark per
// place. Only places that take part (takes(k)) are given a value.
template <typename Takes, typename Value>
std::vector<bool> LongestRun(std::size_t count, bool strict, const Takes& takes, const Value& value) {
  std::vector<Index> tails, previous(count, kNone);  // tails[k]: last place of the best run of k + 1
  for (std::size_t k = 0; k < count; ++k) {
    if (!takes(k)) continue;
    const auto v = value(k);
    const auto follows = [&](Index t) { return strict ? value(t) < v : value(t) <= v; };  // k may come after t
    // Most places keep their order and lengthen the longest run: no search for those.
    const auto it = tails.empty() || follows(tails.back()) ? tails.end() : std::partition_point(tails.begin(), tails.end(), follows);
    if (it != tails.begin()) previous[k] = *(it - 1);
    if (it == tails.end()) tails.push_back(static_cast<Index>(k)); else *it = static_cast<Index>(k);
  }
  std::vector<bool> marks(count);
  for (Index k = tails.empty() ? kNone : tails.back(); k != kNone; k = previous[k]) marks[k] = true;
  return marks;
}

// Links the rows and entries of span with equal keys: the longest run in order of both are
// anchors (common lines), the others lines moved elsewhere.
void LinkByKeys(const std::vector<RecordRow>& rows, const std::vector<TextKey>& keys, const Span& span, Links& links) {
  const std::vector<Index> candidates = Candidates(rows, keys, span);
  const std::vector<bool> inOrder = LongestRun(
      candidates.size(), true, [&](std::size_t e) { return candidates[e] != kNone; }, [&](std::size_t e) { return candidates[e]; });
  for (std::size_t entry = 0; entry < candidates.size(); ++entry) {
    if (candidates[entry] == kNone) continue;
    links.Link(candidates[entry], span.entryBegin + entry);
    links.anchor[span.entryBegin + entry] = inOrder[entry];
  }
}

// How many lines ahead on either side a walk in step looks for rows and entries equal again.
constexpr std::size_t kLookahead = 8;

// Scattered edits leave most lines beside their rows: walks the span's rows and entries in step,
// linking equal ones as anchors, and where they differ goes on from the nearest pair within
// kLookahead lines that is equal again. Returns the span left where it found none.
Span WalkInStep(const std::vector<RecordRow>& rows, const std::vector<TextKey>& keys, Span span, Links& links) {
  std::size_t& row = span.rowBegin;
  std::size_t& entry = span.entryBegin;
  while (row < span.rowEnd && entry < span.entryEnd) {
    if (rows[row].key == keys[entry]) {
      links.Link(row, entry), links.anchor[entry] = true, ++row, ++entry;
      continue;
    }
    bool found = false;
    for (std::size_t ahead = 1; ahead <= kLookahead && !found; ++ahead)
      for (std::size_t r = 0; r <= ahead && !found; ++r)
        if (row + r < span.rowEnd && entry + ahead - r < span.entryEnd && rows[row + r].key == keys[entry + ahead - r])
          row += r, entry += ahead - r, found = true;
    if (!found) break;
  }
  return span;
}

// Lines moved out of or into the stretch a walk passed (where a walk skips a line, it does not
// see where it went): a free entry anywhere in span takes a free row of walked with its key, and
// a free entry of walked a free row anywhere in span.
void LinkMovedAcross(const std::vector<RecordRow>& rows, const std::vector<TextKey>& keys, const Span& span,
                     const Span& walked, Links& links) {
  const auto less = [](const std::pair<TextKey, Index>& a, const std::pair<TextKey, Index>& b) {
    return std::tie(a.first.low, a.first.high, a.second) < std::tie(b.first.low, b.first.high, b.second);
  };
  for (const bool byRows : {true, false}) {
    std::vector<std::pair<TextKey, Index>> walkedFree;  // (key, row or entry) still free in walked
    for (std::size_t i = byRows ? walked.rowBegin : walked.entryBegin; i < (byRows ? walked.rowEnd : walked.entryEnd); ++i)
      if ((byRows ? links.entryOfRow[i] : links.rowOfEntry[i]) == kNone)
        walkedFree.emplace_back(byRows ? rows[i].key : keys[i], static_cast<Index>(i));
    if (walkedFree.empty()) continue;
    std::sort(walkedFree.begin(), walkedFree.end(), less);
    for (std::size_t i = byRows ? span.entryBegin : span.rowBegin; i < (byRows ? span.entryEnd : span.rowEnd); ++i) {
      if ((byRows ? links.rowOfEntry[i] : links.entryOfRow[i]) != kNone) continue;
      const TextKey& key = byRows ? keys[i] : rows[i].key;
      auto it = std::lower_bound(walkedFree.begin(), walkedFree.end(), std::pair{key, Index{0}}, less);
      for (; it != walkedFree.end() && it->first == key; ++it) {
        if ((byRows ? links.entryOfRow[it->second] : links.rowOfEntry[it->second]) != kNone) continue;
        byRows ? links.Link(it->second, i) : links.Link(i, it->second);
        break;
      }
    }
  }
}

// Hints of the texts the free rows hold now: (ask, answer) per free row, zero for a row gone.
std::vector<std::pair<std::uint64_t, std::uint64_t>> ReadHints(Engine& engine, const std::vector<RecordRow>& rows,
                                                                const std::vector<Index>& freeRows) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> hints(freeRows.size());
  std::size_t at = 0;
  engine.ReadRows({rows[freeRows.front()].id, rows[freeRows.back()].id},
                  [&](std::int64_t id, std::u16string_view ask, std::u16string_view answer) {
                    while (at < freeRows.size() && rows[freeRows[at]].id < id) ++at;
                    if (at < freeRows.size() && rows[freeRows[at]].id == id) hints[at] = {HintOf(ask), HintOf(answer)};
                  });
  return hints;
}

// Pairs a gap's free entries with its free rows that hold their question, then their answer.
void PairByTexts(Engine& engine, const std::vector<RecordRow>& rows, const Lines& lines,
                 const std::vector<Index>& freeRows, const std::vector<Index>& freeEntries, Links& links) {
  const auto hints = ReadHints(engine, rows, freeRows);
  for (const bool byAsk : {true, false}) {
    std::vector<std::pair<std::uint64_t, Index>> byHint;  // (hint, place in freeRows)
    for (Index i = 0; i < freeRows.size(); ++i)
      if (links.entryOfRow[freeRows[i]] == kNone) byHint.emplace_back(byAsk ? hints[i].first : hints[i].second, i);
    std::sort(byHint.begin(), byHint.end());
    for (const Index entry : freeEntries) {
      if (links.rowOfEntry[entry] != kNone) continue;
      const ReplyEntryView texts = Parsed(lines[entry]);
      const std::uint64_t hint = HintOf(byAsk ? texts.ask : texts.answer);
      auto it = std::lower_bound(byHint.begin(), byHint.end(), std::pair{hint, Index{0}});
      while (it != byHint.end() && it->first == hint && links.entryOfRow[freeRows[it->second]] != kNone) ++it;
      if (it != byHint.end() && it->first == hint) links.Link(freeRows[it->second], entry);
    }
  }
}

// Pairs the free entries still free in order: each takes the next free row after the row of the
// entry paired before it, and before the row of the next entry paired.
void PairInOrder(const std::vector<Index>& freeRows, const std::vector<Index>& freeEntries, Links& links) {
  const auto placeOf = [&](Index row) {
    return static_cast<std::size_t>(std::lower_bound(freeRows.begin(), freeRows.end(), row) - freeRows.begin());
  };
  std::vector<std::size_t> upper(freeEntries.size() + 1, freeRows.size());  // by the first paired entry from here
  for (std::size_t i = freeEntries.size(); i-- > 0;) {
    const Index row = links.rowOfEntry[freeEntries[i]];
    upper[i] = row != kNone ? placeOf(row) : upper[i + 1];
  }
  std::size_t lower = 0;
  for (std::size_t i = 0; i < freeEntries.size(); ++i) {
    const Index row = links.rowOfEntry[freeEntries[i]];
    if (row != kNone) {
      lower = std::max(lower, placeOf(row) + 1);
      continue;
    }
    while (lower < upper[i] && links.entryOfRow[freeRows[lower]] != kNone) ++lower;
    if (lower < upper[i]) links.Link(freeRows[lower++], freeEntries[i]);
  }
}

// Pairs the free rows and entries between each two anchors: lines edited in place. As many of
// each pair in order, with no read; otherwise by their texts.
void PairGaps(Engine& engine, const std::vector<RecordRow>& rows, const Lines& lines, Links& links) {
  std::vector<Index> freeRows, freeEntries;
  std::size_t row = 0, entry = 0;  // where the gap begins
  for (std::size_t next = 0; next <= lines.size(); ++next) {
    if (next < lines.size() && !links.anchor[next]) continue;
    const std::size_t rowEnd = next < lines.size() ? links.rowOfEntry[next] : rows.size();
    freeRows.clear(), freeEntries.clear();
    for (std::size_t r = row; r < rowEnd; ++r)
      if (links.entryOfRow[r] == kNone) freeRows.push_back(static_cast<Index>(r));
    for (std::size_t e = entry; e < next; ++e)
      if (links.rowOfEntry[e] == kNone) freeEntries.push_back(static_cast<Index>(e));
    if (freeRows.size() == freeEntries.size()) {
      for (std::size_t i = 0; i < freeRows.size(); ++i) links.Link(freeRows[i], freeEntries[i]);
    } else if (!freeRows.empty() && !freeEntries.empty()) {
      PairByTexts(engine, rows, lines, freeRows, freeEntries, links);
      PairInOrder(freeRows, freeEntries, links);
    }
    row = rowEnd + 1, entry = next + 1;
  }
}

Links LinkEntries(Engine& engine, const std::vector<RecordRow>& rows, const Lines& lines,
                  const std::vector<TextKey>& keys) {
  Links links(rows.size(), lines.size());
  std::size_t head = 0, tail = 0;
  while (head < rows.size() && head < keys.size() && rows[head].key == keys[head])
    links.Link(head, head), links.anchor[head] = true, ++head;
  while (tail < rows.size() - head && tail < keys.size() - head &&
         rows[rows.size() - 1 - tail].key == keys[keys.size() - 1 - tail]) {
    links.Link(rows.size() - 1 - tail, keys.size() - 1 - tail), links.anchor[keys.size() - 1 - tail] = true, ++tail;
  }
  const Span middle{head, rows.size() - tail, head, keys.size() - tail};
  const Span left = WalkInStep(rows, keys, middle, links);
  if (left.rowBegin < left.rowEnd && left.entryBegin < left.entryEnd) LinkByKeys(rows, keys, left, links);
  LinkMovedAcross(rows, keys, middle, {middle.rowBegin, left.rowBegin, middle.entryBegin, left.entryBegin}, links);
  PairGaps(engine, rows, lines, links);
  return links;
}

// ---- The three ways merged ----

// The key of a row's stored line, which another program's reads are compared with.
const TextKey& StoredKey(const Record& record, std::size_t row) {
  const auto& stored = record.stored;
  const auto it = std::lower_bound(stored.begin(), stored.end(), row, [](const auto& s, std::size_t r) { return s.first < r; });
  return it != stored.end() && it->first == row ? it->second : record.rows[row].key;
}

// One row of the table as saved that holds an accepted line: its record row (kNone: a new row).
struct Item {
  Index entry, row;
  std::uint8_t flags;
};
constexpr std::uint8_t kWrite = 1;     // the line's entry is written
constexpr std::uint8_t kTheirKey = 2;  // the row keeps texts another program wrote

struct Merge {
  const Record& record;
  const std::vector<RecordRow>& rows;  // the record's
  const std::vector<TextKey>& keys;    // of the lines
  const TableChanges& table;
  Resolution resolution;
  std::vector<Item> items;
  std::vector<RecordRow> pinned;  // rows of other programs' that keep their ids, by id
  SavePlan& plan;

  TableChanges::Status StatusOf(std::size_t row) const { return table.status.empty() ? TableChanges::Same : table.status[row]; }
  const TextKey& TheirKey(std::size_t row) const {
    return std::lower_bound(table.edited.begin(), table.edited.end(), row, [](const auto& e, std::size_t r) { return e.first < r; })->second;
  }
  void Entry(std::size_t entry, Index row);
  void RowLeftOut(std::size_t row);
  // The rows other programs added keep their ids among the pinned ones.
  void AddRowsAdded() {
    plan.keepsTheirs |= !table.added.empty();
    pinned.insert(pinned.end(), table.added.begin(), table.added.end());
    std::inplace_merge(pinned.begin(), pinned.end() - static_cast<std::ptrdiff_t>(table.added.size()), pinned.end(),
                       [](const RecordRow& a, const RecordRow& b) { return a.id < b.id; });
  }
};

// A line is the operator's change only where its units differ from the line the box was given
// for its row; only then is it written.
void Merge::Entry(std::size_t entry, Index row) {
  const auto e = static_cast<Index>(entry);
  if (row == kNone) return items.push_back({e, kNone, kWrite});
  const bool mine = keys[entry] != rows[row].key;
  switch (StatusOf(row)) {
    case TableChanges::Same:
      return items.push_back({e, row, mine ? kWrite : std::uint8_t{0}});
    case TableChanges::Edited: {
      const bool differ = keys[entry] != TheirKey(row);
      if (mine && differ) plan.conflicts.push_back({rows[row].id, entry, TheirKey(row)});
      const bool keepMine = mine && differ && resolution == Resolution::Mine;
      plan.keepsTheirs |= differ && !keepMine;
      return items.push_back({e, row, keepMine ? kWrite : kTheirKey});
    }
    case TableChanges::Deleted:
      if (mine) plan.conflicts.push_back({rows[row].id, entry, std::nullopt});
      if (mine && resolution == Resolution::Mine) return items.push_back({e, kNone, kWrite});
      plan.keepsTheirs = true;  // the line goes with its row
  }
}

void Merge::RowLeftOut(std::size_t row) {
  switch (StatusOf(row)) {
    case TableChanges::Same:
      return plan.changes.deletes.push_back(rows[row].id);
    case TableChanges::Edited:
      plan.conflicts.push_back({rows[row].id, Conflict::kDeleted, TheirKey(row)});
      if (resolution == Resolution::Mine) return plan.changes.deletes.push_back(rows[row].id);
      plan.keepsTheirs = true;
      return pinned.push_back({rows[row].id, TheirKey(row)});
    case TableChanges::Deleted:
      return;
  }
}

// ---- Ids: rows keep theirs where order allows, the others take free ones between ----

// The free ids in order, numbered from 0: every id but those of the pinned rows.
class FreeIds {
 public:
  explicit FreeIds(const std::vector<RecordRow>& pinned) : pinned_(pinned) {}
  // The number of free ids below id.
  std::uint64_t Below(std::int64_t id) const {
    const auto pinnedBelow = std::lower_bound(pinned_.begin(), pinned_.end(), id, [](const RecordRow& p, std::int64_t i) { return p.id < i; });
    return Unsigned(id) - static_cast<std::uint64_t>(pinnedBelow - pinned_.begin());
  }
  std::uint64_t Last() const { return std::numeric_limits<std::uint64_t>::max() - pinned_.size(); }

 private:
  const std::vector<RecordRow>& pinned_;
};

// The largest set of items whose rows can keep their ids: those whose number of free ids below,
// less their place, never decreases leave room for every item between them; and each leaves
// room for the items before and after it.
std::vector<bool> RowsKeepingIds(const std::vector<RecordRow>& rows, const std::vector<Item>& items, const FreeIds& free) {
  const std::size_t n = items.size();
  const auto value = [&](std::size_t k) { return free.Below(rows[items[k].row].id) - k; };
  const auto takes = [&](std::size_t k) {
    if (items[k].row == kNone) return false;
    const std::uint64_t below = free.Below(rows[items[k].row].id);
    return below >= k && below - k <= free.Last() - (n - 1);
  };
  return LongestRun(n, false, takes, value);
}

// The id of each item: kept rows keep theirs; the others take the free ids counting down from
// the first kept row, or up from the item before. With no row kept, ids start at 1.
std::vector<std::int64_t> AssignIds(const std::vector<RecordRow>& rows, const std::vector<Item>& items,
                                    const std::vector<RecordRow>& pinned) {
  const FreeIds free(pinned);
  const std::vector<bool> keeps = RowsKeepingIds(rows, items, free);
  const std::size_t n = items.size(), first = static_cast<std::size_t>(std::find(keeps.begin(), keeps.end(), true) - keeps.begin());
  if (n == 0) return {};
  if (n - 1 > free.Last()) NoFreeIds();
  std::uint64_t slot = first < n ? free.Below(rows[items[first].row].id) - first : std::min(free.Below(1), free.Last() - (n - 1));
  std::vector<std::int64_t> ids(n);
  std::size_t pinnedBelow = 0;
  for (std::size_t k = 0; k < n; ++k, ++slot) {
    if (keeps[k]) slot = free.Below(rows[items[k].row].id);
    // The slot-th free id: past as many pinned ids as lie at or below it.
    while (pinnedBelow < pinned.size() && Unsigned(pinned[pinnedBelow].id) <= slot + pinnedBelow) ++pinnedBelow;
    ids[k] = Signed(slot + pinnedBelow);
  }
  return ids;
}

// An id no row has now or after the save, for a move that must wait for its own target.
std::int64_t SpareId(const std::vector<RecordRow>& rows, const TableChanges& table, const std::vector<std::int64_t>& ids,
                     const std::vector<RecordRow>& pinned) {
  // As unsigned numbers in the same order, so that no step past either end overflows.
  std::vector<std::uint64_t> used;
  used.reserve(ids.size() + rows.size() + table.added.size() + pinned.size());
  for (const std::int64_t id : ids) used.push_back(Unsigned(id));
  for (const auto* list : {&rows, &table.added, &pinned})
    for (const RecordRow& row : *list) used.push_back(Unsigned(row.id));
  std::sort(used.begin(), used.end());
  // Next to the ids in use, nearest to them first (a Jet id must stay within 32 bits).
  if (used.front() != 0) return Signed(used.front() - 1);
  if (used.back() != std::numeric_limits<std::uint64_t>::max()) return Signed(used.back() + 1);
  for (std::size_t i = 1; i < used.size(); ++i)
    if (used[i] - used[i - 1] > 1) return Signed(used[i - 1] + 1);
  NoFreeIds();
}

// Orders moves so that each target is free when its move runs: a move waits for the move out of
// its target. Where moves wait on each other in a cycle, one goes by way of a spare id.
std::vector<std::pair<std::int64_t, std::int64_t>> OrderMoves(const std::vector<std::pair<std::int64_t, std::int64_t>>& moves,
                                                                const std::function<std::int64_t()>& spareId) {
  std::unordered_map<std::int64_t, std::size_t> moveOutOf;  // by source id
  for (std::size_t i = 0; i < moves.size(); ++i) moveOutOf.emplace(moves[i].first, i);
  std::vector<std::uint8_t> state(moves.size());  // 0 waiting, 1 on the chain, 2 ordered
  std::vector<std::pair<std::int64_t, std::int64_t>> ordered;
  std::optional<std::int64_t> spare;
  std::vector<std::size_t> chain;
  for (std::size_t start = 0; start < moves.size(); ++start) {
    chain.clear();
    std::size_t cycle = kNone;  // where the chain comes back to itself
    for (std::size_t at = start; state[at] == 0;) {
      state[at] = 1, chain.push_back(at);
      const auto next = moveOutOf.find(moves[at].second);
      if (next == moveOutOf.end() || state[next->second] == 2) break;
      if (state[next->second] == 1) cycle = next->second;
      at = next->second;
    }
    std::size_t stop = 0;  // chain[stop..] run last first
    if (cycle != kNone) {
      stop = static_cast<std::size_t>(std::find(chain.begin(), chain.end(), cycle) - chain.begin());
      if (!spare) spare = spareId();
      ordered.emplace_back(moves[cycle].first, *spare);
    }
    for (std::size_t i = chain.size(); i-- > stop + (cycle != kNone);) ordered.push_back(moves[chain[i]]);
    if (cycle != kNone) ordered.emplace_back(*spare, moves[cycle].second);
    for (std::size_t i = stop; i-- > 0;) ordered.push_back(moves[chain[i]]);
    for (const std::size_t i : chain) state[i] = 2;
  }
  return ordered;
}

}  // namespace

TableChanges CompareTable(Engine& engine, const Record& record) {
  TableChanges table;
  if (record.version && engine.Version() == record.version) return table;
  const std::vector<RecordRow>& rows = record.rows;
  table.status.assign(rows.size(), TableChanges::Deleted);
  std::size_t row = 0;
  bool same = true;
  engine.ReadRows({}, [&](std::int64_t id, std::u16string_view ask, std::u16string_view answer) {
    for (; row < rows.size() && rows[row].id < id; ++row) same = false;
    const TextKey key = LineKey(ask, answer);
    if (row < rows.size() && rows[row].id == id && key == StoredKey(record, row)) {
      table.status[row++] = TableChanges::Same;
      return;
    }
    if (row < rows.size() && rows[row].id == id) {
      table.status[row] = TableChanges::Edited, table.edited.emplace_back(row++, key), same = false;
    } else {
      table.added.push_back({id, key});
    }
    table.texts.emplace(id, std::pair{std::u16string(ask), std::u16string(answer)});
  });
  if (same && row == rows.size()) table.status.clear();
  return table;
}

namespace {

// Calls visit(k, nullptr) for each item k and visit(kNone, &row) for each pinned row, in the
// order of their ids: the table as saved.
template <typename Visit>
void ForEachSavedRow(const Merge& merge, const std::vector<std::int64_t>& ids, const Visit& visit) {
  auto pinned = merge.pinned.begin();
  for (std::size_t k = 0; k <= merge.items.size(); ++k) {
    for (; pinned != merge.pinned.end() && (k == merge.items.size() || pinned->id < ids[k]); ++pinned) visit(kNone, &*pinned);
    if (k < merge.items.size()) visit(k, nullptr);
  }
}

// Whether piece b begins just after a, past the CR LF that ends a's last line.
bool Follows(std::u16string_view a, std::u16string_view b) {
  const auto at = [](std::u16string_view text) { return reinterpret_cast<std::uintptr_t>(text.data()); };
  return at(b) == at(a) + (a.size() + replytext::LineBreak.size()) * sizeof(char16_t);
}

// The table as saved as runs of what the box is to show: a line the operator left as the box had
// it, as it stands; one written, as stored (trimmed); the texts another program wrote. Lines
// that follow each other in the text make one run.
void ShowSaved(const Merge& merge, const Lines& lines, const std::vector<std::int64_t>& ids) {
  std::vector<ShownRun>& runs = merge.plan.shown.emplace();
  ForEachSavedRow(merge, ids, [&](std::size_t k, const RecordRow* pinned) {
    const Item* item = pinned ? nullptr : &merge.items[k];
    if (!item || item->flags & kTheirKey) return runs.push_back({{}, item ? merge.rows[item->row].id : pinned->id});
    const bool asStored = item->flags & kWrite || StoredKey(merge.record, item->row) != merge.rows[item->row].key;
    const std::u16string_view piece = asStored ? StoredLine(lines[item->entry]) : lines[item->entry];
    ShownRun* last = runs.empty() || runs.back().theirs ? nullptr : &runs.back();
    if (!last || !Follows(last->piece, piece)) return runs.push_back({piece, std::nullopt});
    last->piece = {last->piece.data(), last->piece.size() + replytext::LineBreak.size() + piece.size()};
  });
}

// The keys of an item's row as saved: of the line the box shows for it, and of its stored line.
std::pair<TextKey, TextKey> SavedKeys(const Merge& merge, const Lines& lines, const Item& item) {
  if (item.flags & kTheirKey) return {merge.TheirKey(item.row), merge.TheirKey(item.row)};
  const bool madeAnew = merge.plan.keepsTheirs;  // the box then shows every row as stored
  if (item.flags & kWrite) {
    // A line written with spaces around it is stored trimmed, while the box keeps the spaces.
    const std::u16string_view line = StoredLine(lines[item.entry]);
    const TextKey stored = line.size() != lines[item.entry].size() ? LineKey(line) : merge.keys[item.entry];
    return {madeAnew ? stored : merge.keys[item.entry], stored};
  }
  const TextKey& stored = StoredKey(merge.record, item.row);
  return {madeAnew ? stored : merge.rows[item.row].key, stored};
}

// The writes that give each item its id, and the record of the table as saved.
void WriteItems(const Merge& merge, const Lines& lines, const std::vector<std::int64_t>& ids, std::size_t follow,
                std::vector<std::pair<std::int64_t, std::int64_t>>& moves) {
  SavePlan& plan = merge.plan;
  Record& saved = plan.saved;
  saved.rows.reserve(merge.items.size() + merge.pinned.size());
  // Room for the writes at once: grown row by row, a million of them would be copied over and over.
  const auto writes = std::count_if(merge.items.begin(), merge.items.end(), [](const Item& i) { return i.flags & kWrite; });
  const auto inserts = std::count_if(merge.items.begin(), merge.items.end(), [](const Item& i) { return i.row == kNone; });
  plan.changes.inserts.reserve(static_cast<std::size_t>(inserts));
  plan.changes.updates.reserve(static_cast<std::size_t>(writes - inserts));
  bool followed = false;
  // After the other program's versions were chosen, the caret goes to the first of them.
  std::unordered_set<std::int64_t> theirs;
  if (merge.resolution == Resolution::Theirs)
    for (const Conflict& conflict : plan.conflicts) theirs.insert(conflict.id);
  const auto showsTheirs = [&](std::int64_t id) {
    if (!plan.firstTheirs && theirs.count(id)) plan.firstTheirs = saved.rows.size();
  };
  ForEachSavedRow(merge, ids, [&](std::size_t k, const RecordRow* pinned) {
    if (pinned) return showsTheirs(pinned->id), saved.rows.push_back(*pinned);
    const Item& item = merge.items[k];
    if (item.flags & kTheirKey) showsTheirs(merge.rows[item.row].id);
    if (item.flags & kWrite) {
      const ReplyEntryView texts = Parsed(lines[item.entry]);
      (item.row == kNone ? plan.changes.inserts : plan.changes.updates).push_back({ids[k], texts.ask, texts.answer});
    }
    if (item.row != kNone && merge.rows[item.row].id != ids[k]) moves.emplace_back(merge.rows[item.row].id, ids[k]);
    if (!followed && item.entry >= follow) plan.followedLine = saved.rows.size(), followed = true;
    const auto [shown, stored] = SavedKeys(merge, lines, item);
    if (stored != shown) saved.stored.emplace_back(saved.rows.size(), stored);
    saved.rows.push_back({ids[k], shown});
  });
  if (!followed) plan.followedLine = saved.rows.empty() ? 0 : saved.rows.size() - 1;
}

}  // namespace

SavePlan PlanSave(Engine& engine, const Record& record, const Lines& lines, const TableChanges& table,
                  Resolution resolution, std::size_t follow) {
  if (lines.size() >= kNone || record.rows.size() >= kNone) NoFreeIds();
  const std::vector<RecordRow>& rows = record.rows;
  std::vector<TextKey> keys;
  keys.reserve(lines.size());
  for (const std::u16string_view line : lines) keys.push_back(LineKey(line));
  SavePlan plan;
  Merge merge{record, rows, keys, table, resolution, {}, {}, plan};
  {
    const Links links = LinkEntries(engine, rows, lines, keys);
    merge.items.reserve(lines.size());
    for (std::size_t entry = 0; entry < lines.size(); ++entry) merge.Entry(entry, links.rowOfEntry[entry]);
    for (std::size_t row = 0; row < rows.size(); ++row)
      if (links.entryOfRow[row] == kNone) merge.RowLeftOut(row);
  }
  merge.AddRowsAdded();
  const std::vector<std::int64_t> ids = AssignIds(rows, merge.items, merge.pinned);
  std::vector<std::pair<std::int64_t, std::int64_t>> moves;
  WriteItems(merge, lines, ids, follow, moves);
  if (plan.keepsTheirs) ShowSaved(merge, lines, ids);
  plan.changes.moves = OrderMoves(moves, [&] { return SpareId(rows, table, ids, merge.pinned); });
  return plan;
}

replytext::ReplyText ShownTable(const std::vector<ShownRun>& runs, const TableChanges& table) {
  const auto theirTexts = [&](const ShownRun& run) -> const auto& { return table.texts.at(*run.theirs); };
  std::size_t size = 0;
  for (const ShownRun& run : runs)
    size += run.theirs ? theirTexts(run).first.size() + replytext::ReplySeparator.size() + theirTexts(run).second.size()
                       : run.piece.size();
  replytext::ReplyText shown;
  shown.reserve(size + (runs.empty() ? 0 : (runs.size() - 1) * replytext::LineBreak.size()));
  for (const ShownRun& run : runs) {
    if (run.theirs) {
      replytext::AppendReplyLine(shown, theirTexts(run).first, theirTexts(run).second);
      continue;
    }
    if (!shown.empty()) shown.append(replytext::LineBreak);
    shown.append(run.piece);
  }
  return shown;
}

namespace {

// Runs the update of row, noting it if a unique index refuses it (the last refusal in refusal),
// and naming it in failed if it fails.
void Update(Engine& engine, const RowTexts& row, std::vector<const RowTexts*>& refused, std::optional<Error>& refusal,
            const RowTexts*& failed) {
  try {
    engine.Update(row);
  } catch (const Error& error) {
    failed = &row;
    if (error.fault() != Fault::Duplicate) throw;
    refused.push_back(&row), refusal = error;
  }
}

}  // namespace

void ApplyChanges(Engine& engine, const ChangeSet& changes, const RowTexts*& failed) {
  failed = nullptr;
  for (const std::int64_t id : changes.deletes) engine.Delete(id);
  for (const auto& [from, to] : changes.moves) engine.Move(from, to);
  // Updates a unique index refuses wait for a later pass, taken in reverse so that a chain
  // written in the wrong order goes through in one more. A pass in which none goes is a cycle:
  // one row holds texts made of its id (which no other row holds) and waits again.
  std::vector<const RowTexts*> waiting, refused;
  std::optional<Error> refusal;
  for (const RowTexts& row : changes.updates) Update(engine, row, refused, refusal, failed);
  std::vector<std::int64_t> heldAside;
  for (std::size_t tried = changes.updates.size(); !refused.empty(); tried = waiting.size()) {
    if (refused.size() == tried) {
      const auto aside = std::find_if(refused.begin(), refused.end(), [&](const RowTexts* row) {
        return std::find(heldAside.begin(), heldAside.end(), row->id) == heldAside.end();
      });
      if (aside == refused.end()) {  // the texts themselves are not unique
        failed = refused.back();
        throw *refusal;
      }
      heldAside.push_back((*aside)->id);
      const std::u16string own = PlaceholderText((*aside)->id);
      engine.Update({(*aside)->id, own, own});
    }
    waiting.assign(refused.rbegin(), refused.rend());
    refused.clear();
    for (const RowTexts* row : waiting) Update(engine, *row, refused, refusal, failed);
  }
  for (const RowTexts& row : changes.inserts) failed = &row, engine.Insert(row);
  failed = nullptr;
}

}  // namespace store
