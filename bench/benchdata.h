// Reply tables of realistic shape for the benchmarks: Chinese questions and answers of 10 to 60
// characters, made from a fixed seed so that every run measures the same data.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "replytext/replytext.h"
#include "store/utf.h"

namespace bench {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next() {  // xorshift64*
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<std::uint32_t>((state_ * 0x2545F4914F6CDD1DULL) >> 32);
  }
  int Between(int low, int high) { return low + static_cast<int>(Next() % (high - low + 1)); }

 private:
  std::uint64_t state_;
};

// One text of 10 to 60 CJK ideographs with an occasional full-width comma or question mark.
inline std::u16string ChineseText(Random& random) {
  const int length = random.Between(10, 60);
  std::u16string text;
  text.reserve(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) {
    const std::uint32_t roll = random.Next() % 16;
    if (i > 0 && roll == 0) {
      text.push_back(u'，');
    } else if (i == length - 1 && roll == 1) {
      text.push_back(u'？');
    } else {
      text.push_back(static_cast<char16_t>(0x4E00 + random.Next() % (0x9FA5 - 0x4E00)));
    }
  }
  return text;
}

inline std::vector<replytext::ReplyEntry> MakeEntries(int count) {
  Random random(0x5EED0000u + static_cast<std::uint64_t>(count));
  std::vector<replytext::ReplyEntry> entries;
  entries.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    std::u16string ask = ChineseText(random);
    std::u16string answer = ChineseText(random);
    entries.push_back({std::move(ask), std::move(answer)});
  }
  return entries;
}

inline replytext::ReplyText JoinEntries(const std::vector<replytext::ReplyEntry>& entries) {
  replytext::ReplyText text;
  for (const auto& entry : entries) replytext::AppendReplyLine(text, entry.ask, entry.answer);
  return text;
}

// The rows as SQLite stores them.
inline std::vector<std::pair<std::string, std::string>> Utf8Rows(
    const std::vector<replytext::ReplyEntry>& entries) {
  std::vector<std::pair<std::string, std::string>> rows;
  rows.reserve(entries.size());
  for (const auto& entry : entries)
    rows.emplace_back(store::Utf16ToUtf8(entry.ask), store::Utf16ToUtf8(entry.answer));
  return rows;
}

inline void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

// Runs sql once per row in one transaction, after `first` if given: its parameters are the row's
// ask and answer and, if it has a third, its place counted from 1.
inline void WriteRows(sqlite3* db, const char* first, const char* sql,
                      const std::vector<std::pair<std::string, std::string>>& rows) {
  Check(db, sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr), "begin");
  if (first) Check(db, sqlite3_exec(db, first, nullptr, nullptr, nullptr), first);
  sqlite3_stmt* stmt = nullptr;
  Check(db, sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), "prepare");
  const bool numbered = sqlite3_bind_parameter_count(stmt) == 3;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    sqlite3_bind_text(stmt, 1, rows[i].first.data(), static_cast<int>(rows[i].first.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmt, 2, rows[i].second.data(), static_cast<int>(rows[i].second.size()), SQLITE_STATIC);
    if (numbered) sqlite3_bind_int64(stmt, 3, static_cast<sqlite3_int64>(i + 1));
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) {
      sqlite3_finalize(stmt);
      Check(db, rc, sql);
    }
  }
  sqlite3_finalize(stmt);
  Check(db, sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), "commit");
}

// Replaces the table in an open database with rows, with one prepared INSERT.
inline void InsertRows(sqlite3* db, const std::vector<std::pair<std::string, std::string>>& rows) {
  WriteRows(db, "delete from zorvrobot", "insert into zorvrobot (ask, answer) values (?, ?)", rows);
}

// Sets the texts of rows 1 to rows.size() by id, with one prepared UPDATE.
inline void UpdateRows(sqlite3* db, const std::vector<std::pair<std::string, std::string>>& rows) {
  WriteRows(db, nullptr, "update zorvrobot set ask = ?, answer = ? where id = ?", rows);
}

// The entries of a text, as the save reads them.
inline std::vector<replytext::ReplyEntry> ParseEntries(const replytext::ReplyText& text) {
  std::vector<replytext::ReplyEntry> entries;
  for (const std::u16string_view line : replytext::SplitReplyText(text))
    if (const auto entry = replytext::ParseReplyLine(line)) entries.push_back({std::u16string(entry->ask), std::u16string(entry->answer)});
  return entries;
}

// Another program's writes: ten rows in scattered places (not those the benchmarks' operator
// edits) get a mark on their answers, or lose it again.
inline void EditTenRows(sqlite3* db, int count, bool marked) {
  const std::string sql = marked ? "update zorvrobot set answer = answer || '(他)' where id % ?1 = 3"
                                 : "update zorvrobot set answer = substr(answer, 1, length(answer) - 3) where id % ?1 = 3";
  sqlite3_stmt* update = nullptr;
  Check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &update, nullptr), "prepare");
  sqlite3_bind_int(update, 1, count / 10);
  const int rc = sqlite3_step(update);
  sqlite3_finalize(update);
  Check(db, rc, "update");
}

inline sqlite3* OpenDatabaseFile(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(file.string().c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    Check(nullptr, rc, "open");
  }
  return db;
}

// Makes dir/tarvello.db afresh holding rows.
inline void MakeDatabase(const std::filesystem::path& dir,
                         const std::vector<std::pair<std::string, std::string>>& rows) {
  std::filesystem::create_directories(dir);
  const std::filesystem::path file = dir / "tarvello.db";
  std::filesystem::remove(file);
  sqlite3* db = OpenDatabaseFile(file);
  Check(db, sqlite3_exec(db, "create table zorvrobot(id INTEGER PRIMARY KEY, ask TEXT, answer TEXT)",
                         nullptr, nullptr, nullptr),
        "create");
  InsertRows(db, rows);
  sqlite3_close_v2(db);
}

// The directory as the platform reports the application's directory.
inline std::u16string AppPath(const std::filesystem::path& dir) { return dir.u16string(); }

}  // namespace bench
