#include "store/ado.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "store/utf.h"

namespace store::ado {

namespace {

// Jet and ACE (Access) files carry their engine's name right after a four-byte prefix.
bool HasAccessHeader(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
  char header[19] = {};
  if (!file.read(header, sizeof header)) return false;
  return std::memcmp(header + 4, "Standard Jet DB", 15) == 0 ||
         std::memcmp(header + 4, "Standard ACE DB", 15) == 0;
}

bool StartsWith(const char* text, const char* prefix) {
  return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

Fault Classify(int code, const char* message, sqlite3* db) {
  if (code == SQLITE_READONLY_DBMOVED) return Fault::Moved;
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Fault::Busy;
    case SQLITE_READONLY:
      return Fault::ReadOnly;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      // With the database open, what could not be opened is a journal beside it.
      return db ? Fault::ReadOnly : Fault::CantOpen;
    case SQLITE_NOTADB:
      return db && HasAccessHeader(sqlite3_db_filename(db, "main")) ? Fault::UnsupportedFormat
                                                                    : Fault::NotADatabase;
    case SQLITE_CORRUPT:
      return Fault::Corrupt;
    case SQLITE_FULL:
      return Fault::DiskFull;
    case SQLITE_IOERR:
      return Fault::Io;
    case SQLITE_CONSTRAINT:
      return Fault::Constraint;
    case SQLITE_ERROR:
      if (StartsWith(message, "no such table")) return Fault::NoSuchTable;
      if (StartsWith(message, "no such column") || std::strstr(message, "has no column named"))
        return Fault::NoSuchField;
      return Fault::Engine;
    default:
      return Fault::Engine;
  }
}

[[noreturn]] void Throw(sqlite3* db, int code) {
  const int extended = db ? sqlite3_extended_errcode(db) : code;
  const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  // The handle's error may belong to a later call; trust the code we were given when they differ.
  if ((extended & 0xFF) != (code & 0xFF)) message = sqlite3_errstr(code);
  throw Error(Classify(code, message, db), (extended & 0xFF) == (code & 0xFF) ? extended : code,
              message);
}

[[noreturn]] void Refuse(Fault fault, const std::string& message) { throw Error(fault, 0, message); }

std::u16string Trim(std::u16string_view text) {
  const std::size_t first = text.find_first_not_of(u" \t");
  if (first == std::u16string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(u" \t");
  return std::u16string(text.substr(first, last - first + 1));
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
           return lower(x) == lower(y);
         });
}

struct ConnectionString {
  std::u16string provider, mode, dataSource;
};

ConnectionString ParseConnectionString(std::u16string_view text) {
  ConnectionString result;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(u';'), text.size());
    const std::u16string_view pair = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (Trim(pair).empty()) continue;
    const std::size_t equals = pair.find(u'=');
    if (equals == std::u16string_view::npos)
      Refuse(Fault::BadArgument, "connection string: missing '=' in " + Utf16ToUtf8(pair));
    const std::u16string key = Trim(pair.substr(0, equals));
    const std::u16string value = Trim(pair.substr(equals + 1));
    if (EqualsIgnoringCase(key, u"Provider")) {
      result.provider = value;
    } else if (EqualsIgnoringCase(key, u"Mode")) {
      result.mode = value;
    } else if (EqualsIgnoringCase(key, u"Data Source")) {
      result.dataSource = value;
    } else {
      Refuse(Fault::BadArgument, "connection string: unknown key " + Utf16ToUtf8(key));
    }
  }
  return result;
}

// The path SQLite is given: "\" becomes this platform's directory separator.
std::string NativeDataSource(std::u16string path) {
  std::replace(path.begin(), path.end(), u'\\',
               static_cast<char16_t>(std::filesystem::path::preferred_separator));
  return Utf16ToUtf8(path);
}

