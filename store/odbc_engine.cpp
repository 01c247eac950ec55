#include "store/odbc_engine.h"

#include "store/odbcapi.h"

#ifndef _WIN32
#include <iconv.h>
#endif

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>
#include <vector>

#include "store/utf.h"

namespace store {

namespace {

using odbc::Allocate;
using odbc::FreeHandle;
using odbc::Handle;
using odbc::Text;
using odbc::Wide;

// A column's name with A to Z made small, as SQL compares names.
std::u16string Lower(std::u16string name) {
  for (char16_t& c : name) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  return name;
}

// ---- What differs between the drivers: everything Jet-only lives here ----
//
// Written from Microsoft's documentation of its Access driver and Jet's error list. Only a Windows
// machine with a real Jet file can confirm: ExtendedAnsiSQL=1, with which the driver refuses a
// value too long for its column (22001) instead of cutting it without a word; the driver found by
// its translated name; Jet's error numbers; the short name of a file whose name holds ";", "{" or
// "}"; the counter lifted after a save that wrote ids; Jet 3 texts held to the system's code
// page; and, in the engine below, the 32-bit id parameters and the row copy of a move (Move).

// The fault of a standard SQLSTATE, or Engine for the states drivers share ("HY000").
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

// Jet's own error numbers, which the Access driver gives as negative native errors.
Fault ClassifyJet(std::int32_t native) {
  switch (native) {
    case -1032:  // file already in use, or opened exclusively (its .ldb lock file included)
    case -3218:  // could not update; currently locked
    case -3260:  // could not update; currently locked by another user
      return Fault::Busy;
    case -1809:  // permission denied
    case -3027:  // cannot update; database or object is read-only (a read-only file among others)
    case -3073:  // operation must use an updatable query: a read-only file or folder
      return Fault::ReadOnly;
    case -1811:  // file not found
    case -1044:  // not a valid file name
      return Fault::CantOpen;
    case -1305: return Fault::NoSuchTable; // object not found
    case -1605: return Fault::Duplicate;   // duplicate value in an index, primary key or relationship
    case -1206: return Fault::Corrupt;
    case -1808: return Fault::DiskFull;
    case -1022: return Fault::Io;          // disk or network error
    default: return Fault::Engine;
  }
}

// The stand-in driver's native errors, which are SQLite's primary result codes.
Fault ClassifyStandIn(std::int32_t native, const std::u16string& message) {
  const auto says = [&](std::u16string_view words) { return message.find(words) != std::u16string::npos; };
  switch (native) {
    case 1:  // SQLITE_ERROR, for a missing table or column among others
      return says(u"no such table") ? Fault::NoSuchTable : says(u"no such column") ? Fault::NoSuchField : Fault::Engine;
    case 5: case 6: return Fault::Busy;  // SQLITE_BUSY, SQLITE_LOCKED
    case 8: return Fault::ReadOnly;
    case 10: return Fault::Io;
    case 11: return Fault::Corrupt;
    case 13: return Fault::DiskFull;
    case 14: return Fault::CantOpen;
    case 18: return Fault::TooBig;
    case 26: return Fault::NotADatabase;
    case 19:  // SQLITE_CONSTRAINT, whose message says which constraint
      return says(u"UNIQUE constraint failed") ? Fault::Duplicate : Fault::Constraint;
    default: return Fault::Engine;
  }
}

#ifdef _WIN32
// The short (8.3) form of a file's name, or the name itself where the volume keeps none.
std::u16string ShortName(const std::u16string& file) {
  const std::wstring wide(file.begin(), file.end());
  const DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
  std::wstring shortName(size, L'\0');
  if (size == 0 || GetShortPathNameW(wide.c_str(), shortName.data(), size) + 1 != size) return file;
  shortName.pop_back();
  return std::u16string(shortName.begin(), shortName.end());
}
#endif

// The file's name as a connection string's value. The ODBC grammar puts a value holding ";" or
// "{" in braces, and has no escape for "}": on Windows such a name goes by its short form, and
// one that still holds "}" cannot be passed at all.
std::u16string FileValue(std::u16string file) {
#ifdef _WIN32
  if (file.find_first_of(u";{}") != std::u16string::npos) file = ShortName(file);
#endif
  if (file.find(u'}') != std::u16string::npos)
    throw Error(Fault::CantOpen, 0, "an ODBC connection string cannot name a file whose name holds }");
  return file.find_first_of(u";{") != std::u16string::npos ? u"{" + file + u"}" : file;
}

std::u16string ConnectionString(OdbcDriver driver, SQLHENV env, const std::u16string& file) {
  if (driver == OdbcDriver::Sqlite) return OdbcConnectionString(driver, u"", file);
  const std::optional<std::u16string> name = ChooseAccessDriver(odbc::InstalledDrivers(env), driver);
  if (!name) throw Error(Fault::DriverMissing, 0, "no installed ODBC driver reads this Access file");
  return OdbcConnectionString(driver, *name, file);
}

// Jet may set an AutoNumber's counter to follow the last id written into it even where that lies
// below others, and the customer-service software's next row would then take an id in use. A row
// written just above the highest id and removed again leaves the counter above every id.
void LiftCounter(Engine& table, std::int64_t highest) {
  if (highest >= INT32_MAX) return;  // no id above it for the counter to reach
  const std::u16string stand = PlaceholderText(highest + 1);
  table.Insert({highest + 1, stand, stand});
  table.Delete(highest + 1);
}

// The code page a Jet 3 file's texts are in: the system's.
unsigned SystemCodePage() {
#ifdef _WIN32
  return GetACP();
#else
  return 1252;  // Jet's Western default; no Access driver runs outside Windows
#endif
}

class OdbcEngine final : public Engine {
 public:
  OdbcEngine(OdbcDriver driver, const std::u16string& file);
  ~OdbcEngine() override {
    Rollback();
    for (Handle* stmt : {&delete_, &update_, &insert_}) stmt->reset();  // before the connection goes
    SQLDisconnect(dbc_.get());
  }

