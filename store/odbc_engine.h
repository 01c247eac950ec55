// The ODBC engine: a reply database reached through an ODBC driver, with wide-character calls
// only. On Windows it opens the customer-service software's Jet (Access) file through the
// system's own Access driver; here it is tested with the SQLite ODBC driver standing in.
//
// Texts are read in pieces, so long Memo texts arrive whole, and only ever passed as bound
// parameters. A save runs with autocommit off and ends with SQLEndTran. Jet cannot change an
// AutoNumber id, so a row moves by a copy under its new id (every other column copied) and the
// removal of the old one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/engine.h"

namespace store {

// The kinds of file this engine opens, each with its driver, SQL dialect and error codes.
enum class OdbcDriver {
  Jet3,   // Jet 3 files, whose texts are in the system's code page: the Access driver of every
          // 32-bit Windows, "Microsoft Access Driver (*.mdb)" or its translated name
  Jet4,   // Jet 4 files, in Unicode: the same driver
  Ace,    // ACE files: "Microsoft Access Driver (*.mdb, *.accdb)", with the Access Database Engine
  Sqlite, // SQLite files through "SQLite3" (Debian's libsqliteodbc), standing in for Jet in tests
};

// Connects through driver to the existing database file, whose name is given as the driver is to
// see it. A driver that is not installed fails with DriverMissing.
std::unique_ptr<Engine> OpenOdbcEngine(OdbcDriver driver, const std::u16string& file);

// The connection string with which the engine opens file (named as the driver is to see it)
// through the installed driver driverName (the stand-in's is always "SQLite3"); the file is never
// created. Throws CantOpen for a name no connection string can hold.
std::u16string OdbcConnectionString(OdbcDriver driver, const std::u16string& driverName, const std::u16string& file);

// ---- The engine's decisions on what drivers report, for its tests ----

// One diagnostic record of a failed ODBC call.
struct OdbcDiagnostic {
  std::u16string state;  // the SQLSTATE
  std::int32_t native;   // the driver's own error number
  std::u16string message;
};

// The record that says why a call failed: the first that is not the driver manager's own (IM...)
// or a warning (01...), which it may put before the driver's; with none such, the first record.
const OdbcDiagnostic* ChooseDiagnostic(const std::vector<OdbcDiagnostic>& records);

// The fault a diagnostic record of driver describes.
Fault ClassifyDiagnostic(OdbcDriver driver, const OdbcDiagnostic& record);

// The installed driver (by the names SQLDrivers lists) that opens a file of kind, or none: for
// Jet files one whose name holds "*.mdb" but not "*.accdb", else one that holds both (ACE also
// reads Jet files); for ACE files only the latter. Windows translates the names.
std::optional<std::u16string> ChooseAccessDriver(const std::vector<std::u16string>& installed, OdbcDriver kind);

// True iff every character of text has its own byte form in the Windows code page codePage, so
// that a Jet 3 file stores it as it is and not as "?" or a look-alike.
bool CodePageHolds(unsigned codePage, std::u16string_view text);

}  // namespace store
