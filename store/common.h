// The reply store: the run's one connection to the reply database beside the program, opening
// and closing it, reading the table as editor text and saving editor text into it.
//
// Every call passes failures up as store::Error (or std::bad_alloc). A load or save either
// completes or throws; a save that throws has changed nothing in the table.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "replytext/replytext.h"
#include "store/engine.h"

namespace store {

// DatabasePath's text as a path this platform opens: only its last "\" separates (elsewhere "\"
// may be part of a directory's name), and where paths are bytes, escape units (store/utf.h)
// stand for the bytes of a name that is not UTF-8, such as a GBK one.
std::filesystem::path NativePath(std::u16string_view path);

// Opens the existing file at path with the engine its first bytes call for.
std::unique_ptr<Engine> OpenEngine(const std::filesystem::path& path);
using EngineOpener = std::unique_ptr<Engine> (*)(const std::filesystem::path& path);

class Common {
 public:
  // appPath is the application's directory as the platform reports it; open opens the database
  // file (tests give another engine here).
  explicit Common(std::u16string appPath, EngineOpener open = OpenEngine)
      : appPath_(std::move(appPath)), open_(open) {}

  // The application's directory followed by "\tarvello.db", concatenated as they stand.
  std::u16string DatabasePath() const { return appPath_ + u"\\tarvello.db"; }

  // The open connection; throws CantOpen when the database is not open.
  Engine& Conn();
  bool HasConn() const { return conn_ != nullptr; }

  // Opens the database (closing it first if it is open).
  void OpenDatabase();
  // Closes the database if it is open; otherwise does nothing.
  void CloseDatabase() { conn_.reset(); }

  // Reads every entry in ascending id order and joins them into one text. Opens the database
  // afresh first, so that a reload shows the file now at DatabasePath whatever became of the one
  // opened before (a failed open, a file replaced). Throws if the table cannot be read to its
  // end, so a partial table is never returned.
  replytext::ReplyText LoadReplyText();

  // Makes the table hold the entries parsed from text, in line order, writing only where it
  // differs from them (see store/changes.h), in one transaction: on any failure it is rolled
  // back and the table is as it was.
  void SaveReplyText(std::u16string_view text);

 private:
  std::u16string appPath_;
  EngineOpener open_;
  std::unique_ptr<Engine> conn_;
};

}  // namespace store
