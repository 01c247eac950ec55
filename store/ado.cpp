#include "store/ado.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstring>
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

Fault ClassifyError(const char* message) {
  if (StartsWith(message, "no such table")) return Fault::NoSuchTable;
  if (StartsWith(message, "no such column") || std::strstr(message, "has no column named"))
    return Fault::NoSuchField;
  return Fault::Engine;
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
    case SQLITE_TOOBIG:
      return Fault::TooBig;
    case SQLITE_ERROR:
      return ClassifyError(message);
    default:
      return Fault::Engine;
  }
}

[[noreturn]] void Throw(sqlite3* db, int code) {
  const int extended = db ? sqlite3_extended_errcode(db) : code;
  // The handle's error may belong to a later call; trust the code we were given when they differ.
  const bool current = (extended & 0xFF) == (code & 0xFF);
  const char* message = db && current ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  throw Error(Classify(code, message, db), current ? extended : code, message);
}

[[noreturn]] void Refuse(Fault fault, const std::string& message) { throw Error(fault, 0, message); }

std::u16string_view Trim(std::u16string_view text) {
  const std::size_t first = text.find_first_not_of(u" \t");
  if (first == std::u16string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
           return lower(x) == lower(y);
         });
}

struct ConnectionString {
  std::u16string_view provider, mode, dataSource;
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
    const std::u16string_view key = Trim(pair.substr(0, equals));
    const std::u16string_view value = Trim(pair.substr(equals + 1));
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

std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

StatementHandle Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  StatementHandle handle(stmt);
  if (rc != SQLITE_OK) Throw(db, rc);
  if (!handle) Refuse(Fault::BadArgument, "statement is empty");
  return handle;
}

}  // namespace

std::filesystem::path NativePath(std::u16string_view path) {
  std::u16string native(path);
  const std::size_t separator = native.rfind(u'\\');
  if (separator != std::u16string::npos)
    native[separator] = static_cast<char16_t>(std::filesystem::path::preferred_separator);
  return std::filesystem::path(native);
}

void CloseDatabase::operator()(sqlite3* db) const noexcept {
  // close_v2 because a recordset may still hold a statement; the handle goes with the last one.
  sqlite3_close_v2(db);
}

void FinalizeStatement::operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }

// ---- Connection ----

void Connection::Open(std::u16string_view connectionString, std::u16string_view /*userId*/,
                      std::u16string_view /*password*/, long /*options*/) {
  if (db_) Refuse(Fault::BadArgument, "connection is already open");
  const ConnectionString parts = ParseConnectionString(connectionString);
  if (!EqualsIgnoringCase(parts.provider, u"Microsoft.Jet.OLEDB.4.0"))
    Refuse(Fault::BadArgument, "unsupported provider " + Utf16ToUtf8(parts.provider));
  if (!EqualsIgnoringCase(parts.mode, u"ReadWrite"))
    Refuse(Fault::BadArgument, "unsupported mode " + Utf16ToUtf8(parts.mode));
  if (parts.dataSource.empty()) Refuse(Fault::CantOpen, "connection string names no data source");

  sqlite3* db = nullptr;
  // No SQLITE_OPEN_CREATE: a missing file is an error, never a new empty database.
  const int rc = sqlite3_open_v2(NativePath(parts.dataSource).u8string().c_str(), &db,
                                 SQLITE_OPEN_READWRITE, nullptr);
  DatabaseHandle handle(db);
  if (rc != SQLITE_OK) {
    const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw Error(Classify(rc, message, nullptr), rc, message);
  }
  sqlite3_extended_result_codes(db, 1);
  // The customer-service software may hold the file; wait for its locks before giving up.
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  db_ = std::move(handle);
}

sqlite3* Connection::Handle() const {
  if (!db_) Refuse(Fault::ConnectionClosed, "connection is closed");
  return db_.get();
}

