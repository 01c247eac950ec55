#include "tests/support/testdb.h"

#include <sqlite3.h>

#include <random>
#include <stdexcept>

#include "store/utf.h"

namespace testsupport {

TempDir::TempDir() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("velmora-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) return;
  }
}

TempDir::~TempDir() {
  std::error_code error;
  // Undo any permission changes a test made so that everything can be removed.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, error))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, error);
  std::filesystem::remove_all(path_, error);
}

namespace {

sqlite3* OpenOrThrow(const std::filesystem::path& file, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.u8string().c_str(), &db, flags, nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("open " + file.u8string() + ": " + message);
  }
  sqlite3_busy_timeout(db, 10000);
  return db;
}

void ExecOn(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error(sql + ": " + message);
  }
}

}  // namespace

void CreateReplyDatabase(const std::filesystem::path& file, const Rows& rows) {
  sqlite3* db = OpenOrThrow(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  ExecOn(db, "create table zorvrobot (id integer primary key, ask text, answer text)");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "insert into zorvrobot (ask, answer) values (?, ?)", -1, &insert, nullptr);
  ExecOn(db, "begin");
  for (const auto& [ask, answer] : rows) {
    int index = 0;
    for (const std::string* value : {&ask, &answer}) {
      ++index;
      if (*value == kNull) {
        sqlite3_bind_null(insert, index);
      } else {
        sqlite3_bind_text(insert, index, value->data(), static_cast<int>(value->size()), SQLITE_TRANSIENT);
      }
    }
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  ExecOn(db, "commit");
  sqlite3_finalize(insert);
  sqlite3_close(db);
}

void ExecSql(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = OpenOrThrow(file, SQLITE_OPEN_READWRITE);
  try {
    ExecOn(db, sql);
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

std::string DumpTable(const std::filesystem::path& file) {
  sqlite3* db = OpenOrThrow(file, SQLITE_OPEN_READONLY);
  sqlite3_stmt* select = nullptr;
  if (sqlite3_prepare_v2(db, "select ask, answer from zorvrobot order by id", -1, &select, nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("dump: " + message);
  }
  std::string dump;
  while (sqlite3_step(select) == SQLITE_ROW) {
    for (int column = 0; column < 2; ++column) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, column));
      dump += text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(select, column))) : "<null>";
      dump += column == 0 ? "|" : "\n";
    }
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return dump;
}

std::string IntegrityOf(const std::filesystem::path& file) {
  sqlite3* db = OpenOrThrow(file, SQLITE_OPEN_READWRITE);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "pragma integrity_check", -1, &stmt, nullptr);
  std::string result = sqlite3_step(stmt) == SQLITE_ROW
                           ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
                           : sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

OtherConnection::OtherConnection(const std::filesystem::path& file)
    : db_(OpenOrThrow(file, SQLITE_OPEN_READWRITE)) {}

OtherConnection::~OtherConnection() { sqlite3_close_v2(db_); }

void OtherConnection::Exec(const std::string& sql) { ExecOn(db_, sql); }

std::u16string U16(const std::string& utf8) { return store::Utf8ToUtf16(utf8); }
std::string U8(const std::u16string& utf16) { return store::Utf16ToUtf8(utf16); }

}  // namespace testsupport
