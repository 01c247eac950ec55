#include "store/odbc_engine.h"

#ifdef _WIN32
#include <windows.h>  // the types sql.h is written in
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

#include "store/sqlite_engine.h"
#include "store/utf.h"

namespace store {

namespace {

using Text = std::vector<SQLWCHAR>;  // a text as the ODBC calls take it, ended by a 0

Text Wide(std::u16string_view text) {
  Text wide(text.begin(), text.end());
  wide.push_back(0);
  return wide;
}

// A column's name with A to Z made small, as SQL compares names.
std::u16string Lower(std::u16string name) {
  for (char16_t& c : name) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  return name;
}

// ---- What differs between the drivers: everything Jet-only lives here ----

// The fault of a diagnostic record: first by the standard SQLSTATE, then by the driver's own
// number for the states drivers share ("HY000", a general error).
Fault ClassifyState(const std::u16string& state) {
  // No such driver: Windows says IM002 or IM003; unixODBC (also under wine) only warns that it
  // could not load the driver, and that warning is then all a failed connection says.
  if (state == u"IM002" || state == u"IM003" || state == u"01000") return Fault::DriverMissing;
  if (state == u"42S02") return Fault::NoSuchTable;
  // Jet takes an unknown column name for a parameter: "07002, too few parameters".
  if (state == u"42S22" || state == u"07002") return Fault::NoSuchField;
  if (state.compare(0, 2, u"23") == 0) return Fault::Constraint;
  if (state == u"22001") return Fault::TooBig;  // a Jet TEXT column holds 255 characters
  if (state == u"HYT00" || state == u"HYT01" || state == u"40001") return Fault::Busy;
  if (state.compare(0, 2, u"08") == 0) return Fault::CantOpen;
  return Fault::Engine;
}

// Jet's own error numbers, which the Access driver gives as negative native errors. Written from
// the driver's documentation and Jet's error list; only a Windows machine with a real Jet file
// can confirm which number each failure brings.
Fault ClassifyJet(SQLINTEGER native) {
  switch (native) {
    case -1032:  // file already in use, or opened exclusively (its .ldb lock file included)
    case -3218:  // could not update; currently locked
    case -3260:  // could not update; currently locked by another user
      return Fault::Busy;
    case -1809:  // permission denied
    case -3035:  // operation must use an updateable query: a read-only file or folder
      return Fault::ReadOnly;
    case -1811: return Fault::CantOpen;    // file not found
    case -1305: return Fault::NoSuchTable; // object not found
    case -1605: return Fault::Duplicate;   // duplicate value in an index, primary key or relationship
    case -1206: return Fault::Corrupt;
    case -1808: return Fault::DiskFull;
    case -1022: return Fault::Io;          // disk or network error
    default: return Fault::Engine;
  }
}

struct Dialect {
  std::u16string_view connection;  // the connection string up to the file's name
  bool jet;                        // Jet: ids are 32-bit AutoNumbers, errors Jet's numbers
};

Dialect DialectOf(OdbcDriver driver) {
  switch (driver) {
    case OdbcDriver::Jet: return {u"DRIVER={Microsoft Access Driver (*.mdb)};DBQ=", true};
    case OdbcDriver::Ace: return {u"DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=", true};
    default: return {u"DRIVER={SQLite3};NoCreat=1;Timeout=3000;DATABASE=", false};
  }
}

// ---- Handles ----

struct FreeHandle {
  SQLSMALLINT type;
  void operator()(SQLHANDLE handle) const noexcept { SQLFreeHandle(type, handle); }
};
using Handle = std::unique_ptr<void, FreeHandle>;

Handle Allocate(SQLSMALLINT type, SQLHANDLE parent) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle))) throw std::bad_alloc();
  return Handle(handle, FreeHandle{type});
}

class OdbcEngine final : public Engine {
 public:
  OdbcEngine(Dialect dialect, const std::u16string& file);
  ~OdbcEngine() override {
    Rollback();
    for (Handle* stmt : {&delete_, &update_, &insert_}) stmt->reset();  // before the connection goes
    SQLDisconnect(dbc_.get());
  }

  void ReadRows(IdRange range, const RowVisitor& visit) override;
  // Jet keeps no version of its files an ODBC client can read: the table is always read.
  std::optional<std::uint64_t> Version() override { return std::nullopt; }
  void BeginWrite() override;
  void Delete(std::int64_t id) override;
  void Move(std::int64_t from, std::int64_t to) override;
  void Update(const RowTexts& row) override { WriteTexts(update_, u"UPDATE zorvrobot SET ask = ?, answer = ? WHERE id = ?", row); }
  void Insert(const RowTexts& row) override { WriteTexts(insert_, u"INSERT INTO zorvrobot (ask, answer, id) VALUES (?, ?, ?)", row); }
  void Commit() override;
  void Rollback() noexcept override;

