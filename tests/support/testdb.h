// Real SQLite reply databases in temporary directories, and a second program's view of them.
#pragma once

#include <filesystem>
#include <string>

struct sqlite3;

namespace testsupport {

// A fresh temporary directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::u16string AppPath() const { return path_.u16string(); }  // as the program reports its own
  std::filesystem::path DatabaseFile() const { return path_ / "tarvello.db"; }

 private:
  std::filesystem::path path_;
};

// Another program's connection to a database file (created if missing), open for the object's
// life. Run executes every statement of sql and returns the rows they give, columns joined by
// '|' and each row ended by '\n' (NULL as <null>); it throws std::runtime_error on failure.
class Sqlite {
 public:
  explicit Sqlite(const std::filesystem::path& file, int busyTimeoutMs = 10000);
  ~Sqlite();
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;
  std::string Run(const std::string& sql);

 private:
  sqlite3* db_ = nullptr;
};

inline std::string Sql(const std::filesystem::path& file, const std::string& sql) {
  return Sqlite(file).Run(sql);
}

// Creates the reply table, holding the rows of an SQL values list such as "('a', '1'), ('b', '2')".
inline void CreateReplyDatabase(const std::filesystem::path& file, const std::string& values = "") {
  Sql(file, "create table zorvrobot (id integer primary key, ask text, answer text);" +
                (values.empty() ? "" : "insert into zorvrobot (ask, answer) values " + values));
}

inline std::string Dump(const std::filesystem::path& file) {
  return Sql(file, "select ask, answer from zorvrobot order by id");
}

std::string ReadBytes(const std::filesystem::path& file);  // empty unless an ordinary file
// Overwrites the file in place, as another program rewriting it would.
void WriteBytes(const std::filesystem::path& file, const std::string& bytes);

std::u16string U16(const std::string& utf8);
std::string U8(std::u16string_view utf16);

}  // namespace testsupport
