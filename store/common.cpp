#include "store/common.h"

#include <cstring>
#include <fstream>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <utility>

#include "store/changes.h"
#include "store/odbc_engine.h"
#include "store/sqlite_engine.h"
#include "store/utf.h"

namespace store {

std::unique_ptr<Engine> OpenEngine(const std::filesystem::path& path) {
  // The engine is chosen by the file's first bytes: Jet and ACE (Access) files carry their
  // engine's name after a four-byte prefix.
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Error(Fault::CantOpen, 0, "cannot open " + path.u8string());
  char header[21] = {};
  file.read(header, sizeof header);
  if (std::memcmp(header, "SQLite format 3", 16) == 0) return OpenSqliteEngine(path);
  // Byte 0x14 is Jet's version: 0 for Jet 3, whose texts are in the system's code page.
  if (std::memcmp(header + 4, "Standard Jet DB", 15) == 0)
    return OpenOdbcEngine(header[0x14] == 0 ? OdbcDriver::Jet3 : OdbcDriver::Jet4, path.u16string());
  if (std::memcmp(header + 4, "Standard ACE DB", 15) == 0) return OpenOdbcEngine(OdbcDriver::Ace, path.u16string());
  throw Error(Fault::NotADatabase, 0, "not a database this program reads");
}

std::filesystem::path NativePath(std::u16string_view path) {
  std::u16string native(path);
  const std::size_t separator = native.rfind(u'\\');
  if (separator != std::u16string::npos)
    native[separator] = static_cast<char16_t>(std::filesystem::path::preferred_separator);
#ifdef _WIN32
  return std::filesystem::path(std::wstring(native.begin(), native.end()));
#else
  return std::filesystem::path(Utf16ToUtf8(native));
#endif
}

Engine& Common::Conn() {
  if (!conn_) throw Error(Fault::CantOpen, 0, "the database is not open");
  return *conn_;
}

void Common::OpenDatabase() {
  CloseDatabase();
  record_.version.reset();  // a version means something only to the connection that read it
  conn_ = open_(NativePath(DatabasePath()));
}

namespace {

// Appends a row to text and to record. Its key is made of the line just appended.
void AppendRow(std::int64_t id, std::u16string_view ask, std::u16string_view answer, replytext::ReplyText& text,
               Record& record) {
  replytext::AppendReplyLine(text, ask, answer);
  const std::size_t length = ask.size() + replytext::ReplySeparator.size() + answer.size();
  record.rows.push_back({id, LineKey(std::u16string_view(text).substr(text.size() - length))});
}

// The lines of text that a save accepts, as they stand; follow becomes the place of the first of
// them at line followLine or after it.
Lines AcceptedLines(std::u16string_view text, std::size_t followLine, std::size_t& follow) {
  Lines accepted = replytext::SplitReplyText(text);
  follow = accepted.size();
  std::size_t kept = 0;
  for (std::size_t line = 0; line < accepted.size(); ++line) {
    if (line == followLine) follow = kept;
    if (replytext::ParseReplyLine(accepted[line])) accepted[kept++] = accepted[line];
  }
  accepted.resize(kept);
  return accepted;
}

// Refuses, naming its line (from 1), the first line whose entry holds a text conn cannot store.
void RefuseUnheldText(const Engine& conn, std::u16string_view text) {
  if (conn.HoldsEveryText()) return;
  const std::vector<std::u16string_view> lines = replytext::SplitReplyText(text);
  for (std::size_t line = 0; line < lines.size(); ++line) {
    const auto entry = replytext::ParseReplyLine(lines[line]);
    if (entry && (!conn.Holds(entry->ask) || !conn.Holds(entry->answer))) {
      Error error(Fault::Unstorable, 0, "a text the file's code page cannot hold");
      error.SetAt({line + 1, TextStart(entry->ask), std::nullopt});
      throw error;
    }
  }
}

// Runs the plan's writes; false where a write found its row gone and the save is to be planned
// once more (planAgain, which this clears). A refusal that concerns one entry names its line.
bool Write(Engine& conn, const SavePlan& plan, std::u16string_view text, const Lines& lines, bool& planAgain) {
  const RowTexts* failed = nullptr;
  try {
    ApplyChanges(conn, plan.changes, failed);
    return true;
  } catch (Error& error) {
    // Where reads take no locks (Jet), another program may have deleted or changed a row
    // between the comparison and the write: the save is planned again against the table now.
    if (error.fault() == Fault::Vanished && std::exchange(planAgain, false)) return false;
    if (failed) error.SetAt(LocateRefusal(text, lines, *failed, error));
    throw;
  }
}

// The outcome of a committed save. Where the box is to show the table as saved, the plan's other
// parts and the lines go first, so that the text made is the only one the size of the operator's.
SaveOutcome Saved(SavePlan&& plan, Lines& lines, const TableChanges& table) {
  if (!plan.shown) return SaveOutcome{false, std::nullopt, plan.followedLine};
  const std::vector<ShownRun> runs = std::move(*plan.shown);
  const std::size_t followedLine = plan.firstTheirs.value_or(plan.followedLine);
  plan = SavePlan{}, lines = Lines{};
#ifdef __GLIBC__
  malloc_trim(0);  // glibc would keep the freed blocks resident under the text
#endif
  return SaveOutcome{false, ShownTable(runs, table), followedLine};
}

}  // namespace

replytext::ReplyText Common::LoadReplyText() {
  OpenDatabase();
  replytext::ReplyText text;
  Record record;
  conn_->ReadRows({}, [&](std::int64_t id, std::u16string_view ask, std::u16string_view answer) {
    AppendRow(id, ask, answer, text, record);
  });
  record.version = conn_->Version();
  record_ = std::move(record);
  return text;
}

SaveOutcome Common::SaveReplyText(std::u16string_view text, const ConflictQuestion& ask, std::size_t followLine) {
  std::size_t follow = 0;
  Lines lines = AcceptedLines(text, followLine, follow);
  Engine& conn = Conn();
  RefuseUnheldText(conn, text);
  std::optional<Resolution> answer;
  std::vector<Conflict> askedAbout;  // the conflicts as the operator was last shown them
  bool planAgain = true;  // once, for a write that found its row gone
  for (;;) {
    conn.BeginWrite();
    // Rolls the transaction back however the save ends, so that no failure path can leave the
    // table half written or the file locked; after the commit there is nothing left to roll back.
    const std::unique_ptr<Engine, void (*)(Engine*)> transaction(&conn, [](Engine* engine) { engine->Rollback(); });
    const TableChanges table = CompareTable(conn, record_);
    SavePlan plan = PlanSave(conn, record_, lines, table, answer.value_or(Resolution::Mine), follow);
    if (!plan.conflicts.empty() && ask && plan.conflicts != askedAbout) {
      // The question waits with the file free for the other program; the table is compared
      // again once it is answered, and asked about again unless its conflicts are still
      // exactly those shown, so that no answer applies to a conflict the operator did not see.
      conn.Rollback();
      askedAbout = std::move(plan.conflicts);
      plan = SavePlan{};
      answer = ask(ShowConflicts(text, lines, askedAbout, table));
      if (!answer) return SaveOutcome{true, std::nullopt, 0};
      continue;
    }
    if (!Write(conn, plan, text, lines, planAgain)) {
      conn.Rollback();
      continue;
    }
    plan.saved.version = conn.Version();
    conn.Commit();
    record_ = std::move(plan.saved);
    return Saved(std::move(plan), lines, table);
  }
}

}  // namespace store
