// A small data-access layer over SQLite 3 shaped like the connection / recordset / field objects
// the reply store is written against. It offers exactly what the store calls.
//
// Error model: every failure throws store::Error, which carries the SQLite result code (0 when
// the failure was found by these objects themselves), a Fault class for the user-facing message
// and SQLite's own English message for diagnosis. Closing never throws.
//
// Texts go in and out in the database's own encoding: in a UTF-16 database every code unit is
// kept; in a UTF-8 one every byte is (see store/utf.h). Nothing stored changes on the way
// through unless the program changed it.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

enum class Fault {
  Engine,           // any other SQLite failure
  Busy,             // another program holds a lock on the file
  ReadOnly,         // the file or its directory cannot be written
  CantOpen,         // the file cannot be opened (missing, no permission)
  NotADatabase,     // the file is not an SQLite database
  UnsupportedFormat,// the file is a database of another engine
  Corrupt,          // the database file is damaged
  DiskFull,
  Io,               // a read or write of the file failed
  NoSuchTable,
  NoSuchField,
  Constraint,       // a row was refused by the table's rules
  TooBig,           // a value is longer than the database accepts
  NotText,          // a stored value that cannot be shown as text without changing it
  OrderNotKept,     // the table does not number added rows itself, so their order would be lost
  ConnectionClosed, // the connection was not open
  BadArgument,      // a call the objects do not support
  Moved,            // the open file was deleted, renamed or replaced by another file
};

class Error : public std::runtime_error {
 public:
  Error(Fault fault, int code, const std::string& message)
      : std::runtime_error(message), fault_(fault), code_(code) {}
  Fault fault() const { return fault_; }
  int code() const { return code_; }

 private:
  Fault fault_;
  int code_;
};

namespace ado {

// Values as the store passes them.
enum ObjectState : long { adStateClosed = 0, adStateOpen = 1 };
enum CursorLocation : long { adUseServer = 2, adUseClient = 3 };
enum CursorType : long { adOpenKeyset = 1 };
enum LockType : long { adLockReadOnly = 1, adLockOptimistic = 3 };
inline constexpr long adOptionUnspecified = -1;

// How long a call waits for another program's lock on the file before it fails with Busy.
inline constexpr int kBusyTimeoutMs = 3000;

// A data source path in the form this platform opens: the last "\" (the one that separates the
// file name from its directory) becomes the directory separator. Any other "\" is part of a
// directory's name, as it may be where "\" is not a separator.
std::filesystem::path NativePath(std::u16string_view path);

struct CloseDatabase {
  void operator()(sqlite3* db) const noexcept;
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* stmt) const noexcept;
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

class Connection {
 public:
  // Opens the database the connection string names: "Provider=Microsoft.Jet.OLEDB.4.0" selects
  // the built-in SQLite engine, "Mode=ReadWrite" opens read-write (never creating a missing
  // file), "Data Source=" gives the path (see NativePath).
  void Open(std::u16string_view connectionString, std::u16string_view userId,
            std::u16string_view password, long options);
  void Close() noexcept { db_.reset(); }
  long State() const { return db_ ? adStateOpen : adStateClosed; }

  long CursorLocation() const { return cursorLocation_; }
  void SetCursorLocation(long location) { cursorLocation_ = location; }

  // Runs a statement that returns no rows.
  void Execute(std::u16string_view commandText, long options);

  // One transaction around several calls. RollbackTrans does nothing when no transaction is
  // open, never throws and never allocates, so it is safe on any failure path.
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans() noexcept;

  // True iff the open database file is no longer the one at its path (deleted, renamed or
  // replaced since it was opened). Writing to it then would change a file nobody will read.
  bool FileMoved() const;

  // True iff column is table's row id, which the database assigns itself, each added row a
  // larger one than the rows before it.
  bool NumbersRows(std::u16string_view table, std::u16string_view column) const;

 private:
  friend class Recordset;
  sqlite3* Handle() const;  // throws ConnectionClosed when closed

  DatabaseHandle db_;
  long cursorLocation_ = adUseServer;
};

class Recordset;

// A column of the recordset's current row, or of the row being added.
class Field {
 public:
  // The current row's value as text; a null value reads as empty text. Valid until the row
  // changes.
  const std::u16string& Value() const;
  // Sets the value of the row being added.
  void SetValue(std::u16string_view value) const;

 private:
  friend class Recordset;
  Field(Recordset* recordset, int column) : recordset_(recordset), column_(column) {}
  Recordset* recordset_;
  int column_;
};

class Recordset {
 public:
  // Runs the query on the open connection and stands on its first row. A read-only recordset
  // walks the rows; an optimistic one can also add rows to the query's table.
  void Open(std::u16string_view source, Connection& activeConnection, long cursorType,
            long lockType, long options);
  void Close() noexcept;

  // True past the last row (named Eof because EOF is a C macro).
  bool Eof() const;
  void MoveNext();

  // Looks the column up by name (ignoring ASCII case); throws NoSuchField for an unknown name.
  Field Fields(std::u16string_view name);

  // Starts a row, sets its fields, adds it. Every row added to one open recordset sets the same
  // fields; the others are left to the table's defaults.
  void AddNew();
  void Update();

 private:
  friend class Field;
  void Step();
  void RequireOpen() const;
  void PrepareInsert();
  [[noreturn]] void Fail(int code) const;

  StatementHandle select_;
  StatementHandle insert_;
  int encoding_ = 0;  // SQLITE_UTF8, SQLITE_UTF16LE or SQLITE_UTF16BE
  bool updatable_ = false;
  bool eof_ = true;
  bool adding_ = false;
  std::vector<std::u16string> names_;
  std::string table_;  // the table rows are added to
  mutable std::vector<std::u16string> values_;  // one text buffer per column, for reading
  std::vector<std::string> pending_;  // the values of the row being added, in the database's encoding
  std::vector<bool> set_;             // which of them were set
  std::vector<bool> insertColumns_;   // the fields the prepared insert sets
};

}  // namespace ado
}  // namespace store
