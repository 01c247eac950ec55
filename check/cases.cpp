#include "check/cases.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

#include "check/forwardingengine.h"
#include "replytext/replytext.h"
#include "store/utf.h"

namespace check {

namespace {

using store::Fault;
using Rows = std::vector<std::pair<std::u16string, std::u16string>>;

std::string U8(std::u16string_view text) { return store::Utf16ToUtf8(text); }

std::u16string Number(long long n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

std::string SecondsSince(std::chrono::steady_clock::time_point start) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return seconds;
}

void Expect(const std::string& happened, const std::string& expected, const std::string& what) {
  if (happened != expected) throw CaseFailed(what + "：" + expected, happened);
}

// The fault a call fails with, which must be expected.
void ExpectFault(Fault expected, const std::string& what, const std::function<void()>& call) {
  try {
    call();
  } catch (const store::Error& error) {
    if (error.fault() == expected) return;
    throw CaseFailed(what, "另一种失败：" + std::string(error.what()) + "（" + std::to_string(error.code()) + "）");
  }
  throw CaseFailed(what, "没有失败");
}

replytext::ReplyText Joined(const Rows& rows) {
  replytext::ReplyText text;
  for (const auto& [ask, answer] : rows) replytext::AppendReplyLine(text, ask, answer);
  return text;
}

std::string AsRead(const Rows& rows) {  // as CaseRun::Rows gives them
  std::string read;
  for (const auto& [ask, answer] : rows) read += U8(ask) + "|" + U8(answer) + "\n";
  return read;
}

Rows Numbered(std::size_t count) {
  Rows rows;
  for (std::size_t n = 1; n <= count; ++n) rows.emplace_back(u"问" + Number(n), u"答" + Number(n));
  return rows;
}

void InsertAll(CaseRun& run, const Rows& rows) {
  for (const auto& [ask, answer] : rows) run.Insert(ask, answer);
}

// ---- The cases ----

// Chinese, the characters Velmora shows as stand-ins, on files in Unicode an emoji, and answers
// read in several pieces and in exactly one, loaded as stored and saved back unit for unit; a
// missing answer loads as empty. A Jet 3 file holds the system's code page: only the rows it can
// hold are tried there.
void RoundTrip(CaseRun& run) {
  Rows rows = {{u"你好", u"您好，请问有什么可以帮您？"}, {u"换行", u"甲\n乙\r丙"}, {u"制表", u"a\tb\u00A0c"},
               {u"表情", u"好的\U0001F600"}, {u"分隔", u"一\u2028二\u2029三"},
               {u"长答", std::u16string(10000, u'长') + u"r"}, {u"一块", std::u16string(4095, u'p')}};
  run.Velmora().OpenDatabase();
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [&](const auto& row) { return !run.Velmora().Conn().Holds(row.first + row.second); }),
             rows.end());
  InsertAll(run, rows);
  run.Other().Run(u"INSERT INTO zorvrobot (ask) VALUES (?)", {u"空"});
  rows.emplace_back(u"空", u"");
  Expect(U8(run.Velmora().LoadReplyText()), U8(Joined(rows)), "加载的文本");
  for (auto& row : rows) row.second += u"！";
  run.Velmora().SaveReplyText(Joined(rows));
  Expect(run.Rows(), AsRead(rows), "另一程序读回的行");
}

// Ten lines edited among thirty: those ten rows take the new answers, and every row keeps its id
// and the columns Velmora does not know (a number, a text, a null).
void TenLineSave(CaseRun& run) {
  Rows rows = Numbered(30);
  for (std::size_t n = 0; n < rows.size(); ++n)
    run.Other().Run(u"INSERT INTO zorvrobot (ask, answer, hits, note) VALUES (?, ?, " + Number(n * 3) + (n % 2 ? u", NULL)" : u", ?)"),
                    {rows[n].first, rows[n].second, u"注" + Number(n)});
  const std::string before = run.Rows(u"id, hits, note");
  run.Velmora().LoadReplyText();
  for (std::size_t n = 10; n < 20; ++n) rows[n].second += u"（改）";
  run.Velmora().SaveReplyText(Joined(rows));
  Expect(run.Rows(), AsRead(rows), "保存后的问答");
  Expect(run.Rows(u"id, hits, note"), before, "编号与其他列");
}

