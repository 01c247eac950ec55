// Saves of generated tables and edits, checked against what a save promises. The seed and the
// number of cases come from RC_PARAMS (set by CTest), so that a run can be repeated.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <limits>
#include <set>

#include "store/common.h"
#include "tests/support/testdb.h"

using namespace testsupport;

namespace {

struct Line {
  std::string ask, answer;
  bool operator==(const Line& other) const { return ask == other.ask && answer == other.answer; }
};

// Ids with gaps of 1 up to `gap`, from 1, from the lowest id, up to the highest, or across 0.
std::vector<std::int64_t> GeneratedIds(std::size_t count) {
  const auto gap = *rc::gen::element<std::int64_t>(1, 1, 3, 1000);
  const auto span = static_cast<std::int64_t>(count) * gap;
  const std::int64_t first = *rc::gen::element<std::int64_t>(1, std::numeric_limits<std::int64_t>::min(),
                                                               std::numeric_limits<std::int64_t>::max() - span, -span / 2);
  std::vector<std::int64_t> ids;
  for (std::int64_t id = first; ids.size() < count; id += *rc::gen::inRange<std::int64_t>(1, gap + 1)) ids.push_back(id);
  return ids;
}

// The operator's edits: each of a few kinds, at generated places. Fresh questions never repeat.
std::vector<Line> Edited(std::vector<Line> lines) {
  int fresh = 0;
  const auto freshLine = [&] { return Line{"n" + std::to_string(fresh++), *rc::gen::element<std::string>("1", "2", "9")}; };
  const auto place = [&](std::size_t extra) { return *rc::gen::inRange<std::size_t>(0, lines.size() + extra); };
  for (int edits = *rc::gen::inRange(0, 4); edits > 0; --edits) {
    const int kind = *rc::gen::inRange(0, 8);
    if (lines.empty() && kind != 1 && kind != 7) continue;
    const auto at = [&](std::size_t i) { return lines.begin() + static_cast<std::ptrdiff_t>(i); };
    switch (kind) {
      case 0: lines[place(0)].answer += "!"; break;                                   // an answer edited
      case 1: lines.insert(at(place(1)), freshLine()); break;                          // a line added
      case 2: lines.erase(at(place(0))); break;                                        // a line deleted
      case 3: { const Line moved = lines[place(0)]; lines.erase(std::find(lines.begin(), lines.end(), moved));
                lines.insert(at(place(1)), moved); break; }                            // a line moved
      case 4: std::swap(lines[place(0)].ask, lines[place(0)].ask); break;             // two questions swapped
      case 5: lines.insert(at(place(1)), lines[place(0)]); break;                      // a line duplicated
      case 6: std::reverse(lines.begin(), lines.end()); break;
      case 7: for (Line& line : lines) line = freshLine(); break;                      // everything replaced
    }
  }
  return lines;
}

RC_GTEST_PROP(SaveProperty, StoresTheLinesInOrderAndTouchesNoOtherRow, ()) {
  const auto count = *rc::gen::inRange<std::size_t>(0, 24);
  const bool uniqueAsks = *rc::gen::arbitrary<bool>();
  const std::vector<std::int64_t> ids = GeneratedIds(count);
  std::vector<Line> table;
  for (std::size_t i = 0; i < count; ++i)
    table.push_back({uniqueAsks ? "q" + std::to_string(i) : *rc::gen::element<std::string>("a", "b"),
                     *rc::gen::element<std::string>("1", "2")});
  const std::vector<Line> lines = Edited(table);
  std::vector<std::string> stored;  // the lines, as they are to be stored and as they are saved
  std::string text;
  std::set<std::string> asks;
  for (const Line& line : lines)
    stored.push_back(line.ask + "###" + line.answer), text += (text.empty() ? "" : "\r\n") + stored.back(), asks.insert(line.ask);

  TempDir dir;
  const fs::path file = dir.DatabaseFile();
  std::string sql = "create table zorvrobot (id integer primary key, ask text, answer text, kind text not null default 'x');"
                    "create table log (id integer); create trigger i after insert on zorvrobot begin insert into log "
                    "values (new.id); end; create trigger u after update on zorvrobot begin insert into log values "
                    "(old.id); end; create trigger d after delete on zorvrobot begin insert into log values (old.id); end;";
  if (uniqueAsks) sql += "create unique index one_ask on zorvrobot (ask);";
  for (std::size_t i = 0; i < count; ++i)
    sql += "insert into zorvrobot values (" + std::to_string(ids[i]) + ", '" + table[i].ask + "', '" + table[i].answer +
           "', 'k" + std::to_string(ids[i]) + "');";
  Sql(file, sql + "delete from log;");
  store::Common common(dir.AppPath());
  common.LoadReplyText();
  const std::string before = Sql(file, "select * from zorvrobot order by id");
  if (uniqueAsks && asks.size() < lines.size()) {
    // Only a text the index refuses fails a save, and it changes nothing.
    RC_ASSERT_THROWS_AS(common.SaveReplyText(U16(text)), store::Error);
    RC_ASSERT(Sql(file, "select * from zorvrobot order by id") == before);
    return;
  }
  common.SaveReplyText(U16(text));
  RC_ASSERT(Split(Sql(file, "select ask || '###' || answer from zorvrobot order by id")) == stored);
  std::set<std::string> written;
  for (const std::string& id : Split(Sql(file, "select id from log"))) written.insert(id);
  if (lines == table) RC_ASSERT(written.empty());
  // A row whose texts no other row had nor has keeps its own columns wherever it went, and one
  // that kept its id too was not written at all.
  for (const std::string& row : Split(Sql(file, "select id, ask, answer, kind from zorvrobot"))) {
    const std::vector<std::string> field = Split(row, '|');
    const Line texts{field[1], field[2]};
    if (std::count(table.begin(), table.end(), texts) != 1 || std::count(lines.begin(), lines.end(), texts) != 1) continue;
    const std::int64_t id = ids[static_cast<std::size_t>(std::find(table.begin(), table.end(), texts) - table.begin())];
    RC_ASSERT(field[3] == "k" + std::to_string(id));
    if (field[0] == std::to_string(id)) RC_ASSERT(written.count(field[0]) == 0u);
  }
}

}  // namespace
