#include "store/sqlite_engine.h"

#include <sqlite3.h>

#include <charconv>
#include <cstring>
#include <optional>

#include "store/utf.h"

namespace store {

namespace {

// close_v2: a statement still alive on a failure path keeps the handle until it goes.
using DatabaseHandle = std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

bool StartsWith(const char* text, const char* prefix) {
  return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The fault an SQLite result code and its message describe. With the database open, a file that
// cannot be opened is a journal beside it.
Fault SqliteFault(int code, const char* message, bool open) {
  if (code == SQLITE_READONLY_DBMOVED) return Fault::Moved;
  switch (code & 0xFF) {
    case SQLITE_BUSY: case SQLITE_LOCKED: return Fault::Busy;
    case SQLITE_READONLY: return Fault::ReadOnly;
    case SQLITE_CANTOPEN: case SQLITE_PERM:  // with the database open, a journal beside it
      return open ? Fault::ReadOnly : Fault::CantOpen;
    case SQLITE_NOTADB: return Fault::NotADatabase;
    case SQLITE_CORRUPT: return Fault::Corrupt;
    case SQLITE_FULL: return Fault::DiskFull;
    case SQLITE_IOERR: return Fault::Io;
    case SQLITE_CONSTRAINT:
      // The code may be the primary one only; the message still says which constraint.
      if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY ||
          std::strstr(message, "UNIQUE constraint failed"))
        return Fault::Duplicate;
      return Fault::Constraint;
    case SQLITE_TOOBIG: return Fault::TooBig;
    case SQLITE_ERROR:
      if (std::strstr(message, "no such table")) return Fault::NoSuchTable;
      if (std::strstr(message, "no such column")) return Fault::NoSuchField;
      return Fault::Engine;
    default: return Fault::Engine;
  }
}

[[noreturn]] void Throw(sqlite3* db, int code) {
  const int extended = db ? sqlite3_extended_errcode(db) : code;
  // The handle's error may belong to a later call; trust the code we were given when they differ.
  const bool current = (extended & 0xFF) == (code & 0xFF);
  const char* message = db && current ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  const Fault fault = SqliteFault(code, message, db != nullptr);
  // "no such column: ask" names the column the operator's table lacks, and "UNIQUE constraint
  // failed: zorvrobot.ask" the column whose index refused a value.
  const char* column = fault == Fault::NoSuchField || fault == Fault::Duplicate ? std::strchr(message, ':') : nullptr;
  throw Error(fault, current ? extended : code, message, column ? column + 2 : "");
}

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) Throw(db, rc);
}

StatementHandle Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  StatementHandle handle(stmt, sqlite3_finalize);
  Check(db, rc);
  return handle;
}

// SQLite's own text for a real number, where it gives the number back exactly; otherwise the
// shortest text that does, so the value survives being stored back as text.
std::string RealText(sqlite3_stmt* stmt, int column) {
  const double value = sqlite3_column_double(stmt, column);
  char buffer[40];
  sqlite3_snprintf(sizeof buffer, buffer, "%!.15g", value);
  double back = 0;
  const char* end = buffer + std::strlen(buffer);
  if (std::from_chars(buffer, end, back).ptr == end && back == value) return buffer;
  std::string text(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
  if (text.find_first_of(".eni") == std::string::npos) text += ".0";  // stays a real number
  return text;
}

// The UTF-16 code units of stored bytes in a UTF-16 database's byte order. Only a BLOB can have
// an odd length; its last byte would be lost, so it is refused.
void AppendBlobUnits(const unsigned char* bytes, std::size_t size, bool bigEndian, std::u16string& out) {
  if (size % 2 != 0) throw Error(Fault::NotText, 0, "a BLOB of odd length in a UTF-16 database");
  for (std::size_t i = 0; i < size; i += 2)
    out.push_back(static_cast<char16_t>(bigEndian ? bytes[i] << 8 | bytes[i + 1] : bytes[i + 1] << 8 | bytes[i]));
}

// The bytes of UTF-16 code units in a UTF-16 database's byte order.
void AppendUnitsAsBytes(std::u16string_view units, bool bigEndian, std::string& out) {
  for (const char16_t unit : units)
    out.append({static_cast<char>(bigEndian ? unit >> 8 : unit), static_cast<char>(bigEndian ? unit : unit >> 8)});
}

class SqliteEngine final : public Engine {
 public:
  // Closing the handle ends an open transaction without its changes.
  explicit SqliteEngine(DatabaseHandle db) : db_(std::move(db)) {}

  void ReadRows(IdRange range, const RowVisitor& visit) override;
  std::optional<std::uint64_t> Version() override { return version_; }
  void BeginWrite() override;
  void Delete(std::int64_t id) override;
  void Move(std::int64_t from, std::int64_t to) override;
  void Update(const RowTexts& row) override { WriteTexts(update_, "update zorvrobot set ask = ?2, answer = ?3 where id = ?1", row); }
  void Insert(const RowTexts& row) override { WriteTexts(insert_, "insert into zorvrobot (id, ask, answer) values (?1, ?2, ?3)", row); }
  void Commit() override;
  void Rollback() noexcept override {
    if (!sqlite3_get_autocommit(db_.get())) sqlite3_exec(db_.get(), "rollback", nullptr, nullptr, nullptr);
  }

 private:
  bool InTransaction() const { return !sqlite3_get_autocommit(db_.get()); }
  void Exec(const char* sql) { Check(db_.get(), sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr)); }
  void ReadTable(IdRange range, const RowVisitor& visit);
  std::uint64_t DataVersion();
  int TextEncoding();
  bool NumbersRows();
  void ReadValue(sqlite3_stmt* stmt, int column, std::u16string& value);
  void Bind(sqlite3_stmt* stmt, int parameter, std::u16string_view value);
  sqlite3_stmt* Statement(StatementHandle& handle, const char* sql);
  void WriteTexts(StatementHandle& handle, const char* sql, const RowTexts& row);
  void Write(sqlite3_stmt* stmt);

  DatabaseHandle db_;
  int encoding_ = SQLITE_UTF8;  // SQLITE_UTF8, SQLITE_UTF16LE or SQLITE_UTF16BE
  std::optional<std::uint64_t> version_;
  std::string bound_[2];        // the texts bound to a write, in the database's encoding
  // The write statements, prepared at their first use and kept for the connection's life.
  StatementHandle delete_{nullptr, sqlite3_finalize}, move_{nullptr, sqlite3_finalize};
  StatementHandle update_{nullptr, sqlite3_finalize}, insert_{nullptr, sqlite3_finalize};
};