// A question of as many characters as the column holds, Chinese with an emoji's two units at its
// end where the file holds one, is saved whole; one more fails the save with the message for a
// too-long line and changes nothing.
void LongestQuestion(CaseRun& run) {
  const std::size_t limit = run.Profile().textLimit > 0 ? static_cast<std::size_t>(run.Profile().textLimit) : 255;
  InsertAll(run, Numbered(2));
  run.Velmora().LoadReplyText();
  Rows rows = Numbered(2);
  const std::u16string emoji = u"\U0001F600";
  rows[0].first = run.Velmora().Conn().Holds(emoji) ? std::u16string(limit - 2, u'长') + emoji : std::u16string(limit, u'长');
  run.Velmora().SaveReplyText(Joined(rows));
  Expect(run.Rows(), AsRead(rows), std::to_string(limit) + " 个字符的问题");
  if (run.Profile().textLimit == 0) return;  // the column holds any length
  rows[1].first = std::u16string(limit + 1, u'超');
  ExpectFault(Fault::TooBig, std::to_string(limit + 1) + " 个字符的问题：保存失败（过长）",
              [&] { run.Velmora().SaveReplyText(Joined(rows)); });
  rows[1] = Numbered(2)[1];
  Expect(run.Rows(), AsRead(rows), "失败后表不变");
}

// The lines reversed: every row but one moves to another id, its other columns with it. Afterwards
// the other program's next row, its id left to the AutoNumber, gets an id above every id.
void CounterAfterMoves(CaseRun& run) {
  Rows rows = Numbered(10);
  for (std::size_t n = 0; n < rows.size(); ++n)
    run.Other().Run(u"INSERT INTO zorvrobot (ask, answer, hits) VALUES (?, ?, " + Number(n) + u")", {rows[n].first, rows[n].second});
  const std::string columns = run.Other().Run(u"SELECT ask, hits, note FROM zorvrobot ORDER BY ask");
  run.Velmora().LoadReplyText();
  std::reverse(rows.begin(), rows.end());
  run.Velmora().SaveReplyText(Joined(rows));
  Expect(run.Rows(), AsRead(rows), "倒序保存后的行");
  Expect(run.Other().Run(u"SELECT ask, hits, note FROM zorvrobot ORDER BY ask"), columns, "每行的其他列随行移动");
  run.Insert(u"新", u"行");
  const std::string newest = run.Other().Run(u"SELECT id FROM zorvrobot WHERE ask = ?", {u"新"});
  const std::string highest = run.Other().Run(u"SELECT MAX(id) FROM zorvrobot WHERE ask <> ?", {u"新"});
  if (std::stoll(newest) <= std::stoll(highest))
    throw CaseFailed("另一程序的新行编号大于 " + highest.substr(0, highest.size() - 1), "编号 " + newest.substr(0, newest.size() - 1));
}

// Two questions swapped under a unique index on the question.
void SwappedUnderUniqueIndex(CaseRun& run) {
  run.Other().Run(u"CREATE UNIQUE INDEX ask_once ON zorvrobot (ask)");
  Rows rows = Numbered(3);
  InsertAll(run, rows);
  run.Velmora().LoadReplyText();
  std::swap(rows[0].first, rows[1].first);
  run.Velmora().SaveReplyText(Joined(rows));
  Expect(run.Rows(), AsRead(rows), "互换问题后的行");
}

