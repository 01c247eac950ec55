// The ODBC engine: a reply database reached through an ODBC driver, with wide-character calls
// only. On Windows it opens the customer-service software's Jet (Access) file through the
// system's own Access driver; here it is tested with the SQLite ODBC driver standing in.
//
// Texts are read in pieces, so long Memo texts arrive whole, and only ever passed as bound
// parameters. A save runs with autocommit off and ends with SQLEndTran. Jet cannot change an
// AutoNumber id, so a row moves by a copy under its new id (every other column copied) and the
// removal of the old one.
#pragma once

#include <memory>
#include <string>

#include "store/engine.h"

namespace store {

// The drivers this engine knows, each with its connection string, SQL dialect and error codes.
enum class OdbcDriver {
  Jet,    // "Microsoft Access Driver (*.mdb)": Jet 3 and 4 files, in every 32-bit Windows
  Ace,    // "Microsoft Access Driver (*.mdb, *.accdb)": ACE files, with the Access Database Engine
  Sqlite, // "SQLite3" (Debian's libsqliteodbc): SQLite files, standing in for Jet in the tests
};

// Connects through driver to the existing database file, whose name is given as the driver is to
// see it. A driver that is not installed fails with DriverMissing.
std::unique_ptr<Engine> OpenOdbcEngine(OdbcDriver driver, const std::u16string& file);

}  // namespace store
