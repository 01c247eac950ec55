// Saves of generated tables, edits and other programs' writes, checked against what a save
// promises. The seed and the number of cases come from RC_PARAMS (set by CTest), so that a run
// can be repeated.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "store/common.h"
#include "tests/support/testdb.h"

using namespace testsupport;

namespace {

struct Line {
  std::string ask, answer;
  std::string Joined() const { return ask + "###" + answer; }
  bool operator==(const Line& other) const { return ask == other.ask && answer == other.answer; }
};

// Ids with gaps of 1 up to `gap`, from 1, from the lowest id, up to the highest, or across 0; or
// half at each end of the range.
std::vector<std::int64_t> GeneratedIds(std::size_t count) {
  constexpr auto min = std::numeric_limits<std::int64_t>::min(), max = std::numeric_limits<std::int64_t>::max();
  std::vector<std::int64_t> ids;
  if (*rc::gen::inRange(0, 5) == 0) {
    for (std::size_t i = 0; i < count; ++i)
      ids.push_back(i < count / 2 ? min + static_cast<std::int64_t>(i) : max - static_cast<std::int64_t>(count - 1 - i));
    return ids;
  }
  const auto gap = *rc::gen::element<std::int64_t>(1, 1, 3, 1000);
  const auto span = static_cast<std::int64_t>(count) * gap;
  const std::int64_t first = *rc::gen::element<std::int64_t>(1, min, max - span, -span / 2);
  for (std::int64_t id = first; ids.size() < count; id += *rc::gen::inRange<std::int64_t>(1, gap + 1)) ids.push_back(id);
  return ids;
}

// Now and then a row whose line a save would read back otherwise: "###" or "#" ending its
// question, spaces around a text.
Line Generated(const std::string& ask, const std::string& answer) {
  const std::string odd[] = {ask + "###x", " " + ask, ask + "#", ask, ask, ask, ask};
  const int kind = *rc::gen::inRange(0, 8);
  return kind == 7 ? Line{ask, answer + " "} : Line{odd[kind], answer};
}

// The operator's edits: each of a few kinds, at generated places. Fresh questions never repeat.
std::vector<Line> Edited(std::vector<Line> lines) {
  int fresh = 0;
  const auto freshLine = [&] { return Line{"n" + std::to_string(fresh++), *rc::gen::element<std::string>("1", "2", "9")}; };
  const auto place = [&](std::size_t extra) { return *rc::gen::inRange<std::size_t>(0, lines.size() + extra); };
  for (int edits = *rc::gen::inRange(0, 4); edits > 0; --edits) {
    const int kind = *rc::gen::inRange(0, 9);
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
      case 8: lines[place(0)].ask = lines[place(0)].ask; break;                        // a question copied
    }
  }
  return lines;
}

// Another program's writes at generated rows: answers edited, rows deleted, rows added.
std::string OtherWrites(const std::vector<std::int64_t>& ids) {
  std::string sql;
  for (int n = *rc::gen::inRange(0, 4); n > 0; --n) {
    const std::string id = std::to_string(ids.empty() ? 0 : *rc::gen::elementOf(ids)), added = "o" + id + std::to_string(n);
    switch (ids.empty() ? 2 : *rc::gen::inRange(0, 3)) {
      case 0: sql += "update zorvrobot set answer = answer || '?' where id = " + id + ";"; break;
      case 1: sql += "delete from zorvrobot where id = " + id + ";"; break;
      default: sql += "insert or ignore into zorvrobot values (" + std::to_string(*rc::gen::inRange(-50, 50)) + ", '" +
                      added + "', 'z', '" + added + "');";
    }
  }
  return sql;
}

// The rows of a file by their own column (the row's identity, which moves keep): id, ask, answer.
std::map<std::string, std::vector<std::string>> RowsByKind(const fs::path& file) {
  std::map<std::string, std::vector<std::string>> rows;
  for (const std::string& row : Split(Sql(file, "select kind, id, ask, answer from zorvrobot"))) {
    std::vector<std::string> field = Split(row, '|');
    rows[field[0]].assign(field.begin() + 1, field.end());
  }
  return rows;
}

