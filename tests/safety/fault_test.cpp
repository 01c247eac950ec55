// I/O errors and a full disk injected into a save through the fault VFS, swept over every write,
// sync and truncate the save makes: each leaves the old table intact, keeps the edits marked
// unsaved, tells the operator, and the next save after the fault clears succeeds.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "editor/messages.h"
#include "tests/safety/faultvfs.h"
#include "tests/support/fakewindow.h"
#include "tests/support/testdb.h"

namespace safety {
namespace {

namespace fs = std::filesystem;
using testsupport::Contains;
using testsupport::DumpTable;
using testsupport::Editor;
using testsupport::FakeWindow;
using testsupport::IntegrityOf;
using testsupport::TempDir;

std::u16string NewText(int entries) {
  std::u16string text;
  for (int i = 0; i < entries; ++i)
    text += u"新问题" + testsupport::U16(std::to_string(i)) + u"###新答案，内容稍长一些以占满更多的页" + u"\r\n";
  return text;
}

struct Sweep {
  const char* journalMode;
  int code;
  bool sticky;
  const char16_t* says;
};

void PrintTo(const Sweep& sweep, std::ostream* out) { *out << sweep.journalMode << ' ' << sweep.code; }

class FaultSweep : public testing::TestWithParam<Sweep> {
 protected:
  void SetUp() override {
    InstallFaultVfs();
    testsupport::Rows rows;
    for (int i = 0; i < 300; ++i) rows.emplace_back("旧问题" + std::to_string(i), "旧答案" + std::string(50, 'x'));
    testsupport::CreateReplyDatabase(pristine_.DatabaseFile(), rows);
    testsupport::ExecSql(pristine_.DatabaseFile(), std::string("pragma journal_mode=") + GetParam().journalMode);
    oldTable_ = DumpTable(pristine_.DatabaseFile());
  }
  void TearDown() override { Disarm(); }

  // A fresh copy of the old database in dir, with the editor started on it and edited.
  std::unique_ptr<Editor> StartOn(const TempDir& dir) {
    fs::copy_file(pristine_.DatabaseFile(), dir.DatabaseFile());
    auto editor = std::make_unique<Editor>(dir.AppPath());
    editor->form.StartUp();
    editor->window.text = NewText(1500);
    editor->form.TextChanged();
    return editor;
  }

  TempDir pristine_;
  std::string oldTable_;
};

TEST_P(FaultSweep, EveryFaultPointLeavesOldTableAndReportsFailure) {
  const Sweep& sweep = GetParam();
  // A clean run first, to learn how many calls a whole save makes and what it stores.
  int calls = 0;
  std::string newTable;
  {
    TempDir dir;
    auto editor = StartOn(dir);
    Arm({});
    ASSERT_TRUE(editor->form.LinkClick(1));
    calls = CallsSeen();
    Disarm();
    editor->common.CloseDatabase();
    newTable = DumpTable(dir.DatabaseFile());
  }
  ASSERT_GT(calls, 5);
  ASSERT_NE(newTable, oldTable_);

  int fired = 0;
  for (int n = 1; n <= calls; ++n) {
    SCOPED_TRACE("fault at call " + std::to_string(n) + " of " + std::to_string(calls));
    TempDir dir;
    auto editor = StartOn(dir);
    FakeWindow& window = editor->window;
    window.messages.clear();
    Arm({n, sweep.code, sweep.sticky});
    const bool saved = editor->form.LinkClick(1);
    const bool hit = FaultFired();
    Disarm();
    if (!hit) continue;  // this run took a shorter path; nothing was injected
    ++fired;
    if (saved) {
      // SQLite may absorb a fault it can work around; then the save must really be complete.
      EXPECT_EQ(DumpTable(dir.DatabaseFile()), newTable);
      continue;
    }
    EXPECT_TRUE(editor->form.Modified());
    EXPECT_FALSE(Contains(window.caption, editor::kSavedSuffix));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(Contains(window.messages[0], u"保存失败")) << testsupport::U8(window.messages[0]);
    EXPECT_TRUE(Contains(window.messages[0], sweep.says)) << testsupport::U8(window.messages[0]);
    // A fresh read-write connection, as the other program would open one, rolls back any hot
    // journal the fault left and then sees the old table, whole.
    EXPECT_EQ(IntegrityOf(dir.DatabaseFile()), "ok");
    EXPECT_EQ(DumpTable(dir.DatabaseFile()), oldTable_);
    // The fault is gone: saving again stores the edits.
    EXPECT_TRUE(editor->form.LinkClick(1)) << testsupport::U8(window.LastMessage());
    EXPECT_FALSE(editor->form.Modified());
    editor->common.CloseDatabase();
    EXPECT_EQ(DumpTable(dir.DatabaseFile()), newTable);
    if (HasFailure()) break;  // one broken fault point says enough
  }
  EXPECT_GT(fired, calls / 2);
  RecordProperty("fault_points", fired);
  std::printf("%s/%d: %d fault points swept of %d calls\n", sweep.journalMode, sweep.code, fired, calls);
}

const Sweep kSweeps[] = {
    {"delete", SQLITE_IOERR_WRITE, false, u"读写数据库文件时发生错误"},
    {"delete", SQLITE_FULL, true, u"磁盘空间已满"},
    {"wal", SQLITE_IOERR_WRITE, false, u"读写数据库文件时发生错误"},
    {"wal", SQLITE_FULL, true, u"磁盘空间已满"},
};

INSTANTIATE_TEST_SUITE_P(Safety, FaultSweep, testing::ValuesIn(kSweeps), [](const auto& info) {
  return std::string(info.param.journalMode) + (info.param.code == SQLITE_FULL ? "_DiskFull" : "_IoError");
});

}  // namespace
}  // namespace safety
