// The drivers the store's contract is checked through, and what differs between them: how a new
// file is made, the customer-service software's table in each one's SQL, and how another program
// connects. The Access drivers (Jet 4, Jet 3, ACE) exist only on Windows; the SQLite ODBC driver
// stands in for them wherever it is installed (here, and under wine through the host's).
//
// Error model: MakeFile throws check::OdbcFailure or std::runtime_error; Connection throws
// store::Error (CantOpen) for a file no connection string can name.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/common.h"
#include "store/odbc_engine.h"

namespace check {

struct DriverProfile {
  std::string name;            // as the report shows it
  store::OdbcDriver kind;
  std::u16string driver;       // the installed driver's own name, empty when none is installed
  store::EngineOpener open;    // how Velmora opens the file
  int textLimit;               // the characters a question's column holds, 0 for no limit
  std::u16string textJoin;     // SQL's operator that joins two texts, or a text and a number

  bool Installed() const { return !driver.empty(); }
  // Makes a new, empty database file at file, through the driver.
  void MakeFile(const std::filesystem::path& file) const;
  // Makes file one its driver opens only to read: for an Access file the system's read-only
  // attribute; a SQLite file carries its own mark, which holds even for an administrator.
  void MakeReadOnly(const std::filesystem::path& file) const;
  // Another program's connection string to file; exclusive, for a connection that keeps every
  // other out (the stand-in needs a transaction begun exclusively too).
  std::u16string Connection(const std::filesystem::path& file, bool exclusive = false) const;
  // The reply table as the customer-service software makes it: an AutoNumber id, a question of
  // textLimit characters, a Memo answer, and two columns of its own (a number with a default
  // and a text that may be null).
  std::u16string CreateTable() const;
};

// The names of the installed ODBC drivers, as SQLDrivers lists them.
std::vector<std::u16string> InstalledDrivers();

// Jet 4, Jet 3 and ACE through the Access driver that opens each (found as Velmora finds it),
// then the SQLite stand-in where it answers; a driver not there leaves its profile's driver empty.
std::vector<DriverProfile> Profiles();

// A file's name as the driver is to see it: under wine the stand-in driver runs on the host and
// takes the host's name.
std::u16string NameForDriver(const std::filesystem::path& file);

// The file opened through the SQLite ODBC driver, by the name NameForDriver gives.
std::unique_ptr<store::Engine> OpenStandIn(const std::filesystem::path& file);

}  // namespace check
