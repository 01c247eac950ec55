#include "store/common.h"

#include <system_error>

#include "store/changes.h"
#include "store/sqlite_engine.h"
#include "store/utf.h"

namespace store {

namespace {

// A write transaction that rolls back when it ends without Commit, so that no failure path can
// leave the table half written or the file locked.
class WriteTransaction {
 public:
  explicit WriteTransaction(Engine& engine) : engine_(engine) {
    try {
      engine_.BeginWrite();
    } catch (...) {
      engine_.Rollback();  // BeginWrite may fail after the transaction began
      throw;
    }
  }
  ~WriteTransaction() {
    if (!committed_) engine_.Rollback();
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  void Commit() {
    engine_.Commit();
    committed_ = true;
  }

 private:
  Engine& engine_;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<Engine> OpenEngine(const std::filesystem::path& path) { return OpenSqliteEngine(path); }

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

bool IsOrdinaryFile(std::u16string_view path) {
  std::error_code error;
  return std::filesystem::is_regular_file(NativePath(path), error);
}

Engine& Common::Conn() {
  if (!conn_) throw Error(Fault::ConnectionClosed, 0, "the database is not open");
  return *conn_;
}

void Common::OpenDatabase() {
  CloseDatabase();
  conn_ = OpenEngine(NativePath(DatabasePath()));
}

replytext::ReplyText Common::LoadReplyText() {
  if (!conn_ || conn_->FileMoved()) OpenDatabase();
  replytext::ReplyText text;
  conn_->ReadRows({}, false, [&](std::int64_t, std::u16string_view ask, std::u16string_view answer) {
    replytext::AppendReplyLine(text, ask, answer);
    return true;
  });
  return text;
}

void Common::SaveReplyText(std::u16string_view text) {
  std::vector<replytext::ReplyEntryView> entries;
  for (const std::u16string_view line : replytext::SplitReplyText(text))
    if (const auto entry = replytext::ParseReplyLine(line)) entries.push_back(*entry);
  Engine& conn = Conn();
  WriteTransaction transaction(conn);
  const ChangeSet changes = PlanChanges(conn, entries);
  if (!changes.empty()) conn.Apply(changes);
  transaction.Commit();
}

}  // namespace store
