#include "store/odbcapi.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace store::odbc {

Text Wide(std::u16string_view text) {
  Text wide(text.begin(), text.end());
  wide.push_back(0);
  return wide;
}

Handle Allocate(SQLSMALLINT type, SQLHANDLE parent) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle))) throw std::bad_alloc();
  return Handle(handle, FreeHandle{type});
}

Handle Environment() {
  Handle env = Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  return env;
}

SQLRETURN Connect(SQLHDBC dbc, std::u16string_view connection) {
  Text text = Wide(connection);
  SQLWCHAR out[1024];
  SQLSMALLINT outLength = 0;
  return SQLDriverConnectW(dbc, nullptr, text.data(), SQL_NTS, out, 1024, &outLength, SQL_DRIVER_NOPROMPT);
}

SQLRETURN ReadText(SQLHSTMT stmt, SQLUSMALLINT column, std::u16string& text, bool& null) {
  text.clear();
  null = false;
  SQLWCHAR piece[4096];
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, piece, sizeof piece, &indicator);
    if (rc == SQL_NO_DATA) return SQL_SUCCESS;
    if (!SQL_SUCCEEDED(rc)) return rc;
    if (indicator == SQL_NULL_DATA) return null = true, SQL_SUCCESS;
    const bool more = rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator >= SQLLEN(sizeof piece));
    // Each piece ends in a 0 of its own; a driver's length is never trusted past the buffer.
    const std::size_t units = more ? std::size(piece) - 1
                                   : std::min(static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR), std::size(piece) - 1);
    text.append(piece, piece + units);
    if (!more) return SQL_SUCCESS;
  }
}

std::vector<OdbcDiagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<OdbcDiagnostic> records;
  for (SQLSMALLINT number = 1; number <= 64; ++number) {
    SQLWCHAR state[6] = {}, text[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, number, state, &native, text, 1024, &length))) break;
    records.push_back({std::u16string(state, state + 5), native,
                       std::u16string(text, text + std::clamp<SQLSMALLINT>(length, 0, 1023))});
  }
  return records;
}

std::vector<std::u16string> InstalledDrivers(SQLHENV env) {
  std::vector<std::u16string> names;
  SQLWCHAR name[256], attributes[1024];
  SQLSMALLINT nameLength = 0, attributesLength = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
       SQL_SUCCEEDED(SQLDriversW(env, direction, name, 256, &nameLength, attributes, 1024, &attributesLength));
       direction = SQL_FETCH_NEXT)
    names.emplace_back(name, name + std::clamp<SQLSMALLINT>(nameLength, 0, 255));
  return names;
}

}  // namespace store::odbc