std::string QuoteIdentifier(std::u16string_view name) {
  std::string quoted = "\"";
  for (char c : Utf16ToUtf8(name)) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace

// ---- Connection ----

Connection::~Connection() { Close(); }

void Connection::Open(std::u16string_view connectionString, std::u16string_view /*userId*/,
                      std::u16string_view /*password*/, long /*options*/) {
  if (db_) Refuse(Fault::BadArgument, "connection is already open");
  const ConnectionString parts = ParseConnectionString(connectionString);
  if (!EqualsIgnoringCase(parts.provider, u"Microsoft.Jet.OLEDB.4.0"))
    Refuse(Fault::BadArgument, "unsupported provider " + Utf16ToUtf8(parts.provider));
  int flags = 0;
  if (parts.mode.empty() || EqualsIgnoringCase(parts.mode, u"ReadWrite")) {
    flags = SQLITE_OPEN_READWRITE;  // no SQLITE_OPEN_CREATE: a missing file is an error
  } else if (EqualsIgnoringCase(parts.mode, u"Read")) {
    flags = SQLITE_OPEN_READONLY;
  } else {
    Refuse(Fault::BadArgument, "unsupported mode " + Utf16ToUtf8(parts.mode));
  }
  if (parts.dataSource.empty()) Refuse(Fault::CantOpen, "connection string names no data source");

  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(NativeDataSource(parts.dataSource).c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    throw Error(Classify(rc, message.c_str(), nullptr), rc, message);
  }
  sqlite3_extended_result_codes(db, 1);
  // The customer-service software may hold the file; wait for its locks before giving up.
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  db_ = db;
}

void Connection::Close() {
  if (!db_) return;
  // close_v2 because a recordset may still hold a statement; the handle is freed with it.
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

void Connection::Fail(int code) const { Throw(db_, code); }

void Connection::Execute(std::u16string_view commandText, long /*options*/) {
  if (!db_) Refuse(Fault::ConnectionClosed, "connection is closed");
  const int rc = sqlite3_exec(db_, Utf16ToUtf8(commandText).c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
}

void Connection::BeginTrans() { Execute(u"begin immediate", adOptionUnspecified); }

void Connection::CommitTrans() { Execute(u"commit", adOptionUnspecified); }

void Connection::RollbackTrans() noexcept {
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
}

bool Connection::FileMoved() const {
  int moved = 0;
  return db_ && sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
         moved != 0;
}

// ---- Recordset ----

Recordset::~Recordset() { Close(); }

void Recordset::Fail(int code) const { Throw(stmt_ ? sqlite3_db_handle(stmt_) : nullptr, code); }

void Recordset::RequireOpen() const {
  if (!stmt_) Refuse(Fault::BadArgument, "recordset is closed");
}

void Recordset::Open(std::u16string_view source, Connection& activeConnection, long /*cursorType*/,
                     long lockType, long /*options*/) {
  if (stmt_) Refuse(Fault::BadArgument, "recordset is already open");
  if (activeConnection.State() != adStateOpen)
    Refuse(Fault::ConnectionClosed, "connection is closed");
  if (lockType != adLockReadOnly && lockType != adLockOptimistic)
    Refuse(Fault::BadArgument, "unsupported lock type");

  sqlite3* db = activeConnection.handle();
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db, Utf16ToUtf8(source).c_str(), -1, &stmt, nullptr);
  if (rc != SQLITE_OK) Throw(db, rc);
  if (!stmt) Refuse(Fault::BadArgument, "recordset source is empty");

  conn_ = &activeConnection;
  stmt_ = stmt;
  lockType_ = lockType;
  // Step before reading the columns: if another program changed the table since the schema was
  // cached, the first step prepares the statement again, and only then are the columns current.
  try {
    Step();
  } catch (...) {
    Close();
    throw;
  }
  const int columns = sqlite3_column_count(stmt);
  names_.clear();
  for (int i = 0; i < columns; ++i) names_.push_back(Utf8ToUtf16(sqlite3_column_name(stmt, i)));
  const char* table = columns > 0 ? sqlite3_column_table_name(stmt, 0) : nullptr;
  table_ = table ? Utf8ToUtf16(table) : std::u16string();
  values_.assign(columns, {});
  pending_.assign(columns, {});
  set_.assign(columns, false);
  adding_ = false;
}

void Recordset::Close() noexcept {
  sqlite3_finalize(stmt_);
  sqlite3_finalize(insert_);
  stmt_ = nullptr;
  insert_ = nullptr;
  insertColumns_.clear();
  conn_ = nullptr;
  eof_ = true;
  adding_ = false;
}

void Recordset::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    eof_ = false;
  } else if (rc == SQLITE_DONE) {
    eof_ = true;
  } else {
    Fail(rc);
  }
}