 private:
  [[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle) const;
  void Check(SQLRETURN rc, SQLHANDLE stmt) const {
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Fail(SQL_HANDLE_STMT, stmt);
  }
  Handle Prepare(std::u16string_view sql);
  void BindId(SQLHANDLE stmt, SQLUSMALLINT parameter, std::int64_t id);
  void BindText(SQLHANDLE stmt, SQLUSMALLINT parameter, std::u16string_view text, Text& buffer, SQLLEN& length);
  std::int64_t GetId(SQLHANDLE stmt, SQLUSMALLINT column);
  void GetText(SQLHANDLE stmt, SQLUSMALLINT column, std::u16string& text);
  bool NumbersRows();
  std::u16string OtherColumns();
  void Execute(SQLHANDLE stmt);
  void WriteTexts(Handle& stmt, std::u16string_view sql, const RowTexts& row);

  Dialect dialect_;
  Handle env_, dbc_;
  bool writing_ = false;
  std::int64_t ids_[3] = {};   // bound ids, which must last until their statement has run
  std::int32_t id32_[3] = {};  // their 32-bit copies, for Jet
  Text ask_, answer_;          // bound texts
  SQLLEN askLength_ = 0, answerLength_ = 0;
  std::optional<std::u16string> columns_;  // the table's other columns, found at the first move
  // The write statements, prepared at their first use.
  Handle delete_{nullptr, FreeHandle{SQL_HANDLE_STMT}}, update_{nullptr, FreeHandle{SQL_HANDLE_STMT}};
  Handle insert_{nullptr, FreeHandle{SQL_HANDLE_STMT}};
};

OdbcEngine::OdbcEngine(Dialect dialect, const std::u16string& file)
    : dialect_(dialect), env_(Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE)) {
  SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  dbc_ = Allocate(SQL_HANDLE_DBC, env_.get());
  // A name holding ";" goes in braces, so that the ";" is part of it. (The Access driver reads
  // such a name as the ODBC rules say; only Windows can confirm it. The SQLite driver cannot.)
  std::u16string connection(dialect.connection);
  const bool braces = file.find_first_of(u";{}") != std::u16string::npos;
  connection += braces ? u"{" : u"";
  for (const char16_t c : file) connection += c == u'}' ? std::u16string(u"}}") : std::u16string(1, c);
  connection += braces ? u"}" : u"";
  Text text = Wide(connection);
  SQLWCHAR out[1024];
  SQLSMALLINT outLength = 0;
  const SQLRETURN rc = SQLDriverConnectW(dbc_.get(), nullptr, text.data(), SQL_NTS, out, 1024, &outLength,
                                         SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) Fail(SQL_HANDLE_DBC, dbc_.get());
}

// Throws the failure the diagnostic records describe: the first that is not a warning ("01..."),
// as unixODBC puts a warning first when it cannot load a driver.
void OdbcEngine::Fail(SQLSMALLINT type, SQLHANDLE handle) const {
  std::u16string code, message;
  SQLINTEGER native = 0;
  for (SQLSMALLINT record = 1; code.empty() || code.compare(0, 2, u"01") == 0; ++record) {
    SQLWCHAR state[6] = {}, text[1024] = {};
    SQLINTEGER number = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, record, state, &number, text, 1024, &length))) break;
    code.assign(state, state + 5), message.assign(text, text + std::clamp<SQLSMALLINT>(length, 0, 1023));
    native = number;
  }
  Fault fault = ClassifyState(code);
  // The driver's own number says more of a general error, and which constraint refused a row.
  // (The SQLite ODBC driver's native errors are SQLite's own result codes.)
  if (fault == Fault::Engine || fault == Fault::Constraint) {
    const Fault own = dialect_.jet ? ClassifyJet(native) : SqliteFault(native, Utf16ToUtf8(message).c_str(), false);
    if (own != Fault::Engine) fault = own;
  }
  throw Error(fault, static_cast<int>(native), Utf16ToUtf8(code + u" " + message));
}

Handle OdbcEngine::Prepare(std::u16string_view sql) {
  Handle stmt = Allocate(SQL_HANDLE_STMT, dbc_.get());
  Text text = Wide(sql);
  Check(SQLPrepareW(stmt.get(), text.data(), SQL_NTS), stmt.get());
  return stmt;
}

