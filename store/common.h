// The reply store: the run's one connection to the reply database beside the program, opening
// and closing it, reading the table as editor text and saving editor text into it.
//
// Every call passes failures up as store::Error (or std::bad_alloc). A load or save either
// completes or throws; a save that throws has changed nothing in the table.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "replytext/replytext.h"
#include "store/changes.h"
#include "store/engine.h"
#include "store/record.h"
#include "store/textplaces.h"

namespace store {

// DatabasePath's text as a path this platform opens: only its last "\" separates (elsewhere "\"
// may be part of a directory's name), and where paths are bytes, escape units (store/utf.h)
// stand for the bytes of a name that is not UTF-8, such as a GBK one.
std::filesystem::path NativePath(std::u16string_view path);

// Opens the existing file at path with the engine its first bytes call for.
std::unique_ptr<Engine> OpenEngine(const std::filesystem::path& path);
using EngineOpener = std::function<std::unique_ptr<Engine>(const std::filesystem::path& path)>;

// Asked before a save writes anything, when rows were changed both in the text and by another
// program since the load, differently: which version they keep, or empty to cancel. The answer
// applies to exactly the conflicts shown.
using ConflictQuestion = std::function<std::optional<Resolution>(const std::vector<ShownConflict>& conflicts)>;

struct SaveOutcome {
  bool cancelled = false;  // cancelled at the conflict question: nothing was written
  // Set when the table as saved holds writes of another program's that the text does not show:
  // the table as saved, as editor text, and which of its lines holds the line the save followed
  // (or, where the other program's versions were chosen, the first line showing one).
  std::optional<replytext::ReplyText> saved;
  std::size_t followedLine = 0;
};

class Common {
 public:
  // appPath is the application's directory as the platform reports it; open opens the database
  // file (tests give another engine here).
  explicit Common(std::u16string appPath, EngineOpener open = OpenEngine)
      : appPath_(std::move(appPath)), open_(std::move(open)) {}

  // The application's directory followed by "\tarvello.db", concatenated as they stand.
  std::u16string DatabasePath() const { return appPath_ + u"\\tarvello.db"; }

  // The open connection; throws CantOpen when the database is not open.
  Engine& Conn();
  bool HasConn() const { return conn_ != nullptr; }

  // Opens the database (closing it first if it is open).
  void OpenDatabase();
  // Closes the database if it is open; otherwise does nothing.
  void CloseDatabase() { conn_.reset(); }

  // Reads every entry in ascending id order and joins them into one text, and makes the record
  // of it afresh. Opens the database afresh first, so that a reload shows the file now at
  // DatabasePath whatever became of the one opened before (a failed open, a file replaced).
  // Throws if the table cannot be read to its end, so a partial table is never returned.
  replytext::ReplyText LoadReplyText();

  // Saves the text's entries over the table as it is now, in one transaction (see
  // store/changes.h): the operator's changes since the record are written, in line order, and
  // every other row stays as other programs left it. Rows both changed are asked about first,
  // with the file left free while the question waits; without ask, the text's versions are kept.
  // followLine is a line of text whose place in the saved table the outcome gives. On any
  // failure the transaction is rolled back, the table and the record are as they were; a failure
  // that concerns one entry names its line (Error::at).
  SaveOutcome SaveReplyText(std::u16string_view text, const ConflictQuestion& ask = {}, std::size_t followLine = 0);

  // The table as the text box was last made from it: by the last load or save.
  const Record& LoadedRecord() const { return record_; }

 private:
  std::u16string appPath_;
  EngineOpener open_;
  std::unique_ptr<Engine> conn_;
  Record record_;
};

}  // namespace store
