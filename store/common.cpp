#include "store/common.h"

#include <cstring>
#include <fstream>

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
  char header[19] = {};
  file.read(header, sizeof header);
  if (std::memcmp(header, "SQLite format 3", 16) == 0) return OpenSqliteEngine(path);
  if (std::memcmp(header + 4, "Standard Jet DB", 15) == 0) return OpenOdbcEngine(OdbcDriver::Jet, path.u16string());
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
  conn_ = open_(NativePath(DatabasePath()));
}

replytext::ReplyText Common::LoadReplyText() {
  OpenDatabase();
  replytext::ReplyText text;
  conn_->ReadRows({}, [&](std::int64_t, std::u16string_view ask, std::u16string_view answer) {
    replytext::AppendReplyLine(text, ask, answer);
  });
  return text;
}

void Common::SaveReplyText(std::u16string_view text) {
  std::vector<replytext::ReplyEntryView> entries;
  {
    const std::vector<std::u16string_view> lines = replytext::SplitReplyText(text);
    entries.reserve(lines.size());
    for (const std::u16string_view line : lines)
      if (const auto entry = replytext::ParseReplyLine(line)) entries.push_back(*entry);
  }
  Engine& conn = Conn();
  conn.BeginWrite();
  // Rolls the transaction back however the save ends, so that no failure path can leave the
  // table half written or the file locked; after the commit there is nothing left to roll back.
  const std::unique_ptr<Engine, void (*)(Engine*)> transaction(&conn, [](Engine* engine) { engine->Rollback(); });
  conn.Apply(PlanChanges(conn, entries));
  conn.Commit();
}

}  // namespace store