// Binds a copy of id, kept until the statement has run (Jet's AutoNumber is a 32-bit Long, and an
// id beyond it cannot be stored).
void OdbcEngine::BindId(SQLHANDLE stmt, SQLUSMALLINT parameter, std::int64_t value) {
  std::int64_t& id = ids_[parameter - 1] = value;
  SQLRETURN rc;
  if (dialect_.jet) {
    if (id < INT32_MIN || id > INT32_MAX) throw Error(Fault::OrderNotKept, 0, "an id beyond a 32-bit AutoNumber");
    id32_[parameter - 1] = static_cast<std::int32_t>(id);
    rc = SQLBindParameter(stmt, parameter, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id32_[parameter - 1], 0, nullptr);
  } else {
    rc = SQLBindParameter(stmt, parameter, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                          &id, 0, nullptr);
  }
  Check(rc, stmt);
}

void OdbcEngine::BindText(SQLHANDLE stmt, SQLUSMALLINT parameter, std::u16string_view text, Text& buffer,
                          SQLLEN& length) {
  buffer.assign(text.begin(), text.end());
  buffer.push_back(0);
  length = static_cast<SQLLEN>(text.size() * sizeof(SQLWCHAR));
  Check(SQLBindParameter(stmt, parameter, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WLONGVARCHAR,
                         std::max<SQLULEN>(text.size(), 1), 0, buffer.data(), length, &length),
        stmt);
}

std::int64_t OdbcEngine::GetId(SQLHANDLE stmt, SQLUSMALLINT column) {
  SQLBIGINT id = 0;
  SQLINTEGER id32 = 0;
  SQLLEN indicator = 0;
  const SQLRETURN rc = dialect_.jet ? SQLGetData(stmt, column, SQL_C_SLONG, &id32, 0, &indicator)
                                    : SQLGetData(stmt, column, SQL_C_SBIGINT, &id, 0, &indicator);
  Check(rc, stmt);
  return dialect_.jet ? id32 : id;
}

// A text column in pieces: each call gives what fits and says whether more is left.
void OdbcEngine::GetText(SQLHANDLE stmt, SQLUSMALLINT column, std::u16string& text) {
  text.clear();
  SQLWCHAR piece[4096];
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, piece, sizeof piece, &indicator);
    if (rc == SQL_NO_DATA || indicator == SQL_NULL_DATA) return;
    Check(rc, stmt);
    const bool more = rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator >= SQLLEN(sizeof piece));
    const std::size_t units = more ? std::size(piece) - 1 : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
    text.append(piece, piece + units);
    if (!more) return;
  }
}

void OdbcEngine::ReadRows(IdRange range, const RowVisitor& visit) {
  const Handle select = Prepare(range.IsAll() ? u"SELECT id, ask, answer FROM zorvrobot ORDER BY id"
                                              : u"SELECT id, ask, answer FROM zorvrobot WHERE id BETWEEN ? AND ? ORDER BY id");
  if (!range.IsAll()) BindId(select.get(), 1, range.first), BindId(select.get(), 2, range.last);
  Check(SQLExecute(select.get()), select.get());
  std::u16string ask, answer;  // reused from row to row
  SQLRETURN rc;
  while ((rc = SQLFetch(select.get())) != SQL_NO_DATA) {
    Check(rc, select.get());
    const std::int64_t id = GetId(select.get(), 1);
    GetText(select.get(), 2, ask);
    GetText(select.get(), 3, answer);
    visit(id, ask, answer);
  }
}

// True iff id alone is a unique key of the table, as an AutoNumber primary key is: a unique index
// whose only column is id.
bool OdbcEngine::NumbersRows() {
  const Handle stmt = Allocate(SQL_HANDLE_STMT, dbc_.get());
  Text table = Wide(u"zorvrobot");
  Check(SQLStatisticsW(stmt.get(), nullptr, 0, nullptr, 0, table.data(), SQL_NTS, SQL_INDEX_UNIQUE, SQL_QUICK),
        stmt.get());
  std::u16string index, column;
  std::vector<std::pair<std::u16string, std::u16string>> columns;  // (index, column)
  while (SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
    GetText(stmt.get(), 6, index);
    GetText(stmt.get(), 9, column);
    if (!index.empty()) columns.emplace_back(index, Lower(column));
  }
  return std::any_of(columns.begin(), columns.end(), [&](const auto& entry) {
    return entry.second == u"id" && std::count_if(columns.begin(), columns.end(), [&](const auto& other) {
             return other.first == entry.first;
           }) == 1;
  });
}