// The other program adds, edits and deletes rows after the load, and edits one the operator
// edited too: the save asks about that one only, keeps every other change of both, and writes
// nothing when cancelled.
void Merge(CaseRun& run, std::optional<store::Resolution> answer) {
  InsertAll(run, Numbered(5));
  run.Velmora().LoadReplyText();
  Rows mine = Numbered(5);
  mine[0].second = u"我改1", mine[3].second = u"我改4";
  OtherProgram& other = run.Other();
  other.Run(u"UPDATE zorvrobot SET answer = ? WHERE ask = ?", {u"他改1", u"问1"});
  other.Run(u"UPDATE zorvrobot SET answer = ? WHERE ask = ?", {u"他改2", u"问2"});
  other.Run(u"DELETE FROM zorvrobot WHERE ask = ?", {u"问3"});
  run.Insert(u"问6", u"答6");
  std::size_t asked = 0;
  const store::SaveOutcome outcome = run.Velmora().SaveReplyText(Joined(mine), [&](const auto& conflicts) {
    asked += conflicts.size();
    return answer;
  });
  Expect(std::to_string(asked), "1", "问及的冲突");
  const std::u16string first = !answer ? u"他改1" : *answer == store::Resolution::Mine ? u"我改1" : u"他改1";
  const Rows expected = {{u"问1", first}, {u"问2", u"他改2"}, {u"问4", answer ? u"我改4" : u"答4"}, {u"问5", u"答5"}, {u"问6", u"答6"}};
  Expect(run.Rows(), AsRead(expected), "合并后的行");
  Expect(outcome.cancelled ? "取消" : "保存", answer ? "保存" : "取消", "保存的结局");
}

// The other program deletes the row an edited line was loaded from after the save compared the
// table and before it updates that row: the save finds the row gone, plans once more against the
// table now and writes the line anew. A driver that keeps the other program out during a save
// (SQLite locks the whole file) has the row pulled away within the save's own transaction instead,
// which the row's update finds gone just the same.
void DeletedMidSave(CaseRun& run) {
  InsertAll(run, Numbered(3));
  run.Velmora().LoadReplyText();
  Rows rows = Numbered(3);
  rows[1].second = u"改2";
  bool deleted = false;
  run.BeforeEachUpdate([&](store::Engine& own, std::int64_t id) {
    if (std::exchange(deleted, true)) return;
    try {
      run.Other().Run(u"DELETE FROM zorvrobot WHERE id = " + Number(id));
      run.Note("另一程序在保存中途删除了这一行");
    } catch (const OdbcFailure& refused) {
      own.Delete(id);
      run.Note("保存期间另一程序无法删除（" + Describe(refused.record) + "），改在保存自己的事务中删除");
    }
  });
  run.Velmora().SaveReplyText(Joined(rows));
  Expect(run.Rows(), AsRead(rows), "重新计划后保存的行");
}

// A file only to be read: the load shows it, and the save fails as read-only and changes nothing.
void ReadOnlyFile(CaseRun& run) {
  InsertAll(run, Numbered(2));
  run.CloseOther();
  run.Profile().MakeReadOnly(run.File());
  run.OpenOther();
  Expect(U8(run.Velmora().LoadReplyText()), U8(Joined(Numbered(2))), "加载只读文件的文本");
  Rows rows = Numbered(2);
  rows[0].second = u"改";
  ExpectFault(Fault::ReadOnly, "保存失败：文件只读", [&] { run.Velmora().SaveReplyText(Joined(rows)); });
  Expect(run.Rows(), AsRead(Numbered(2)), "失败后表不变");
}

// The other program holds the file for itself: a load says the file is in use, and goes through
// once the other program lets go.
void HeldExclusively(CaseRun& run) {
  InsertAll(run, Numbered(3));
  run.OpenOther(true);
  const auto start = std::chrono::steady_clock::now();
  ExpectFault(Fault::Busy, "加载失败：文件被占用", [&] { run.Velmora().LoadReplyText(); });
  run.Note("等待 " + SecondsSince(start) + " 秒后报告占用");
  run.OpenOther();
  Expect(U8(run.Velmora().LoadReplyText()), U8(Joined(Numbered(3))), "另一程序放开后加载的文本");
}

