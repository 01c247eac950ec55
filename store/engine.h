// The seam between the reply store and a database engine: exactly what the store does with the
// reply table zorvrobot (id, ask, answer) of one existing file. Each engine lives behind this
// header in a file pair of its own; nothing above the store knows which one it talks to.
//
// Error model: every failure throws store::Error (or std::bad_alloc), whose Fault says what kind
// of failure it was, for the operator's message. Rollback and destruction never throw.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace store {

enum class Fault {
  Engine,            // any other failure of the engine
  Busy,              // another program holds a lock on the file
  ReadOnly,          // the file or its directory cannot be written
  CantOpen,          // the file cannot be opened (missing, no permission), or is not open
  NotADatabase,      // the file is not a database of a kind this program reads
  DriverMissing,     // the file needs a database driver this system does not have
  Corrupt,           // the database file is damaged
  DiskFull,
  Io,                // a read or write of the file failed
  NoSuchTable,
  NoSuchField,       // subject() names the column
  Constraint,        // a row was refused by the table's rules
  Duplicate,         // a unique index refused a value another row holds; subject() names the
                     // column where the engine tells
  TooBig,            // a value is longer than the database accepts
  NotText,           // a stored value that cannot be shown as text without changing it
  OrderNotKept,      // the table does not number its rows itself, so line order could be lost
  Moved,             // the open file was deleted, renamed or replaced by another file
  Vanished,          // a row a save writes was gone or changed hands while it wrote
  Unstorable,        // a text holds a character the file cannot store
};

// The line of the operator's text a failed save was refused for, where it concerns one entry:
// its number in the text box (from 1, left-out lines counted), the start of its question, and
// for a duplicate the line holding the same text too (0: a row the text does not show).
struct FailedLine {
  std::size_t line = 0;
  std::u16string question;
  std::optional<std::size_t> duplicateOf;
};

class Error : public std::runtime_error {
 public:
  Error(Fault fault, int code, const std::string& message, std::string subject = {})
      : std::runtime_error(message), fault_(fault), code_(code), subject_(std::move(subject)) {}
  Fault fault() const { return fault_; }
  int code() const { return code_; }  // the engine's own code, 0 when the store found the fault
  const std::string& subject() const { return subject_; }
  // Set by the store above the engines, which knows the text a save was given.
  const std::optional<FailedLine>& at() const { return at_; }
  void SetAt(FailedLine at) { at_ = std::move(at); }

 private:
  Fault fault_;
  int code_;
  std::string subject_;
  std::optional<FailedLine> at_;
};

// Ids a read covers, both ends included. The whole range also takes rows whose id is not a number.
struct IdRange {
  std::int64_t first = std::numeric_limits<std::int64_t>::min();
  std::int64_t last = std::numeric_limits<std::int64_t>::max();
  bool IsAll() const { return first == IdRange{}.first && last == IdRange{}.last; }
};

// Called for each row read, with its texts as the operator sees them (a null value as empty
// text); the views last until the call returns.
using RowVisitor = std::function<void(std::int64_t id, std::u16string_view ask, std::u16string_view answer)>;

struct RowTexts {
  std::int64_t id;
  std::u16string_view ask, answer;
};

// A text made of a row's id that no row of a reply table holds: a row holds it for a moment while
// its own texts are still another row's, so that a unique index never sees a text twice.
inline std::u16string PlaceholderText(std::int64_t id) {
  const std::string digits = std::to_string(id);
  return u"\uFDD0" + std::u16string(digits.begin(), digits.end());
}

class Engine {
 public:
  virtual ~Engine() = default;

  // Reads the rows within range in ascending id order, in one transaction of its own when none
  // is open.
  virtual void ReadRows(IdRange range, const RowVisitor& visit) = 0;
  // The file's version as this connection saw it at its last whole read or at BeginWrite: while
  // two versions are equal, no other connection has written the file. Empty where the engine
  // cannot tell, so that the table is always read.
  virtual std::optional<std::uint64_t> Version() = 0;
  // False for a text the file cannot store as it is (a file that keeps its texts in a code page
  // would store "?" for a character outside it), which must then not be written. HoldsEveryText
  // is true where every text is held, and Holds need not be asked.
  virtual bool HoldsEveryText() const { return true; }
  virtual bool Holds(std::u16string_view) const { return true; }

  // A write transaction: reads inside it see the table as it is, and no other program can write
  // until Commit or Rollback. BeginWrite refuses (OrderNotKept) a table whose id the database
  // does not keep unique and numbered, as writes by id would then be ambiguous; when it fails,
  // no transaction is left open.
  virtual void BeginWrite() = 0;
  // The writes of a save, inside the transaction. Each must find exactly the row it names (an
  // insert: a free id), or it fails (Vanished). A write refused by a unique index fails with
  // Duplicate and leaves the transaction open, with nothing of that write done.
  virtual void Delete(std::int64_t id) = 0;
  virtual void Move(std::int64_t from, std::int64_t to) = 0;  // other columns and texts stay
  virtual void Update(const RowTexts& row) = 0;
  virtual void Insert(const RowTexts& row) = 0;  // other columns take their defaults
  // Fails (Moved) rather than commit into a file that is no longer at its path.
  virtual void Commit() = 0;
  // Ends an open transaction without its changes; does nothing when none is open, as after Commit.
  // After either, a read again leaves no transaction open behind it.
  virtual void Rollback() noexcept = 0;
};

}  // namespace store
