// Another program's ODBC connection to a reply database, as the customer-service software keeps
// one open beside Velmora's: each statement runs and commits at once, and rows come back as text.
//
// Error model: every failed call throws OdbcFailure, with the record the driver gave.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "store/odbc_engine.h"
#include "store/odbcapi.h"

namespace check {

struct OdbcFailure : std::runtime_error {
  OdbcFailure(const std::string& what, store::OdbcDiagnostic record) : std::runtime_error(what), record(std::move(record)) {}
  store::OdbcDiagnostic record;
};

// The driver's own record of a failure, as the report shows it: "SQLSTATE (native) text".
std::string Describe(const store::OdbcDiagnostic& record);

class OtherProgram {
 public:
  explicit OtherProgram(std::u16string_view connection);
  ~OtherProgram();
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  // Runs the statement with texts for its parameters (texts in SQL itself may reach the driver
  // in its narrow code page); returns the rows it gives, in UTF-8, columns joined by '|' and each
  // row ended by '\n', a null as <null>.
  std::string Run(std::u16string_view sql, const std::vector<std::u16string>& texts = {});
  // SQLGetInfo's text for what (SQL_DRIVER_NAME, SQL_DRIVER_VER, SQL_DBMS_VER ...).
  std::u16string Info(unsigned short what);

 private:
  [[noreturn]] void Fail(short type, void* handle, std::u16string_view sql) const;
  store::odbc::Handle env_, dbc_;
};

}  // namespace check
