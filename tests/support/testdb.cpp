#include "tests/support/testdb.h"

#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "store/utf.h"

namespace testsupport {

TempDir::TempDir() {
  std::random_device random;
  do path_ = std::filesystem::temp_directory_path() / ("velmora-test-" + std::to_string(random()));
  while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Sqlite::Sqlite(const std::filesystem::path& file, int busyTimeoutMs) {
  const int opened = sqlite3_open_v2(file.u8string().c_str(), &db_,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (opened != SQLITE_OK) {
    sqlite3_close(db_);
    throw std::runtime_error("cannot open " + file.u8string());
  }
  sqlite3_busy_timeout(db_, busyTimeoutMs);
}

Sqlite::~Sqlite() { sqlite3_close_v2(db_); }

std::string Sqlite::Run(const std::string& sql) {
  std::string rows;
  for (const char* next = sql.c_str(); *next;) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, next, -1, &stmt, &next) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
      for (int column = 0; column < sqlite3_column_count(stmt); ++column) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        rows += (column ? "|" : "") +
                (text ? std::string(text, std::size_t(sqlite3_column_bytes(stmt, column))) : "<null>");
      }
      rows += '\n';
    }
    sqlite3_finalize(stmt);
    if (step != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
  }
  return rows;
}

std::string ReadBytes(const std::filesystem::path& file) {
  if (!std::filesystem::is_regular_file(file)) return "";
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::u16string U16(const std::string& utf8) { return store::Utf8ToUtf16(utf8); }
std::string U8(std::u16string_view utf16) { return store::Utf16ToUtf8(utf16); }

}  // namespace testsupport