// How long a load of count rows takes, and a save of ten lines edited among them. The table is
// made by doubling one row, each copy's question its original's with "-" and that one's id.
void Timings(CaseRun& run, std::size_t count) {
  run.Insert(u"问", u"答");
  const std::u16string& join = run.Profile().textJoin;
  for (std::size_t rows = 1; rows < count; rows *= 2)
    run.Other().Run(u"INSERT INTO zorvrobot (ask, answer) SELECT ask" + join + u"'-'" + join + u"id, answer FROM zorvrobot");
  const std::string first = run.Other().Run(u"SELECT MIN(id) FROM zorvrobot");
  run.Other().Run(u"DELETE FROM zorvrobot WHERE id >= " + Number(std::stoll(first) + static_cast<long long>(count)));
  auto start = std::chrono::steady_clock::now();
  replytext::ReplyText text = run.Velmora().LoadReplyText();
  const std::string loaded = SecondsSince(start);
  std::size_t at = 0;
  for (int line = 0; line < 10; ++line, at = text.find(u"\r\n", at) + 2) text.insert(text.find(u"\r\n", at), u"改");
  start = std::chrono::steady_clock::now();
  run.Velmora().SaveReplyText(text);
  const std::string saved = SecondsSince(start);
  Expect(run.Other().Run(u"SELECT COUNT(*) FROM zorvrobot"), std::to_string(count) + "\n", "表的行数");
  Expect(run.Other().Run(u"SELECT COUNT(*) FROM zorvrobot WHERE answer = ?", {u"答改"}), "10\n", "保存后改动的行数");
  run.Note("加载 " + loaded + " 秒，保存十行 " + saved + " 秒");
}

// A Jet 3 file keeps its texts in the system's code page: a line with a character outside it
// (an emoji, outside every Windows code page but UTF-8's) is refused before anything is written.
void OutsideTheCodePage(CaseRun& run) {
  InsertAll(run, Numbered(2));
  run.Velmora().LoadReplyText();
  Rows rows = Numbered(2);
  rows[1].second = u"笑\U0001F600";
  if (run.Velmora().Conn().Holds(rows[1].second)) return run.Note("本机的系统代码页是 UTF-8，无法检查");
  ExpectFault(Fault::Unstorable, "保存失败：第 2 行有代码页以外的字符", [&] { run.Velmora().SaveReplyText(Joined(rows)); });
  Expect(run.Rows(), AsRead(Numbered(2)), "失败后表不变");
}

// A folder whose name holds ";", "{" and "}", which a connection string cannot hold as they are:
// loaded and saved there.
void OddFolderName(CaseRun& run) {
  InsertAll(run, Numbered(2));
  run.MoveFileInto(u"replies;old{1}");
  Expect(U8(run.Velmora().LoadReplyText()), U8(Joined(Numbered(2))), "加载的文本");
  Rows rows = Numbered(2);
  rows[0].second = u"改";
  run.Velmora().SaveReplyText(Joined(rows));
  Expect(U8(run.Velmora().LoadReplyText()), U8(Joined(rows)), "保存后再加载的文本");
}

void MissingTable(CaseRun& run) {
  run.Other().Run(u"DROP TABLE zorvrobot");
  ExpectFault(Fault::NoSuchTable, "加载失败：没有 zorvrobot 表", [&] { run.Velmora().LoadReplyText(); });
}

void MissingColumn(CaseRun& run) {
  run.Other().Run(u"ALTER TABLE zorvrobot DROP COLUMN answer");
  ExpectFault(Fault::NoSuchField, "加载失败：没有 answer 列", [&] { run.Velmora().LoadReplyText(); });
}

// Velmora's engine in a case: the case's disturbance, while one is set, comes before each update.
class DisturbedEngine : public ForwardingEngine {
 public:
  DisturbedEngine(std::unique_ptr<store::Engine> engine, const CaseRun::Disturbance& disturb)
      : ForwardingEngine(std::move(engine)), disturb_(disturb) {}
  void Update(const store::RowTexts& row) override {
    if (disturb_) disturb_(Inner(), row.id);
    ForwardingEngine::Update(row);
  }

 private:
  const CaseRun::Disturbance& disturb_;  // the case run's, which outlives its store
};

}  // namespace

CaseRun::CaseRun(const DriverProfile& profile, std::filesystem::path folder)
    : profile_(profile), folder_(std::move(folder)), file_(folder_ / "tarvello.db"), velmora_(folder_.u16string(), Opener()) {
  std::filesystem::create_directories(folder_);
  profile.MakeFile(file_);
  OpenOther();
  other_->Run(profile.CreateTable());
}

void CaseRun::OpenOther(bool exclusive) {
  other_.reset();
  other_ = std::make_unique<OtherProgram>(profile_.Connection(file_, exclusive));
  if (exclusive && profile_.kind == store::OdbcDriver::Sqlite) other_->Run(u"BEGIN EXCLUSIVE");
}

