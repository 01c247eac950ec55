#include "store/changes.h"

#include <dtl.hpp>

#include <algorithm>
#include <unordered_set>

namespace store {

namespace {

using replytext::ReplyEntryView;
using Entries = std::vector<ReplyEntryView>;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::int64_t kMinId = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMaxId = std::numeric_limits<std::int64_t>::max();
// How many entries ahead of where a row is expected the first read looks for its texts.
constexpr std::size_t kLookahead = 8;

// Compact stand-ins for a row's or an entry's texts: unequal keys mean unequal texts, while
// equal keys are confirmed by comparing the texts themselves.
struct Hashes {
  Hashes(std::u16string_view ask, std::u16string_view answer)
      : ask(std::hash<std::u16string_view>()(ask)), answer(std::hash<std::u16string_view>()(answer)) {}
  std::uint64_t ask, answer;
  std::uint64_t Key() const { return ask * 0x9E3779B97F4A7C15u ^ answer; }
};

bool Same(const ReplyEntryView& entry, std::u16string_view ask, std::u16string_view answer) {
  return entry.ask == ask && entry.answer == answer;
}

[[noreturn]] void NoFreeIds() { throw Error(Fault::OrderNotKept, 0, "no free ids keep the lines in order"); }

// The table's rows (in id order) beside the entries. A row linked to an entry is to hold it;
// an unlinked row is deleted and an unlinked entry inserted.
struct Plan {
  explicit Plan(const Entries& e) : entries(e), rowOfEntry(e.size(), kNone), rewrite(e.size()) {}
  const Entries& entries;
  std::vector<Hashes> entryKeys;
  std::vector<std::int64_t> ids;       // every row's id
  std::vector<Hashes> rowKeys;         // the keys of the rows after the head
  std::vector<std::size_t> sameAs;     // per row after the head: an entry found equal to it, if any
  std::size_t head = 0, tail = 0;      // rows equal to the first and to the last entries
  std::vector<std::size_t> entryOfRow, rowOfEntry;
  std::vector<bool> rewrite;           // per entry: its row's texts differ from it