void Connection::Execute(std::u16string_view commandText, long /*options*/) {
  sqlite3* db = Handle();
  const int rc = sqlite3_exec(db, Utf16ToUtf8(commandText).c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Throw(db, rc);
}

void Connection::BeginTrans() { Execute(u"begin immediate", adOptionUnspecified); }

void Connection::CommitTrans() { Execute(u"commit", adOptionUnspecified); }

void Connection::RollbackTrans() noexcept {
  if (db_ && !sqlite3_get_autocommit(db_.get())) sqlite3_exec(db_.get(), "rollback", nullptr, nullptr, nullptr);
}

bool Connection::FileMoved() const {
  int moved = 0;
  return db_ && sqlite3_file_control(db_.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
         moved != 0;
}

bool Connection::NumbersRows(std::u16string_view table, std::u16string_view column) const {
  sqlite3* db = Handle();
  // Where the row id has a column of its own, SQLite names that column as the origin of the
  // row id. A column of the table may hide one name of the row id, so all three are tried.
  for (const char* rowid : {"rowid", "oid", "_rowid_"}) {
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = std::string("select ") + rowid + " from " + QuoteIdentifier(Utf16ToUtf8(table));
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    const StatementHandle select(stmt);
    if (rc != SQLITE_OK && ClassifyError(sqlite3_errmsg(db)) != Fault::NoSuchField) Throw(db, rc);
    const char* origin = rc == SQLITE_OK ? sqlite3_column_origin_name(stmt, 0) : nullptr;
    if (origin && EqualsIgnoringCase(Utf8ToUtf16(origin), column)) return true;
  }
  return false;
}

// ---- Recordset ----

namespace {

// The database's text encoding, which every text is read and bound in.
int TextEncoding(sqlite3* db) {
  const StatementHandle pragma = Prepare(db, "pragma encoding");
  const int rc = sqlite3_step(pragma.get());
  if (rc != SQLITE_ROW) Throw(db, rc);
  const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(pragma.get(), 0));
  if (StartsWith(name, "UTF-16le")) return SQLITE_UTF16LE;
  if (StartsWith(name, "UTF-16be")) return SQLITE_UTF16BE;
  return SQLITE_UTF8;
}

}  // namespace

void Recordset::Fail(int code) const { Throw(select_ ? sqlite3_db_handle(select_.get()) : nullptr, code); }

void Recordset::RequireOpen() const {
  if (!select_) Refuse(Fault::BadArgument, "recordset is closed");
}

void Recordset::Open(std::u16string_view source, Connection& activeConnection, long /*cursorType*/,
                     long lockType, long /*options*/) {
  if (select_) Refuse(Fault::BadArgument, "recordset is already open");
  if (lockType != adLockReadOnly && lockType != adLockOptimistic)
    Refuse(Fault::BadArgument, "unsupported lock type");
  sqlite3* db = activeConnection.Handle();
  encoding_ = TextEncoding(db);
  select_ = Prepare(db, Utf16ToUtf8(source));
  updatable_ = lockType == adLockOptimistic;
  // Step before reading the columns: if another program changed the table since the schema was
  // cached, the first step prepares the statement again, and only then are the columns current.
  try {
    Step();
  } catch (...) {
    Close();
    throw;
  }
  const int columns = sqlite3_column_count(select_.get());
  names_.clear();
  for (int i = 0; i < columns; ++i) names_.push_back(Utf8ToUtf16(sqlite3_column_name(select_.get(), i)));
  const char* table = columns > 0 ? sqlite3_column_table_name(select_.get(), 0) : nullptr;
  table_ = table ? table : "";
  values_.assign(columns, {});
  pending_.assign(columns, {});
  set_.assign(columns, false);
}

void Recordset::Close() noexcept {
  select_.reset();
  insert_.reset();
  insertColumns_.clear();
  eof_ = true;
  adding_ = false;
}

void Recordset::Step() {
  const int rc = sqlite3_step(select_.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc);
  eof_ = rc == SQLITE_DONE;
}

bool Recordset::Eof() const {
  RequireOpen();
  return eof_;
}

void Recordset::MoveNext() {
  if (Eof()) Refuse(Fault::BadArgument, "no current row");
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
  if (!updatable_ || table_.empty()) Refuse(Fault::BadArgument, "recordset cannot add rows");
  std::fill(set_.begin(), set_.end(), false);
  adding_ = true;
}

void Recordset::PrepareInsert() {
  std::string columns, values;
  for (std::size_t i = 0; i < set_.size(); ++i) {
    if (!set_[i]) continue;
    columns += (columns.empty() ? "" : ",") + QuoteIdentifier(Utf16ToUtf8(names_[i]));
    values += values.empty() ? "?" : ",?";
  }
  const std::string sql = "insert into " + QuoteIdentifier(table_) +
                          (columns.empty() ? " default values" : " (" + columns + ") values (" + values + ")");
  insert_ = Prepare(sqlite3_db_handle(select_.get()), sql);
  insertColumns_ = set_;
}

void Recordset::Update() {
  RequireOpen();
  if (!adding_) Refuse(Fault::BadArgument, "no row is being added");
  adding_ = false;
  if (!insert_) PrepareInsert();
  if (set_ != insertColumns_) Refuse(Fault::BadArgument, "every added row must set the same fields");
  int parameter = 0;
  for (std::size_t i = 0; i < set_.size(); ++i) {
    if (!set_[i]) continue;
    // A value SQLite cannot take (longer than its limit) fails here, never stored as NULL.
    const int rc = sqlite3_bind_text64(insert_.get(), ++parameter, pending_[i].data(),
                                       pending_[i].size(), SQLITE_STATIC, static_cast<unsigned char>(encoding_));
    if (rc != SQLITE_OK) Fail(rc);
  }
  const int rc = sqlite3_step(insert_.get());
  sqlite3_reset(insert_.get());
  if (rc != SQLITE_DONE) Fail(rc);
}

// ---- Field ----

namespace {

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
  if (size % 2 != 0) Refuse(Fault::NotText, "a BLOB of odd length in a UTF-16 database");
  for (std::size_t i = 0; i < size; i += 2)
    out.push_back(static_cast<char16_t>(bigEndian ? bytes[i] << 8 | bytes[i + 1] : bytes[i + 1] << 8 | bytes[i]));
}

// The bytes of UTF-16 code units in a UTF-16 database's byte order.
void AppendUnitsAsBytes(std::u16string_view units, bool bigEndian, std::string& out) {
  for (const char16_t unit : units) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out.push_back(bigEndian ? high : low);
    out.push_back(bigEndian ? low : high);
  }
}

}  // namespace

