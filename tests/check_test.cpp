#include "check/cases.h"

#include <gtest/gtest.h>

#include "check/report.h"
#include "tests/support/testdb.h"

namespace {

// The case table velmora-check runs on Windows through the Access driver, run through the SQLite
// ODBC driver standing in for it: every case passes, and leaves no folder behind.
TEST(CheckCases, PassThroughTheStandIn) {
  const std::vector<check::DriverProfile> profiles = check::Profiles();
  const check::DriverProfile& standIn = profiles.back();
  ASSERT_TRUE(standIn.Installed()) << "the SQLite ODBC driver is not installed";
  testsupport::TempDir dir;
  for (std::size_t n = 0; n < check::Cases().size(); ++n) {
    const check::Case& each = check::Cases()[n];
    if (!each.AppliesTo(standIn)) continue;
    const std::optional<std::string> failure = check::RunCase(each, standIn, dir.path() / std::to_string(n)).failure;
    EXPECT_FALSE(failure) << each.name << ": " << failure.value_or("");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / std::to_string(n))) << each.name;
  }
}

}  // namespace
