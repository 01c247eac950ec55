// The reply store: the run's one connection and one recordset, opening and closing the reply
// database, reading the table as editor text and replacing the table from editor text.
//
// Every call passes failures up as store::Error (or std::bad_alloc). A load or save either
// completes or throws; a save that throws has changed nothing in the table.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "replytext/replytext.h"
#include "store/ado.h"

namespace store {

// True iff path, as DatabasePath writes it, names an ordinary file (or a link to one): a
// directory does not count.
bool IsOrdinaryFile(std::u16string_view path);

class Common {
 public:
  // appPath is the application's directory as the platform reports it.
  explicit Common(std::u16string appPath) : appPath_(std::move(appPath)) {}

  // The application's directory followed by "\tarvello.db", concatenated as they stand.
  std::u16string DatabasePath() const { return appPath_ + u"\\tarvello.db"; }
  std::u16string ConnectionString() const {
    return u"Provider=Microsoft.Jet.OLEDB.4.0;Mode=ReadWrite;Data Source=" + DatabasePath();
  }

  // The shared objects, created on first use when their reference is empty.
  ado::Connection& Conn();
  ado::Recordset& Rs();
  bool HasConn() const { return conn_ != nullptr; }
  bool HasRs() const { return rs_ != nullptr; }

  // Opens the connection (closing it first if it is open) with client-side cursors.
  void OpenDatabase();
  // Closes and releases the connection if it is not closed; otherwise does nothing.
  void CloseDatabase();

  // Reads every entry in ascending id order and joins them into one text. Throws if the table
  // cannot be read to its end, so a partial table is never returned as if complete.
  replytext::ReplyText LoadReplyText();

  // Replaces the table's rows with the entries parsed from text, in line order, in a single
  // transaction: on any failure it is rolled back and the table is as it was. Refused when the
  // table does not number added rows itself, since the order of the lines would then be lost.
  void SaveReplyText(std::u16string_view text);

 private:
  std::u16string appPath_;
  std::unique_ptr<ado::Connection> conn_;
  std::unique_ptr<ado::Recordset> rs_;
  bool movedAway_ = false;  // the open file was replaced and reopening has not yet succeeded
};

}  // namespace store