// The database's text encoding, which every text is read and bound in.
int SqliteEngine::TextEncoding() {
  const StatementHandle pragma = Prepare(db_.get(), "pragma encoding");
  Check(db_.get(), sqlite3_step(pragma.get()));
  const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(pragma.get(), 0));
  if (StartsWith(name, "UTF-16le")) return SQLITE_UTF16LE;
  if (StartsWith(name, "UTF-16be")) return SQLITE_UTF16BE;
  return SQLITE_UTF8;
}

void SqliteEngine::ReadValue(sqlite3_stmt* stmt, int column, std::u16string& value) {
  value.clear();
  const int type = sqlite3_column_type(stmt, column);
  if (type == SQLITE_NULL) return;
  if (type == SQLITE_FLOAT) return AppendUtf8AsUtf16(RealText(stmt, column), value);
  // Text and BLOBs as the bytes stored, in the database's encoding; an integer as its digits.
  const void* data = sqlite3_column_blob(stmt, column);
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(stmt, column));
  if (!data && size > 0) Throw(db_.get(), SQLITE_NOMEM);
  if (encoding_ == SQLITE_UTF8 || type == SQLITE_INTEGER) {
    AppendUtf8AsUtf16({static_cast<const char*>(data), size}, value);
  } else {
    AppendBlobUnits(static_cast<const unsigned char*>(data), size, encoding_ == SQLITE_UTF16BE, value);
  }
}

// PRAGMA data_version: changes whenever another connection commits to the file, never for this
// connection's own commits.
std::uint64_t SqliteEngine::DataVersion() {
  const StatementHandle pragma = Prepare(db_.get(), "pragma data_version");
  Check(db_.get(), sqlite3_step(pragma.get()));
  return static_cast<std::uint64_t>(sqlite3_column_int64(pragma.get(), 0));
}

void SqliteEngine::ReadRows(IdRange range, const RowVisitor& visit) {
  if (InTransaction()) return ReadTable(range, visit);
  // Its own read transaction, so that the version read after the rows is the one they are of.
  Exec("begin");
  try {
    ReadTable(range, visit);
    if (range.IsAll()) version_ = DataVersion();
    Exec("commit");
  } catch (...) {
    Rollback();
    throw;
  }
}

void SqliteEngine::ReadTable(IdRange range, const RowVisitor& visit) {
  encoding_ = TextEncoding();
  const StatementHandle select = Prepare(db_.get(), range.IsAll() ? "select id, ask, answer from zorvrobot order by id"
                                                                   : "select id, ask, answer from zorvrobot where id between ?1 and ?2 order by id");
  if (!range.IsAll()) {
    sqlite3_bind_int64(select.get(), 1, range.first);
    sqlite3_bind_int64(select.get(), 2, range.last);
  }
  std::u16string ask, answer;  // reused from row to row
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    ReadValue(select.get(), 1, ask);
    ReadValue(select.get(), 2, answer);
    visit(sqlite3_column_int64(select.get(), 0), ask, answer);
  }
  Check(db_.get(), rc);
}