CaseRun::~CaseRun() { velmora_.CloseDatabase(); }

void CaseRun::MoveFileInto(const std::filesystem::path& name) {
  other_.reset();
  velmora_.CloseDatabase();
  std::filesystem::create_directory(folder_ / name);
  std::filesystem::rename(file_, folder_ / name / file_.filename());
  velmora_ = store::Common((folder_ / name).u16string(), Opener());
}

store::EngineOpener CaseRun::Opener() {
  return [this](const std::filesystem::path& file) {
    return std::make_unique<DisturbedEngine>(profile_.open(file), disturb_);
  };
}

void CaseRun::Insert(std::u16string_view ask, std::u16string_view answer) {
  other_->Run(u"INSERT INTO zorvrobot (ask, answer) VALUES (?, ?)", {std::u16string(ask), std::u16string(answer)});
}

std::string CaseRun::Rows(std::u16string_view columns) {
  return other_->Run(u"SELECT " + std::u16string(columns) + u" FROM zorvrobot ORDER BY id");
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"往返：中文、替身字符、表情", "Jet 的文本列与 Memo 列逐个码元存取", RoundTrip},
      {"保存十行：只写这十行，其他列不变", "32 位编号参数：只改这十行", TenLineSave},
      {"最长的问题与再长一个字符", "ExtendedAnsiSQL=1 时过长报 22001", LongestQuestion},
      {"倒序保存后自动编号在所有编号之上", "移动行的复制（INSERT … SELECT 及其 SQLRowCount）与保存后 AutoNumber 计数器的位置", CounterAfterMoves},
      {"唯一索引下两个问题互换", "唯一索引下互换不触发 Jet 的重复值错误", SwappedUnderUniqueIndex},
      {"合并：另一程序增、改、删，冲突答“是”", "", [](CaseRun& run) { Merge(run, store::Resolution::Mine); }},
      {"合并：冲突答“否”", "", [](CaseRun& run) { Merge(run, store::Resolution::Theirs); }},
      {"合并：冲突答“取消”", "", [](CaseRun& run) { Merge(run, std::nullopt); }},
      {"保存中途另一程序删除了要改的行：重新计划", "Jet 读不加锁，保存的事务中另一程序能否删除行", DeletedMidSave},
      {"只读文件：加载可以，保存报只读", "只读文件的连接与 Jet 的只读错误号", ReadOnlyFile},
      {"另一程序独占文件时加载", "Jet 的“文件已在使用”错误号与等待", HeldExclusively},
      {"计时：1,000 行", "", [](CaseRun& run) { Timings(run, 1000); }},
      {"计时：100,000 行", "", [](CaseRun& run) { Timings(run, 100000); }},
      {"Jet 3：代码页以外的字符", "Jet 3 文件按系统代码页存储文本", OutsideTheCodePage,
       [](store::OdbcDriver kind) { return kind == store::OdbcDriver::Jet3; }},
      // The stand-in's driver takes no braces in a connection string, and Linux has no short names.
      {"目录名含有 ; { }", "以短文件名连接含 ; { } 的路径", OddFolderName,
       [](store::OdbcDriver kind) { return kind != store::OdbcDriver::Sqlite; }},
      {"缺少 zorvrobot 表", "Jet 的“找不到表”错误", MissingTable},
      {"缺少 answer 列", "Jet 把未知列当作参数（07002）", MissingColumn},
  };
  return cases;
}

CaseResult RunCase(const Case& which, const DriverProfile& profile, const std::filesystem::path& folder) {
  std::optional<std::string> failure;
  std::string note;
  try {
    CaseRun run(profile, folder);
    which.run(run);
    note = run.Noted();
  } catch (const CaseFailed& failed) {
    failure = "期望 " + failed.expected + "；实际 " + failed.happened;
  } catch (const store::Error& error) {
    failure = "意外的失败：" + std::string(error.what()) + "（" + std::to_string(error.code()) + "）";
  } catch (const std::exception& error) {
    failure = "意外的失败：" + std::string(error.what());
  }
  // Files a case left read-only are made writable again, as Windows removes no read-only file.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(folder, ignored);
  return {failure, note};
}

}  // namespace check
