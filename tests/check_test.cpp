#include "check/cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "check/forwardingengine.h"
#include "store/utf.h"
#include "tests/support/testdb.h"

namespace {

const check::DriverProfile& StandIn() {
  static const check::DriverProfile standIn = check::Profiles().back();
  return standIn;
}

// The case table velmora-check runs on Windows through the Access driver, run through the SQLite
// ODBC driver standing in for it: every case passes, and leaves no folder behind.
TEST(CheckCases, PassThroughTheStandIn) {
  ASSERT_TRUE(StandIn().Installed()) << "the SQLite ODBC driver is not installed";
  testsupport::TempDir dir;
  for (std::size_t n = 0; n < check::Cases().size(); ++n) {
    const check::Case& each = check::Cases()[n];
    if (!each.AppliesTo(StandIn())) continue;
    const std::optional<std::string> failure = check::RunCase(each, StandIn(), dir.path() / std::to_string(n)).failure;
    EXPECT_FALSE(failure) << each.name << ": " << failure.value_or("");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / std::to_string(n))) << each.name;
  }
}

// The stand-in with a question column of 255 units, which refuses a longer question with the
// record the Access driver gives under ExtendedAnsiSQL=1, read by the ODBC engine's own rules.
struct LimitedEngine : check::ForwardingEngine {
  using ForwardingEngine::ForwardingEngine;
  static void Refuse(const store::RowTexts& row) {
    if (row.ask.size() <= 255) return;
    const store::OdbcDiagnostic record{u"22001", 0, u"[Microsoft][ODBC Microsoft Access Driver]String data, right truncation"};
    throw store::Error(store::ClassifyDiagnostic(store::OdbcDriver::Jet4, record), 0,
                       store::Utf16ToUtf8(record.state + u" " + record.message));
  }
  void Update(const store::RowTexts& row) override { Refuse(row), ForwardingEngine::Update(row); }
  void Insert(const store::RowTexts& row) override { Refuse(row), ForwardingEngine::Insert(row); }
};

// A too-long question misread by the engine is what the longest-question case reports.
TEST(CheckCases, TheLongestQuestionCaseReportsATooLongQuestionMisread) {
  check::DriverProfile limited = StandIn();
  limited.textLimit = 255;
  limited.open = [](const std::filesystem::path& file) { return std::make_unique<LimitedEngine>(check::OpenStandIn(file)); };
  const auto& cases = check::Cases();
  const auto longest = std::find_if(cases.begin(), cases.end(), [](const check::Case& each) {
    return std::strstr(each.settles, "22001") != nullptr;
  });
  ASSERT_NE(longest, cases.end());
  testsupport::TempDir dir;
  const std::optional<std::string> failure = check::RunCase(*longest, limited, dir.path() / "case").failure;
  EXPECT_FALSE(failure) << failure.value_or("");
}

}  // namespace