// True iff id is the table's row id, which the database assigns and keeps unique. Where the row
// id has a column of its own, SQLite names that column as the origin of the row id; a column of
// the table may hide one name of the row id, so all three are tried.
bool SqliteEngine::NumbersRows() {
  for (const char* sql : {"select rowid from zorvrobot", "select oid from zorvrobot", "select _rowid_ from zorvrobot"}) {
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_.get(), sql, -1, &stmt, nullptr);
    const StatementHandle select(stmt, sqlite3_finalize);
    if (rc != SQLITE_OK && !StartsWith(sqlite3_errmsg(db_.get()), "no such column")) Throw(db_.get(), rc);
    const char* origin = rc == SQLITE_OK ? sqlite3_column_origin_name(stmt, 0) : nullptr;
    if (origin && sqlite3_stricmp(origin, "id") == 0) return true;
  }
  return false;
}

void SqliteEngine::BeginWrite() {
  Exec("begin immediate");
  try {
    encoding_ = TextEncoding();
    if (!NumbersRows()) throw Error(Fault::OrderNotKept, 0, "zorvrobot.id is not the table's row id");
    version_ = DataVersion();
  } catch (...) {
    Rollback();
    throw;
  }
}

void SqliteEngine::Bind(sqlite3_stmt* stmt, int parameter, std::u16string_view value) {
  std::string& bytes = bound_[parameter - 2];  // ask and answer are always parameters 2 and 3
  bytes.clear();
  if (encoding_ == SQLITE_UTF8) {
    AppendUtf16AsUtf8(value, bytes);
  } else {
    // A byte order mark first: SQLite takes a leading one for the order of the bytes and drops
    // it, so the value's own first unit (which may be U+FEFF or U+FFFE) is never taken for one.
    AppendUnitsAsBytes(u"\uFEFF", encoding_ == SQLITE_UTF16BE, bytes);
    AppendUnitsAsBytes(value, encoding_ == SQLITE_UTF16BE, bytes);
  }
  // A value SQLite cannot take (longer than its limit) fails here, never stored as NULL.
  Check(db_.get(), sqlite3_bind_text64(stmt, parameter, bytes.data(), bytes.size(), SQLITE_STATIC,
                                       static_cast<unsigned char>(encoding_)));
}

sqlite3_stmt* SqliteEngine::Statement(StatementHandle& handle, const char* sql) {
  if (!handle) handle = Prepare(db_.get(), sql);
  return handle.get();
}

// Steps a write statement once, makes it ready for its next values, and checks that it wrote
// exactly one row.
void SqliteEngine::Write(sqlite3_stmt* stmt) {
  const int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  // A table's own conflict clause (ON CONFLICT ROLLBACK) may have ended the whole transaction:
  // what the save wrote before is gone, so the save cannot go on.
  if (rc != SQLITE_DONE && !InTransaction())
    throw Error(Fault::Constraint, rc, "a conflict clause of the table ended the save's transaction");
  Check(db_.get(), rc);
  if (sqlite3_changes(db_.get()) != 1) throw Error(Fault::Vanished, 0, "a row the save writes is not there");
}

void SqliteEngine::Delete(std::int64_t id) {
  sqlite3_stmt* stmt = Statement(delete_, "delete from zorvrobot where id = ?1");
  sqlite3_bind_int64(stmt, 1, id);
  Write(stmt);
}

void SqliteEngine::Move(std::int64_t from, std::int64_t to) {
  sqlite3_stmt* stmt = Statement(move_, "update zorvrobot set id = ?2 where id = ?1");
  sqlite3_bind_int64(stmt, 1, from);
  sqlite3_bind_int64(stmt, 2, to);
  Write(stmt);
}

void SqliteEngine::WriteTexts(StatementHandle& handle, const char* sql, const RowTexts& row) {
  sqlite3_stmt* stmt = Statement(handle, sql);
  sqlite3_bind_int64(stmt, 1, row.id);
  Bind(stmt, 2, row.ask);
  Bind(stmt, 3, row.answer);
  Write(stmt);
}

void SqliteEngine::Commit() {
  // Committing into a file that was deleted or replaced would report a save nobody can read.
  int moved = 0;
  if (sqlite3_file_control(db_.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved)
    throw Error(Fault::Moved, 0, "the database file was deleted or replaced while open");
  Exec("commit");
}

}  // namespace

std::unique_ptr<Engine> OpenSqliteEngine(const std::filesystem::path& path) {
  sqlite3* db = nullptr;
  // No SQLITE_OPEN_CREATE: a missing file is an error, never a new empty database.
  const int rc = sqlite3_open_v2(path.u8string().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  DatabaseHandle handle(db, sqlite3_close_v2);
  if (rc != SQLITE_OK) {
    const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw Error(SqliteFault(rc, message, false), rc, message);
  }
  sqlite3_extended_result_codes(db, 1);
  // The customer-service software may hold the file; wait for its locks before giving up.
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return std::make_unique<SqliteEngine>(std::move(handle));
}

}  // namespace store
