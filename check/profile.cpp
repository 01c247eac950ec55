#include "check/profile.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <odbcinst.h>

#include <algorithm>
#include <fstream>

#include "check/otherprogram.h"
#include "store/odbcapi.h"
#include "store/utf.h"

namespace check {

namespace {

// Whether the stand-in driver takes a connection: under wine it is the host's, which the drivers
// wine lists need not name.
bool StandInAnswers() try {
  OtherProgram probe(u"DRIVER={SQLite3};DATABASE=:memory:");
  return true;
} catch (const OdbcFailure&) {
  return false;
}

bool Jet(const DriverProfile& profile) { return profile.kind != store::OdbcDriver::Sqlite; }

}  // namespace

std::unique_ptr<store::Engine> OpenStandIn(const std::filesystem::path& file) {
  return store::OpenOdbcEngine(store::OdbcDriver::Sqlite, NameForDriver(file));
}

std::vector<std::u16string> InstalledDrivers() {
  return store::odbc::InstalledDrivers(store::odbc::Environment().get());
}

#ifdef _WIN32
std::u16string NameForDriver(const std::filesystem::path& file) {
  using UnixName = char*(__cdecl*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName ? unixName(file.wstring().c_str()) : nullptr;
  const std::u16string host = name ? store::Utf8ToUtf16(name) : file.u16string();
  HeapFree(GetProcessHeap(), 0, name);
  return host;
}
#else
std::u16string NameForDriver(const std::filesystem::path& file) { return store::Utf8ToUtf16(file.u8string()); }
#endif

std::vector<DriverProfile> Profiles() {
  using store::OdbcDriver;
  const std::vector<std::u16string> installed = InstalledDrivers();
  std::vector<DriverProfile> profiles;
  for (const auto& [name, kind] : {std::pair{"Jet 4", OdbcDriver::Jet4}, {"Jet 3", OdbcDriver::Jet3}, {"ACE", OdbcDriver::Ace}})
    profiles.push_back({name, kind, store::ChooseAccessDriver(installed, kind).value_or(u""), store::OpenEngine, 255, u" & "});
  profiles.push_back({"SQLite（替身）", OdbcDriver::Sqlite, StandInAnswers() ? u"SQLite3" : u"", OpenStandIn, 0, u" || "});
  return profiles;
}

void DriverProfile::MakeFile(const std::filesystem::path& file) const {
  if (!Jet(*this)) {  // the stand-in makes the file it is asked to connect to
    OtherProgram maker(u"DRIVER={SQLite3};DATABASE=" + NameForDriver(file));
    return;
  }
  // The Access driver's own way: "CREATE_DBV4=<file> General", the attributes ended by two 0s.
  const char16_t* kind = this->kind == store::OdbcDriver::Jet3 ? u"CREATE_DBV3" : this->kind == store::OdbcDriver::Jet4 ? u"CREATE_DBV4" : u"CREATE_DB";
  std::u16string attributes = std::u16string(kind) + u"=\"" + file.u16string() + u"\" General";
  attributes.push_back(u'\0');
  attributes.push_back(u'\0');
  const std::u16string driverName = driver;
  if (!SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, reinterpret_cast<LPCWSTR>(driverName.c_str()),
                            reinterpret_cast<LPCWSTR>(attributes.c_str()))) {
    DWORD code = 0;
    std::u16string message(SQL_MAX_MESSAGE_LENGTH, u'\0');
    WORD length = 0;
    SQLInstallerErrorW(1, &code, reinterpret_cast<LPWSTR>(message.data()), SQL_MAX_MESSAGE_LENGTH, &length);
    message.resize(std::min<std::size_t>(length, SQL_MAX_MESSAGE_LENGTH - 1));
    throw std::runtime_error("SQLConfigDataSource: " + store::Utf16ToUtf8(message));
  }
}

void DriverProfile::MakeReadOnly(const std::filesystem::path& file) const {
  using std::filesystem::perms;
  if (Jet(*this))
    return std::filesystem::permissions(file, perms::owner_write | perms::group_write | perms::others_write,
                                        std::filesystem::perm_options::remove);
  // Byte 18 is the file format's write version: SQLite opens a file of a version above 2 only to read.
  std::fstream header(file, std::ios::binary | std::ios::in | std::ios::out);
  header.seekp(18);
  if (!header.put('\3').flush()) throw std::runtime_error("cannot mark " + file.u8string() + " read-only");
}

std::u16string DriverProfile::Connection(const std::filesystem::path& file, bool exclusive) const {
  // Velmora's own connection, with Jet told to keep every other out where asked.
  return store::OdbcConnectionString(kind, driver, NameForDriver(file)) + (exclusive && Jet(*this) ? u";Exclusive=1" : u"");
}

std::u16string DriverProfile::CreateTable() const {
  if (!Jet(*this))
    return u"CREATE TABLE zorvrobot (id INTEGER PRIMARY KEY AUTOINCREMENT, ask VARCHAR(255), answer TEXT, "
           u"hits INTEGER DEFAULT 7, note VARCHAR(50))";
  return u"CREATE TABLE zorvrobot (id COUNTER PRIMARY KEY, ask TEXT(255), answer MEMO, hits LONG DEFAULT 7, note TEXT(50))";
}

}  // namespace check
