// Real SQLite reply databases in temporary directories, and other programs' doings to them.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/utf.h"

namespace testsupport {

namespace fs = std::filesystem;

// A fresh temporary directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::random_device random;
    do path_ = fs::temp_directory_path() / ("velmora-test-" + std::to_string(random()));
    while (!fs::create_directory(path_));
  }
  ~TempDir() { fs::remove_all(path_, ignored_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::u16string AppPath() const { return path_.u16string(); }  // as the program reports its own
  fs::path DatabaseFile() const { return path_ / "tarvello.db"; }

 private:
  fs::path path_;
  std::error_code ignored_;
};

// Another program's connection to a database file (created if missing), open for the object's
// life. Run executes the statements of sql and returns the rows they give as text, columns joined
// by '|' and each row ended by '\n' (NULL as <null>); it throws std::runtime_error on failure.
class Sqlite {
 public:
  explicit Sqlite(const fs::path& file, int busyTimeoutMs = 10000) {
    if (sqlite3_open_v2(file.u8string().c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)) {
      sqlite3_close(db_);
      throw std::runtime_error("cannot open " + file.u8string());
    }
    sqlite3_busy_timeout(db_, busyTimeoutMs);
  }
  ~Sqlite() { sqlite3_close_v2(db_); }
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;
  std::string Run(const std::string& sql) {
    std::string rows;
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), AddRow, &rows, &error) == SQLITE_OK) return rows;
    const std::string message = sql + ": " + (error ? error : "failed");
    sqlite3_free(error);
    throw std::runtime_error(message);
  }

 private:
  static int AddRow(void* rows, int columns, char** values, char**) {
    for (int i = 0; i < columns; ++i)
      *static_cast<std::string*>(rows) += (i ? "|" : "") + std::string(values[i] ? values[i] : "<null>");
    *static_cast<std::string*>(rows) += '\n';
    return 0;
  }
  sqlite3* db_ = nullptr;
};

inline std::string Sql(const fs::path& file, const std::string& sql) { return Sqlite(file).Run(sql); }

// Creates the reply table holding the rows of an SQL values list such as "('a', '1'), ('b', '2')".
inline void CreateReplyDatabase(const fs::path& file, const std::string& values = "") {
  Sql(file, "create table zorvrobot (id integer primary key, ask text, answer text);" +
                (values.empty() ? "" : "insert into zorvrobot (ask, answer) values " + values));
}
inline std::string Dump(const fs::path& file) { return Sql(file, "select ask, answer from zorvrobot order by id"); }

// Something another program does to a database file.
using Doing = std::function<void(const fs::path&)>;
inline Doing Exec(const std::string& sql) { return [sql](const fs::path& file) { Sql(file, sql); }; }

inline std::string ReadBytes(const fs::path& file) {  // empty unless an ordinary file
  std::ifstream in(file, std::ios::binary);
  return fs::is_regular_file(file) ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
}
inline void WriteBytes(const fs::path& file, const std::string& bytes) {  // in place, as a program rewriting it
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// The pieces of text between each `by`, a last one ended by `by` giving no empty piece after it.
inline std::vector<std::string> Split(const std::string& text, char by = '\n') {
  std::vector<std::string> pieces;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find(by, start), text.size());
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

inline std::u16string U16(const std::string& utf8) { return store::Utf8ToUtf16(utf8); }
inline std::string U8(std::u16string_view utf16) { return store::Utf16ToUtf8(utf16); }

}  // namespace testsupport