const std::u16string& Field::Value() const {
  Recordset& rs = *recordset_;
  if (rs.Eof()) Refuse(Fault::BadArgument, "no current row");
  sqlite3_stmt* stmt = rs.select_.get();
  std::u16string& value = rs.values_[column_];
  value.clear();
  const int type = sqlite3_column_type(stmt, column_);
  if (type == SQLITE_NULL) return value;
  if (type == SQLITE_FLOAT) return value = Utf8ToUtf16(RealText(stmt, column_));
  // Text and BLOBs as the bytes stored, in the database's encoding; an integer as its digits.
  const void* data = sqlite3_column_blob(stmt, column_);
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(stmt, column_));
  if (!data && size > 0) rs.Fail(SQLITE_NOMEM);
  if (rs.encoding_ == SQLITE_UTF8 || type == SQLITE_INTEGER) {
    AppendUtf8AsUtf16({static_cast<const char*>(data), size}, value);
  } else {
    AppendBlobUnits(static_cast<const unsigned char*>(data), size, rs.encoding_ == SQLITE_UTF16BE, value);
  }
  return value;
}

void Field::SetValue(std::u16string_view value) const {
  Recordset& rs = *recordset_;
  rs.RequireOpen();
  if (!rs.adding_) Refuse(Fault::BadArgument, "field can only be set on a row being added");
  // Converted into the buffer of the previous row's value: no allocation once it is big enough.
  std::string& pending = rs.pending_[column_];
  pending.clear();
  if (rs.encoding_ == SQLITE_UTF8) {
    AppendUtf16AsUtf8(value, pending);
  } else {
    // A byte order mark first: SQLite takes a leading one for the order of the bytes and drops
    // it, so the value's own first unit (which may be U+FEFF or U+FFFE) is never taken for one.
    AppendUnitsAsBytes(u"\uFEFF", rs.encoding_ == SQLITE_UTF16BE, pending);
    AppendUnitsAsBytes(value, rs.encoding_ == SQLITE_UTF16BE, pending);
  }
  rs.set_[column_] = true;
}

}  // namespace store::ado