  void ReadRows(IdRange range, const RowVisitor& visit) override;
  // Jet keeps no version of its files an ODBC client can read: the table is always read.
  std::optional<std::uint64_t> Version() override { return std::nullopt; }
  bool HoldsEveryText() const override { return driver_ != OdbcDriver::Jet3; }
  bool Holds(std::u16string_view text) const override {
    return HoldsEveryText() || CodePageHolds(SystemCodePage(), text);
  }
  void BeginWrite() override;
  void Delete(std::int64_t id) override;
  void Move(std::int64_t from, std::int64_t to) override;
  void Update(const RowTexts& row) override { WriteTexts(update_, u"UPDATE zorvrobot SET ask = ?, answer = ? WHERE id = ?", row); }
  void Insert(const RowTexts& row) override {
    wroteIds_ = true;
    WriteTexts(insert_, u"INSERT INTO zorvrobot (ask, answer, id) VALUES (?, ?, ?)", row);
  }
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
  std::int64_t HighestId();
  // Jet: ids are 32-bit AutoNumbers, errors are Jet's numbers.
  bool Jet() const { return driver_ != OdbcDriver::Sqlite; }

  OdbcDriver driver_;
  Handle env_, dbc_;
  bool writing_ = false;
  bool wroteIds_ = false;      // the save being written gave rows ids of its own
  std::int64_t ids_[3] = {};   // bound ids, which must last until their statement has run
  std::int32_t id32_[3] = {};  // their 32-bit copies, for Jet
  Text ask_, answer_;          // bound texts
  SQLLEN askLength_ = 0, answerLength_ = 0;
  std::optional<std::u16string> columns_;  // the table's other columns, found at the first move
  // The write statements, prepared at their first use.
  Handle delete_{nullptr, FreeHandle{SQL_HANDLE_STMT}}, update_{nullptr, FreeHandle{SQL_HANDLE_STMT}};
  Handle insert_{nullptr, FreeHandle{SQL_HANDLE_STMT}};
};

OdbcEngine::OdbcEngine(OdbcDriver driver, const std::u16string& file)
    : driver_(driver), env_(odbc::Environment()) {
  dbc_ = Allocate(SQL_HANDLE_DBC, env_.get());
  if (!SQL_SUCCEEDED(odbc::Connect(dbc_.get(), ConnectionString(driver, env_.get(), file)))) Fail(SQL_HANDLE_DBC, dbc_.get());
}

// Throws the failure the handle's diagnostic records describe.
void OdbcEngine::Fail(SQLSMALLINT type, SQLHANDLE handle) const {
  const std::vector<OdbcDiagnostic> records = odbc::Diagnostics(type, handle);
  const OdbcDiagnostic* record = ChooseDiagnostic(records);
  if (!record) throw Error(Fault::Engine, 0, "an ODBC call failed without a diagnostic record");
  throw Error(ClassifyDiagnostic(driver_, *record), static_cast<int>(record->native),
              Utf16ToUtf8(record->state + u" " + record->message));
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
  if (Jet()) {
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
  const SQLRETURN rc = Jet() ? SQLGetData(stmt, column, SQL_C_SLONG, &id32, 0, &indicator)
                                    : SQLGetData(stmt, column, SQL_C_SBIGINT, &id, 0, &indicator);
  Check(rc, stmt);
  return Jet() ? id32 : id;
}

void OdbcEngine::GetText(SQLHANDLE stmt, SQLUSMALLINT column, std::u16string& text) {
  bool null = false;  // shown as empty text
  Check(odbc::ReadText(stmt, column, text, null), stmt);
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
  wroteIds_ = false;
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
  wroteIds_ = true;
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

// The highest id in the table (0 when it has no rows).
std::int64_t OdbcEngine::HighestId() {
  const Handle select = Prepare(u"SELECT MAX(id) FROM zorvrobot");
  Check(SQLExecute(select.get()), select.get());
  Check(SQLFetch(select.get()), select.get());
  return GetId(select.get(), 1);
}

void OdbcEngine::Commit() {
  if (Jet() && wroteIds_) LiftCounter(*this, HighestId());
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
  return std::make_unique<OdbcEngine>(driver, file);
}

std::u16string OdbcConnectionString(OdbcDriver driver, const std::u16string& driverName, const std::u16string& file) {
  if (driver == OdbcDriver::Sqlite) return u"DRIVER={SQLite3};NoCreat=1;Timeout=3000;DATABASE=" + FileValue(file);
  return u"DRIVER={" + driverName + u"};ExtendedAnsiSQL=1;DBQ=" + FileValue(file);
}

const OdbcDiagnostic* ChooseDiagnostic(const std::vector<OdbcDiagnostic>& records) {
  const auto own = std::find_if(records.begin(), records.end(), [](const OdbcDiagnostic& record) {
    return record.state.compare(0, 2, u"IM") != 0 && record.state.compare(0, 2, u"01") != 0;
  });
  if (own != records.end()) return &*own;
  return records.empty() ? nullptr : &records.front();
}

// The driver's own number says more of a general error, and which constraint refused a row.
Fault ClassifyDiagnostic(OdbcDriver driver, const OdbcDiagnostic& record) {
  const Fault fault = ClassifyState(record.state);
  if (fault != Fault::Engine && fault != Fault::Constraint) return fault;
  const Fault own = driver == OdbcDriver::Sqlite ? ClassifyStandIn(record.native, record.message)
                                                 : ClassifyJet(record.native);
  return own != Fault::Engine ? own : fault;
}

std::optional<std::u16string> ChooseAccessDriver(const std::vector<std::u16string>& installed, OdbcDriver kind) {
  std::optional<std::u16string> ace;
  for (const std::u16string& name : installed) {
    const std::u16string lower = Lower(name);
    if (lower.find(u"*.mdb") == std::u16string::npos) continue;
    const bool readsAce = lower.find(u"*.accdb") != std::u16string::npos;
    if (!readsAce && kind != OdbcDriver::Ace) return name;
    if (readsAce && !ace) ace = name;
  }
  return ace;
}

bool CodePageHolds(unsigned codePage, std::u16string_view text) {
  if (text.empty()) return true;
#ifdef _WIN32
  const std::wstring wide(text.begin(), text.end());
  const int length = static_cast<int>(wide.size());
  if (codePage == CP_UTF8)
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, nullptr, 0, nullptr, nullptr) > 0;
  // Without WC_NO_BEST_FIT_CHARS, "Ā" would become "A" and not count as replaced.
  BOOL replaced = FALSE;
  return WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr, &replaced) > 0 &&
         !replaced;
#else
  const iconv_t converter = iconv_open(("CP" + std::to_string(codePage)).c_str(), "UTF-16LE");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;  // a code page nothing is known to fit
  const std::unique_ptr<void, int (*)(iconv_t)> closer(converter, iconv_close);
  std::string in;
  for (const char16_t unit : text) in += static_cast<char>(unit & 0xFF), in += static_cast<char>(unit >> 8);
  char* from = in.data();
  std::size_t left = in.size();
  while (left > 0) {
    char out[256], *to = out;
    std::size_t room = sizeof out;
    if (iconv(converter, &from, &left, &to, &room) == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
  }
  return true;
#endif
}

}  // namespace store
