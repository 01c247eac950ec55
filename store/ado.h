// A small data-access layer over SQLite 3 shaped like the connection / recordset / field objects
// the reply store is written against. It offers exactly what the store uses.
//
// Error model: every failure throws store::Error, which carries the SQLite result code (0 when
// the failure was found by these objects themselves), a Fault class for the user-facing message
// and SQLite's own English message for diagnosis.
#pragma once

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
enum CursorType : long { adOpenForwardOnly = 0, adOpenKeyset = 1 };
enum LockType : long { adLockReadOnly = 1, adLockOptimistic = 3 };
inline constexpr long adOptionUnspecified = -1;

// How long a call waits for another program's lock on the file before it fails with Busy.
inline constexpr int kBusyTimeoutMs = 3000;

class Recordset;

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the database the connection string names: "Provider=Microsoft.Jet.OLEDB.4.0" selects
  // the built-in SQLite engine, "Mode=ReadWrite" opens read-write (never creating a missing
  // file), "Data Source=" gives the path, in which "\" stands for the directory separator.
  void Open(std::u16string_view connectionString, std::u16string_view userId,
            std::u16string_view password, long options);
  void Close();
  long State() const { return db_ ? adStateOpen : adStateClosed; }

  long CursorLocation() const { return cursorLocation_; }
  void SetCursorLocation(long location) { cursorLocation_ = location; }

  // Runs a statement that returns no rows.
  void Execute(std::u16string_view commandText, long options);

  // One transaction around several calls; RollbackTrans never throws, so it is safe on a
  // failure path, and does nothing when no transaction is open.
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans() noexcept;

  // True iff the open database file is no longer the one at its path (deleted, renamed or
  // replaced since it was opened). Writing to it then would change a file nobody will read.
  bool FileMoved() const;

  // The SQLite handle, or nullptr when closed.
  sqlite3* handle() const { return db_; }

 private:
  friend class Recordset;
  [[noreturn]] void Fail(int code) const;

  sqlite3* db_ = nullptr;
  long cursorLocation_ = adUseServer;
};

// A column of the recordset's current row (or of the row being added).
class Field {
 public:
  // The column's text; a null value reads as empty text. Valid until the row changes.
  const std::u16string& Value() const;
  void SetValue(std::u16string_view value) const;

 private:
  friend class Recordset;
  Field(Recordset* recordset, int column) : recordset_(recordset), column_(column) {}
  Recordset* recordset_;
  int column_;
};

class Recordset {
 public:
  Recordset() = default;
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Runs the query on the open connection and stands on its first row. A read-only recordset
  // walks the rows; an optimistic one can also add rows to the query's table.
  void Open(std::u16string_view source, Connection& activeConnection, long cursorType,
            long lockType, long options);
  void Close() noexcept;
  long State() const { return stmt_ ? adStateOpen : adStateClosed; }

  // True past the last row (named Eof because EOF is a C macro).
  bool Eof() const;
  void MoveNext();

  // Looks the column up by name (ignoring ASCII case); throws NoSuchField for an unknown name.
  Field Fields(std::u16string_view name);

  void AddNew();
  void Update();

 private:
  friend class Field;
  void Step();
  void RequireOpen() const;
  [[noreturn]] void Fail(int code) const;

  Connection* conn_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  long lockType_ = adLockReadOnly;
  bool eof_ = true;
  std::vector<std::u16string> names_;
  std::u16string table_;  // the table rows are added to

  // Reading: one text buffer per column, filled when a field is read.
  mutable std::vector<std::u16string> values_;
  // Adding: the values set since AddNew, by column; unset columns are left to their defaults.
  bool adding_ = false;
  std::vector<bool> set_;
  std::vector<std::string> pending_;
  // The INSERT for the last set of columns, reused while the same columns are set.
  sqlite3_stmt* insert_ = nullptr;
  std::vector<bool> insertColumns_;
};

}  // namespace ado
}  // namespace store