  std::size_t Rows() const { return ids.size(); }
  // The entries' keys, made when the first row differs: an unchanged table needs none.
  void HashEntries() {
    if (!entryKeys.empty() || entries.empty()) return;
    entryKeys.reserve(entries.size());
    for (const ReplyEntryView& entry : entries) entryKeys.emplace_back(entry.ask, entry.answer);
  }
  void Link(std::size_t row, std::size_t entry) { entryOfRow[row] = entry, rowOfEntry[entry] = row; }
};

// One pass over the whole table: the ids, the rows equal to the first entries, and the keys of
// the rest. Rows mostly stay beside their entries, so a row equal to one of the next few entries
// is noted as such, which spares reading it again to confirm the diff.
void ReadTable(Engine& engine, Plan& plan) {
  const std::size_t n = plan.entries.size();
  std::size_t next = 0;  // the entry the next row is expected to hold
  engine.ReadRows({}, [&](std::int64_t id, std::u16string_view ask, std::u16string_view answer) {
    const std::size_t row = plan.ids.size();
    plan.ids.push_back(id);
    if (row == plan.head && row < n && Same(plan.entries[row], ask, answer)) return void(next = ++plan.head);
    plan.HashEntries();
    const std::uint64_t key = plan.rowKeys.emplace_back(ask, answer).Key();
    plan.sameAs.push_back(kNone);
    for (std::size_t e = next; e < std::min(n, next + kLookahead); ++e) {
      if (plan.entryKeys[e].Key() == key && Same(plan.entries[e], ask, answer)) {
        plan.sameAs.back() = e, next = e + 1;
        break;
      }
    }
  });
  plan.entryOfRow.assign(plan.Rows(), kNone);
  for (std::size_t i = 0; i < plan.head; ++i) plan.Link(i, i);
}

// Links the rows and entries the diff left over: a line moved anywhere keeps its row; a line
// edited in place takes a row of its stretch between common lines that had its question, or its
// answer, or else the next one in order.
void LinkLeftovers(Plan& plan, const std::vector<std::pair<std::size_t, std::size_t>>& deleted,
                   const std::vector<std::pair<std::size_t, std::size_t>>& added) {
  using Key = std::pair<std::size_t, std::uint64_t>;  // (stretch or 0, hash)
  const auto linkBy = [&](const auto& keyOf) {
    std::vector<std::pair<Key, std::size_t>> rows;  // the unlinked deleted rows by key
    for (const auto& [stretch, row] : deleted)
      if (plan.entryOfRow[row] == kNone) rows.emplace_back(keyOf(stretch, plan.rowKeys[row - plan.head]), row);
    std::sort(rows.begin(), rows.end());
    for (const auto& [stretch, entry] : added) {
      if (plan.rowOfEntry[entry] != kNone) continue;
      const Key key = keyOf(stretch, plan.entryKeys[entry]);
      auto it = std::lower_bound(rows.begin(), rows.end(), std::pair{key, std::size_t{0}});
      while (it != rows.end() && it->first == key && plan.entryOfRow[it->second] != kNone) ++it;
      if (it != rows.end() && it->first == key) plan.Link(it->second, entry);
    }
  };
  linkBy([](std::size_t, const Hashes& h) { return Key{0, h.Key()}; });
  linkBy([](std::size_t stretch, const Hashes& h) { return Key{stretch, h.ask}; });
  linkBy([](std::size_t stretch, const Hashes& h) { return Key{stretch, h.answer}; });
  auto row = deleted.begin(), entry = added.begin();
  while (row != deleted.end() && entry != added.end()) {
    if (plan.entryOfRow[row->second] != kNone || row->first < entry->first) {
      ++row;
    } else if (plan.rowOfEntry[entry->second] != kNone || entry->first < row->first) {
      ++entry;
    } else {
      plan.Link((row++)->second, (entry++)->second);
    }
  }
}

// Rows at the end that the first read found equal to the last entries, in order, need no diff.
void TrimTail(Plan& plan) {
  std::size_t row = plan.Rows(), entry = plan.entries.size();
  while (row > plan.head && entry > plan.head && plan.sameAs[row - 1 - plan.head] == entry - 1)
    plan.Link(--row, --entry), ++plan.tail;
}

// Diffs the keys of the rows and entries between head and tail.
void MatchMiddle(Plan& plan) {
  const std::size_t head = plan.head;
  std::vector<std::uint64_t> rows, entries;
  for (std::size_t r = head; r < plan.Rows() - plan.tail; ++r) rows.push_back(plan.rowKeys[r - head].Key());
  for (std::size_t e = head; e < plan.entries.size() - plan.tail; ++e) entries.push_back(plan.entryKeys[e].Key());
  std::vector<std::pair<std::size_t, std::size_t>> deleted, added;  // (stretch, row or entry)
  dtl::Diff<std::uint64_t> diff(rows, entries);
  // Bounds the work: past dtl's own limit on the path, the rest is left as deletes and adds.
  diff.onUnserious();
  diff.compose();
  std::size_t stretch = 0;  // how many common lines came before
  for (const auto& [key, info] : diff.getSes().getSequence()) {
    const auto before = head + static_cast<std::size_t>(info.beforeIdx) - 1;
    if (info.type == dtl::SES_COMMON) {
      plan.Link(before, head + static_cast<std::size_t>(info.afterIdx) - 1), ++stretch;
    } else if (info.type == dtl::SES_DELETE) {
      deleted.emplace_back(stretch, before);
    } else {
      // An add that dtl's limit cut off carries its index in beforeIdx.
      added.emplace_back(stretch, info.afterIdx ? head + static_cast<std::size_t>(info.afterIdx) - 1 : before);
    }
  }
  LinkLeftovers(plan, deleted, added);
}

// Marks the entries whose linked middle row holds other texts: at once where the keys differ or
// the first read found them equal, by reading the row again where only the keys are equal.
void ConfirmMiddle(Engine& engine, Plan& plan) {
  std::size_t first = kNone, last = 0;
  for (std::size_t row = plan.head; row < plan.Rows() - plan.tail; ++row) {
    const std::size_t entry = plan.entryOfRow[row];
    if (entry == kNone) continue;
    plan.rewrite[entry] = plan.rowKeys[row - plan.head].Key() != plan.entryKeys[entry].Key();
    if (!plan.rewrite[entry] && plan.sameAs[row - plan.head] != entry) first = std::min(first, row), last = row;
  }
  if (first == kNone) return;
  std::size_t row = first;
  engine.ReadRows({plan.ids[first], plan.ids[last]},
                  [&](std::int64_t, std::u16string_view ask, std::u16string_view answer) {
                    const std::size_t entry = plan.entryOfRow[row++];
                    if (entry != kNone && !plan.rewrite[entry]) plan.rewrite[entry] = !Same(plan.entries[entry], ask, answer);
                  });
}

// The largest set of linked rows that can keep their ids: rows whose id minus their new
// position never decreases leave room for every entry between them. Returns a mark per entry.
std::vector<bool> RowsKeepingIds(const Plan& plan) {
  const std::size_t n = plan.entries.size();
  const auto value = [&](std::size_t entry) { return plan.ids[plan.rowOfEntry[entry]] - static_cast<std::int64_t>(entry); };
  std::vector<std::size_t> ends, previous(n, kNone);  // ends[k]: last entry of the best run of length k + 1
  for (std::size_t entry = 0; entry < n; ++entry) {
    const std::size_t row = plan.rowOfEntry[entry];
    if (row == kNone || plan.ids[row] <= kMinId + static_cast<std::int64_t>(entry)) continue;
    const std::int64_t v = value(entry);
    // Most rows keep their order, and so lengthen the longest run: no search for those.
    const auto it = !ends.empty() && v < value(ends.back())
                        ? std::upper_bound(ends.begin(), ends.end(), v, [&](std::int64_t x, std::size_t e) { return x < value(e); })
                        : ends.end();
    if (it != ends.begin()) previous[entry] = *(it - 1);
    if (it == ends.end()) ends.push_back(entry); else *it = entry;
  }
  std::vector<bool> keeps(n);
  for (std::size_t entry = ends.empty() ? kNone : ends.back(); entry != kNone; entry = previous[entry]) keeps[entry] = true;
  return keeps;
}

// The id of each entry's row: kept rows keep theirs; the others count down from the first kept
// row, or up from the one before them. With no row kept, ids start at 1.
std::vector<std::int64_t> AssignIds(const Plan& plan) {
  const std::vector<bool> keeps = RowsKeepingIds(plan);
  const std::size_t n = plan.entries.size();
  const std::size_t first = static_cast<std::size_t>(std::find(keeps.begin(), keeps.end(), true) - keeps.begin());
  std::vector<std::int64_t> ids(n);
  std::int64_t last = first < n ? plan.ids[plan.rowOfEntry[first]] - static_cast<std::int64_t>(first) - 1 : 0;
  for (std::size_t entry = 0; entry < n; ++entry) {
    if (keeps[entry]) {
      last = plan.ids[plan.rowOfEntry[entry]];
    } else if (last == kMaxId) {
      NoFreeIds();
    } else {
      ++last;
    }
    ids[entry] = last;
  }
  return ids;
}

// Moves whose target is another moving row's id go by way of free ids below every id.
void OrderMoves(std::vector<std::pair<std::int64_t, std::int64_t>>& moves, std::int64_t lowest) {
  std::unordered_set<std::int64_t> sources;
  for (const auto& move : moves) sources.insert(move.first);
  if (std::none_of(moves.begin(), moves.end(), [&](const auto& move) { return sources.count(move.second); })) return;
  const std::int64_t below = std::min<std::int64_t>(lowest, 0);
  if (below - kMinId <= static_cast<std::int64_t>(moves.size())) NoFreeIds();
  for (std::size_t i = 0, count = moves.size(); i < count; ++i) {
    const std::int64_t free = below - 1 - static_cast<std::int64_t>(i);
    moves.emplace_back(free, std::exchange(moves[i].second, free));
  }
}

ChangeSet Changes(const Plan& plan) {
  const std::vector<std::int64_t> ids = AssignIds(plan);
  ChangeSet changes;
  for (std::size_t row = 0; row < plan.Rows(); ++row)
    if (plan.entryOfRow[row] == kNone) changes.deletes.push_back(plan.ids[row]);
  std::int64_t lowest = kMaxId;
  for (std::size_t entry = 0; entry < plan.entries.size(); ++entry) {
    const ReplyEntryView& texts = plan.entries[entry];
    const std::size_t row = plan.rowOfEntry[entry];
    if (row == kNone) {
      changes.inserts.push_back({ids[entry], texts.ask, texts.answer});
    } else {
      if (plan.ids[row] != ids[entry]) changes.moves.emplace_back(plan.ids[row], ids[entry]);
      if (plan.rewrite[entry]) changes.updates.push_back({ids[entry], texts.ask, texts.answer});
      lowest = std::min({lowest, plan.ids[row], ids[entry]});
    }
  }
  OrderMoves(changes.moves, lowest);
  return changes;
}

}  // namespace

ChangeSet PlanChanges(Engine& engine, const Entries& entries) {
  Plan plan(entries);
  ReadTable(engine, plan);
  if (plan.head == plan.Rows() && plan.head == entries.size()) return {};
  plan.HashEntries();
  TrimTail(plan);
  MatchMiddle(plan);
  ConfirmMiddle(engine, plan);
  return Changes(plan);
}

}  // namespace store
