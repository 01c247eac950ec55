// velmora-check: run once on a Windows PC, it checks everything Velmora promises about a reply
// database through each Access driver installed there (and the SQLite stand-in where it answers),
// on files it makes itself in a folder of its own under %TEMP%, which it removes afterwards; the
// operator's tarvello.db is never touched. It prints its report, writes it beside itself as
// velmora-check.txt, and exits 0 only when no case failed.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "check/cases.h"
#include "check/profile.h"
#include "check/report.h"
#include "store/odbcapi.h"
#include "store/utf.h"

namespace {

using check::DriverProfile;
using check::Report;

std::string WindowsVersion() {
  // GetVersionEx reports what the program's manifest claims; the kernel says what this is.
  using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtlGetVersion = reinterpret_cast<GetVersion>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  if (!rtlGetVersion || rtlGetVersion(&info) != 0) return "（未知）";
  return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
         std::to_string(info.dwBuildNumber);
}

std::string InstalledDrivers() {
  std::string names;
  for (const std::u16string& name : check::InstalledDrivers())
    names += (names.empty() ? "" : "、") + store::Utf16ToUtf8(name);
  return names.empty() ? "（无）" : names;
}

// The driver's own name and version, from a connection to a file made for asking.
std::string DriverVersion(const DriverProfile& profile, const std::filesystem::path& folder) try {
  std::filesystem::create_directories(folder);
  profile.MakeFile(folder / "tarvello.db");
  check::OtherProgram probe(profile.Connection(folder / "tarvello.db"));
  return store::Utf16ToUtf8(probe.Info(SQL_DRIVER_NAME) + u" " + probe.Info(SQL_DRIVER_VER));
} catch (const std::exception& error) {
  return std::string("版本不明：") + error.what();
}

// Shown as it comes: wide text on a console, UTF-8 into a file or a pipe.
void Show(const std::string& line) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(out, &mode)) {
    const std::u16string wide = store::Utf8ToUtf16(line);
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

void RunProfile(const DriverProfile& profile, const std::filesystem::path& folder, Report& report) {
  const std::vector<check::Case>& cases = check::Cases();
  report.Line(profile.name + "（" + DriverVersion(profile, folder / "driver") + "）：");
  for (std::size_t n = 0; n < cases.size(); ++n) {
    if (!cases[n].AppliesTo(profile)) continue;
    const check::CaseResult result = check::RunCase(cases[n], profile, folder / std::to_string(n));
    if (result.failure) report.Failed(cases[n].name, *result.failure);
    else report.Passed(cases[n].name + (result.note.empty() ? "" : "（" + result.note + "）"));
  }
}

std::filesystem::path OwnFolder() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(self).parent_path();
}

// The kinds of file whose driver is missing, and the cases that could therefore not run.
void ReportMissing(const std::vector<const DriverProfile*>& missing, Report& report) {
  std::string kinds;
  std::size_t skipped = 0;
  for (const DriverProfile* profile : missing) {
    kinds += (kinds.empty() ? "" : "、") + profile->name;
    for (const check::Case& each : check::Cases()) skipped += each.AppliesTo(*profile);
  }
  report.Line(kinds + "：未安装 Access 驱动，跳过以下各项（每种文件各一次）：");
  for (const check::Case& each : check::Cases())
    report.Line("  跳过  " + std::string(each.name) + (*each.settles ? std::string("（可证实：") + each.settles + "）" : ""));
  report.Skipped(skipped);
}

// Started by a double click, the program has a console of its own, which closes as it ends: it
// waits for Enter, so that the report can be read.
void WaitIfOwnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;
  Show("按 Enter 键关闭本窗口。\r\n");
  std::getchar();
}

}  // namespace

int main() {
  Report report(Show);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
      ("velmora-check-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()));
  int status = 0;
  try {
    report.Line("Velmora 检查：在本机的数据库驱动上核对 Velmora 的保存规则（只用自己建的临时文件）");
    report.Line("Windows " + WindowsVersion() + "；已安装的 ODBC 驱动：" + InstalledDrivers());
    const std::vector<DriverProfile> profiles = check::Profiles();
    std::vector<const DriverProfile*> missing;  // the stand-in is not looked for on an operator's PC
    for (std::size_t n = 0; n < profiles.size(); ++n) {
      if (profiles[n].Installed()) RunProfile(profiles[n], folder / std::to_string(n), report);
      else if (profiles[n].kind != store::OdbcDriver::Sqlite) missing.push_back(&profiles[n]);
    }
    if (!missing.empty()) ReportMissing(missing, report);
    report.Summarize();
    status = report.AllPassed() ? 0 : 1;
  } catch (const std::exception& error) {
    report.Line(std::string("检查中断：") + error.what() + "。请把本报告（velmora-check.txt）发回。");
    status = 2;
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::ofstream(OwnFolder() / "velmora-check.txt", std::ios::binary) << "\xEF\xBB\xBF" << report.Text();
  WaitIfOwnConsole();
  return status;
}