// A save of generated edits over a generated table, which another program may write to before
// the save and while the question waits (answered with the versions of one side, then the
// other's). A save that fails changes nothing; without other writers it stores the lines in
// order, each left as the box showed it keeping its row's texts and the others as a save reads
// them. A row whose line is unchanged keeps what the table held, is never written, and goes only
// where the other program deleted it. Every conflict resolved was shown as it stood: the save
// ends as the same save made with the other program's writes done first.
RC_GTEST_PROP(SaveProperty, WritesTheOperatorsChangesOnlyAndAsksAboutEveryConflictAsItStands, ()) {
  const auto count = *rc::gen::inRange<std::size_t>(0, 24);
  const bool uniqueAsks = *rc::gen::arbitrary<bool>(), otherWrites = *rc::gen::arbitrary<bool>();
  const std::vector<std::int64_t> ids = GeneratedIds(count);
  std::vector<Line> table;
  for (std::size_t i = 0; i < count; ++i)
    table.push_back(Generated(uniqueAsks ? "q" + std::to_string(i) : *rc::gen::element<std::string>("a", "b"),
                              *rc::gen::element<std::string>("1", "2")));
  const std::vector<Line> lines = Edited(table);
  std::string text, sql = "create table zorvrobot (id integer primary key, ask text, answer text, kind text not null "
                          "default 'x'); create table log (id integer); create trigger i after insert on zorvrobot "
                          "begin insert into log values (new.id); end; create trigger u after update on zorvrobot "
                          "begin insert into log values (old.id); end; create trigger d after delete on zorvrobot "
                          "begin insert into log values (old.id); end;";
  for (const Line& line : lines) text += (text.empty() ? "" : "\r\n") + line.Joined();
  if (uniqueAsks) sql += "create unique index one_ask on zorvrobot (ask);";
  for (std::size_t i = 0; i < count; ++i)
    sql += "insert into zorvrobot values (" + std::to_string(ids[i]) + ", '" + table[i].ask + "', '" + table[i].answer +
           "', 'k" + std::to_string(ids[i]) + "');";
  const std::string before = otherWrites ? OtherWrites(ids) : "";
  const std::string during = otherWrites ? (*rc::gen::arbitrary<bool>() ? before : "") + OtherWrites(ids) : "";
  const store::Resolution first = *rc::gen::element(store::Resolution::Mine, store::Resolution::Theirs);
  const auto answer = [&](std::size_t asked) { return asked == 1 ? first : store::Resolution(1 - int(first)); };

  TempDir dir;
  const fs::path file = dir.DatabaseFile();
  Sql(file, sql);
  store::Common common(dir.AppPath());
  common.LoadReplyText();
  Sql(file, before + "delete from log;");
  auto held = RowsByKind(file);  // the table as the save found it
  std::vector<std::vector<store::ShownConflict>> shown;
  std::optional<store::Error> failure;
  try {
    common.SaveReplyText(U16(text), [&](const std::vector<store::ShownConflict>& conflicts) {
      if (shown.empty() && !during.empty()) Sql(file, during + "delete from log;"), held = RowsByKind(file);
      shown.push_back(conflicts);
      return std::optional(answer(shown.size()));
    });
  } catch (const store::Error& error) {
    failure = error;
  }
  std::multiset<std::string> rowLines, stored;
  std::map<std::string, std::string> askOfLine;
  for (const Line& row : table) rowLines.insert(row.Joined()), askOfLine[row.Joined()] = row.ask;
  std::set<std::string> asks;
  std::vector<std::set<std::string>> expected;  // without other writers, each line as it may be stored
  for (const Line& line : lines) {
    const auto untouched = rowLines.find(line.Joined());
    const std::u16string units = U16(line.Joined());
    const auto parsed = *replytext::ParseReplyLine(units);
    asks.insert(untouched != rowLines.end() ? askOfLine[line.Joined()] : U8(parsed.ask));
    expected.push_back({U8(parsed.ask) + "###" + U8(parsed.answer)});
    if (askOfLine.count(line.Joined())) expected.back().insert(line.Joined());  // where it keeps a row
    if (untouched != rowLines.end()) rowLines.erase(untouched);
  }
  RC_ASSERT(failure.has_value() == (uniqueAsks && asks.size() < lines.size()) || (otherWrites && uniqueAsks));
  if (failure) {
    RC_ASSERT(failure->fault() == store::Fault::Duplicate);
    RC_ASSERT(RowsByKind(file) == held);
    return;
  }
  const std::vector<std::string> saved = Split(Sql(file, "select ask || '###' || answer from zorvrobot order by id"));
  for (std::size_t i = 0; i < saved.size() && !otherWrites; ++i) RC_ASSERT(expected[i].count(saved[i]) == 1u);
  if (!otherWrites) RC_ASSERT(saved.size() == lines.size());
  if (lines == table && !otherWrites) RC_ASSERT(Sql(file, "select * from log").empty());
  const auto now = RowsByKind(file);
  const std::vector<std::string> log = Split(Sql(file, "select id from log"));
  const std::set<std::string> written(log.begin(), log.end());
  for (std::size_t i = 0; i < count; ++i) {
    const std::string joined = table[i].Joined(), kind = "k" + std::to_string(ids[i]);
    int inText = 0, inTable = 0;
    for (const Line& line : lines) inText += line.Joined() == joined;
    for (const Line& row : table) inTable += row.Joined() == joined;
    if (inText != 1 || inTable != 1) continue;
    RC_ASSERT(now.count(kind) == held.count(kind));
    if (!held.count(kind)) continue;
    RC_ASSERT(std::vector(now.at(kind).begin() + 1, now.at(kind).end()) == std::vector(held.at(kind).begin() + 1, held.at(kind).end()));
    if (now.at(kind)[0] == held.at(kind)[0]) RC_ASSERT(written.count(now.at(kind)[0]) == 0u);
  }
  if (shown.empty() || during.empty()) return;
  TempDir otherDir;
  Sql(otherDir.DatabaseFile(), sql);
  store::Common same(otherDir.AppPath());
  same.LoadReplyText();
  Sql(otherDir.DatabaseFile(), before + during);
  std::vector<store::ShownConflict> last;
  same.SaveReplyText(U16(text), [&](const auto& conflicts) { return last = conflicts, std::optional(answer(shown.size())); });
  RC_ASSERT(last.empty() || last == shown.back());
  RC_ASSERT(RowsByKind(otherDir.DatabaseFile()) == now);
}

}  // namespace