void OdbcEngine::BeginWrite() {
  const SQLRETURN rc = SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  if (!SQL_SUCCEEDED(rc)) Fail(SQL_HANDLE_DBC, dbc_.get());
  writing_ = true;
  try {
    if (!NumbersRows()) throw Error(Fault::OrderNotKept, 0, "zorvrobot.id is not a unique key");
  } catch (...) {
    Rollback();
    throw;
  }
}

// The table's columns other than id, ask and answer, each in brackets, with a comma before it.
std::u16string OdbcEngine::OtherColumns() {
  const Handle select = Prepare(u"SELECT * FROM zorvrobot WHERE 1 = 0");
  Check(SQLExecute(select.get()), select.get());
  SQLSMALLINT count = 0;
  Check(SQLNumResultCols(select.get(), &count), select.get());
  std::u16string columns;
  for (SQLUSMALLINT i = 1; i <= count; ++i) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    Check(SQLColAttributeW(select.get(), i, SQL_DESC_NAME, name, sizeof name, &length, nullptr), select.get());
    std::u16string text(name, name + std::min<std::size_t>(length / sizeof(SQLWCHAR), 255));
    const std::u16string lower = Lower(text);
    if (lower != u"id" && lower != u"ask" && lower != u"answer") columns += u", [" + text + u"]";
  }
  return columns;
}

// Runs a write and checks that it wrote exactly one row: Jet takes no read locks, so a row read
// before may be gone by the time it is written.
void OdbcEngine::Execute(SQLHANDLE stmt) {
  Check(SQLExecute(stmt), stmt);
  SQLLEN rows = 0;
  Check(SQLRowCount(stmt, &rows), stmt);
  if (rows != 1) throw Error(Fault::Vanished, 0, "a row the save writes is not there");
}

void OdbcEngine::Delete(std::int64_t id) {
  if (!delete_) delete_ = Prepare(u"DELETE FROM zorvrobot WHERE id = ?");
  BindId(delete_.get(), 1, id);
  Execute(delete_.get());
}

void OdbcEngine::WriteTexts(Handle& stmt, std::u16string_view sql, const RowTexts& row) {
  if (!stmt) stmt = Prepare(sql);
  BindText(stmt.get(), 1, row.ask, ask_, askLength_);
  BindText(stmt.get(), 2, row.answer, answer_, answerLength_);
  BindId(stmt.get(), 3, row.id);
  Execute(stmt.get());
}

// Jet cannot change an AutoNumber id: the row is copied under its new id, every other column
// with it, and the old one goes. The copy first holds texts made of the old id, which no other
// row holds, so that a unique index on ask or answer never sees a text twice; it gets its own
// texts back once the old row is gone. The ids are the store's own numbers, written as digits.
void OdbcEngine::Move(std::int64_t from, std::int64_t to) {
  if (!columns_) columns_ = OtherColumns();
  std::u16string ask, answer;
  bool found = false;
  ReadRows({from, from}, [&](std::int64_t, std::u16string_view a, std::u16string_view b) { ask = a, answer = b, found = true; });
  if (!found) throw Error(Fault::Vanished, 0, "a row the save moves is not there");
  const std::u16string f = Utf8ToUtf16(std::to_string(from)), t = Utf8ToUtf16(std::to_string(to));
  const std::u16string stand = PlaceholderText(from);
  const Handle copy = Prepare(u"INSERT INTO zorvrobot (id, ask, answer" + *columns_ + u") SELECT " + t + u", ?, ?" +
                              *columns_ + u" FROM zorvrobot WHERE id = " + f);
  BindText(copy.get(), 1, stand, ask_, askLength_);
  BindText(copy.get(), 2, stand, answer_, answerLength_);
  Execute(copy.get());
  Delete(from);
  Update({to, ask, answer});
}

void OdbcEngine::Commit() {
  if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_COMMIT))) Fail(SQL_HANDLE_DBC, dbc_.get());
  writing_ = false;
  SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

void OdbcEngine::Rollback() noexcept {
  if (!writing_) return;
  writing_ = false;
  SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
  SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

}  // namespace

std::unique_ptr<Engine> OpenOdbcEngine(OdbcDriver driver, const std::u16string& file) {
  return std::make_unique<OdbcEngine>(DialectOf(driver), file);
}

}  // namespace store
