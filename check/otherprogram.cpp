#include "check/otherprogram.h"

#include <algorithm>

#include "store/utf.h"

namespace check {

std::string Describe(const store::OdbcDiagnostic& record) {
  return store::Utf16ToUtf8(record.state) + " (" + std::to_string(record.native) + ") " +
         store::Utf16ToUtf8(record.message);
}

OtherProgram::OtherProgram(std::u16string_view connection)
    : env_(store::odbc::Environment()) {
  dbc_ = store::odbc::Allocate(SQL_HANDLE_DBC, env_.get());
  if (!SQL_SUCCEEDED(store::odbc::Connect(dbc_.get(), connection))) Fail(SQL_HANDLE_DBC, dbc_.get(), connection);
}

OtherProgram::~OtherProgram() { SQLDisconnect(dbc_.get()); }

void OtherProgram::Fail(short type, void* handle, std::u16string_view sql) const {
  const std::vector<store::OdbcDiagnostic> records = store::odbc::Diagnostics(type, handle);
  const store::OdbcDiagnostic* record = store::ChooseDiagnostic(records);
  const store::OdbcDiagnostic chosen = record ? *record : store::OdbcDiagnostic{u"HY000", 0, u"no diagnostic record"};
  throw OdbcFailure(store::Utf16ToUtf8(sql) + ": " + Describe(chosen), chosen);
}

std::string OtherProgram::Run(std::u16string_view sql, const std::vector<std::u16string>& texts) {
  const store::odbc::Handle stmt = store::odbc::Allocate(SQL_HANDLE_STMT, dbc_.get());
  store::odbc::Text text = store::odbc::Wide(sql);
  if (!SQL_SUCCEEDED(SQLPrepareW(stmt.get(), text.data(), SQL_NTS))) Fail(SQL_HANDLE_STMT, stmt.get(), sql);
  std::vector<store::odbc::Text> values;
  std::vector<SQLLEN> lengths(texts.size());
  values.reserve(texts.size());
  for (std::size_t n = 0; n < texts.size(); ++n) {
    values.push_back(store::odbc::Wide(texts[n]));
    lengths[n] = static_cast<SQLLEN>(texts[n].size() * sizeof(SQLWCHAR));
    if (!SQL_SUCCEEDED(SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(n + 1), SQL_PARAM_INPUT, SQL_C_WCHAR,
                                        SQL_WLONGVARCHAR, std::max<SQLULEN>(texts[n].size(), 1), 0, values[n].data(),
                                        lengths[n], &lengths[n])))
      Fail(SQL_HANDLE_STMT, stmt.get(), sql);
  }
  const SQLRETURN rc = SQLExecute(stmt.get());
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Fail(SQL_HANDLE_STMT, stmt.get(), sql);
  SQLSMALLINT columns = 0;
  SQLNumResultCols(stmt.get(), &columns);
  std::string rows;
  std::u16string value;
  while (columns > 0 && SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
    for (SQLUSMALLINT column = 1; column <= columns; ++column) {
      bool null = false;
      if (!SQL_SUCCEEDED(store::odbc::ReadText(stmt.get(), column, value, null))) Fail(SQL_HANDLE_STMT, stmt.get(), sql);
      rows += (column > 1 ? "|" : "") + (null ? std::string("<null>") : store::Utf16ToUtf8(value));
    }
    rows += '\n';
  }
  return rows;
}

std::u16string OtherProgram::Info(unsigned short what) {
  SQLWCHAR text[256] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc_.get(), what, text, sizeof text, &length))) return {};
  return std::u16string(text, text + std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 255));
}

}  // namespace check