bool Recordset::Eof() const {
  RequireOpen();
  return eof_;
}

void Recordset::MoveNext() {
  RequireOpen();
  if (eof_) Refuse(Fault::BadArgument, "no current row");
  Step();
}

Field Recordset::Fields(std::u16string_view name) {
  RequireOpen();
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (EqualsIgnoringCase(names_[i], name)) return Field(this, static_cast<int>(i));
  Refuse(Fault::NoSuchField, "no such field: " + Utf16ToUtf8(name));
}

void Recordset::AddNew() {
  RequireOpen();
  if (lockType_ != adLockOptimistic) Refuse(Fault::BadArgument, "recordset is read-only");
  if (table_.empty()) Refuse(Fault::BadArgument, "recordset has no table to add to");
  std::fill(set_.begin(), set_.end(), false);
  adding_ = true;
}

void Recordset::Update() {
  RequireOpen();
  if (!adding_) Refuse(Fault::BadArgument, "no row is being added");
  sqlite3* db = sqlite3_db_handle(stmt_);
  if (!insert_ || insertColumns_ != set_) {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    std::string columns, values;
    for (std::size_t i = 0; i < set_.size(); ++i) {
      if (!set_[i]) continue;
      columns += (columns.empty() ? "" : ",") + QuoteIdentifier(names_[i]);
      values += values.empty() ? "?" : ",?";
    }
    const std::string sql = "insert into " + QuoteIdentifier(table_) +
                            (columns.empty() ? " default values"
                                             : " (" + columns + ") values (" + values + ")");
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &insert_, nullptr);
    if (rc != SQLITE_OK) Throw(db, rc);
    insertColumns_ = set_;
  }
  int parameter = 0;
  for (std::size_t i = 0; i < set_.size(); ++i) {
    if (!set_[i]) continue;
    sqlite3_bind_text(insert_, ++parameter, pending_[i].data(), static_cast<int>(pending_[i].size()),
                      SQLITE_STATIC);
  }
  const int rc = sqlite3_step(insert_);
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  adding_ = false;
  if (rc != SQLITE_DONE) Throw(db, rc);
}

// ---- Field ----

const std::u16string& Field::Value() const {
  Recordset& rs = *recordset_;
  rs.RequireOpen();
  std::u16string& value = rs.values_[column_];
  value.clear();
  if (rs.adding_) {
    if (rs.set_[column_]) AppendUtf8AsUtf16(rs.pending_[column_], value);
    return value;
  }
  if (rs.eof_) Refuse(Fault::BadArgument, "no current row");
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rs.stmt_, column_));
  if (text) AppendUtf8AsUtf16({text, static_cast<std::size_t>(sqlite3_column_bytes(rs.stmt_, column_))}, value);
  return value;
}

void Field::SetValue(std::u16string_view value) const {
  Recordset& rs = *recordset_;
  rs.RequireOpen();
  if (!rs.adding_) Refuse(Fault::BadArgument, "field can only be set on a row being added");
  // Converted into the buffer of the previous row's value: no allocation once it is big enough.
  std::string& pending = rs.pending_[column_];
  pending.clear();
  AppendUtf16AsUtf8(value, pending);
  rs.set_[column_] = true;
}

}  // namespace store::ado
