// Test helpers: a fresh directory per test holding a real SQLite reply database.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace testsupport {

// A temporary directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The directory as the application reports its own directory.
  std::u16string AppPath() const { return path_.u16string(); }
  std::filesystem::path DatabaseFile() const { return path_ / "tarvello.db"; }

 private:
  std::filesystem::path path_;
};

// Rows as (ask, answer) in UTF-8; a nullptr-like absent value is written as SQL NULL when the
// text is the marker kNull.
inline const std::string kNull = std::string("\0NULL", 5);
using Rows = std::vector<std::pair<std::string, std::string>>;

// Creates the database file with the reply table and the given rows, in order.
void CreateReplyDatabase(const std::filesystem::path& file, const Rows& rows = {});

// Runs SQL on the file through a connection of its own; throws std::runtime_error on failure.
void ExecSql(const std::filesystem::path& file, const std::string& sql);

// The table's rows in id order, each "ask|answer" (NULL shown as <null>), one per line.
std::string DumpTable(const std::filesystem::path& file);

// What "pragma integrity_check" says of the file, through a read-write connection that first
// rolls back any hot journal a failed or killed save left behind.
std::string IntegrityOf(const std::filesystem::path& file);

// A second program's connection to the file, held open for as long as the object lives.
class OtherConnection {
 public:
  explicit OtherConnection(const std::filesystem::path& file);
  ~OtherConnection();
  void Exec(const std::string& sql);

 private:
  sqlite3* db_ = nullptr;
};

std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& utf16);

}  // namespace testsupport
