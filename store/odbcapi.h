// The ODBC calls as the ODBC engine makes them, for it and for the programs that check it against
// a driver: handles that free themselves, texts as the wide calls take them, a text column read
// whole, the diagnostic records of a failed call, and the drivers installed.
//
// Error model: Allocate throws std::bad_alloc; the others report through what they return.
#pragma once

#ifdef _WIN32
#include <windows.h>  // the types sql.h is written in
#endif
#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/odbc_engine.h"

namespace store::odbc {

using Text = std::vector<SQLWCHAR>;  // a text as the ODBC calls take it, ended by a 0
Text Wide(std::u16string_view text);

struct FreeHandle {
  SQLSMALLINT type;
  void operator()(SQLHANDLE handle) const noexcept { SQLFreeHandle(type, handle); }
};
using Handle = std::unique_ptr<void, FreeHandle>;
Handle Allocate(SQLSMALLINT type, SQLHANDLE parent);
Handle Environment();  // an environment for ODBC 3 calls

// Connects dbc by the connection string, without ever prompting; returns the call's result.
SQLRETURN Connect(SQLHDBC dbc, std::u16string_view connection);

// Reads a text column of the row fetched in pieces, so that a long Memo text arrives whole; null
// tells whether the value was NULL (text is then empty). Returns the first call that failed, or
// SQL_SUCCESS.
SQLRETURN ReadText(SQLHSTMT stmt, SQLUSMALLINT column, std::u16string& text, bool& null);

// The diagnostic records of the handle's last call, in the driver manager's order.
std::vector<OdbcDiagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle);

// The names of the installed drivers, as SQLDrivers lists them.
std::vector<std::u16string> InstalledDrivers(SQLHENV env);

}  // namespace store::odbc
