// Another program on the same file: its read lock or write transaction makes Velmora wait its
// busy timeout and then fail cleanly; once the lock goes the next load or save succeeds. And
// Velmora leaves that program's persistent settings of the file alone.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "editor/messages.h"
#include "tests/support/fakewindow.h"
#include "tests/support/testdb.h"

namespace safety {
namespace {

namespace fs = std::filesystem;
using testsupport::Contains;
using testsupport::CreateReplyDatabase;
using testsupport::DumpTable;
using testsupport::Editor;
using testsupport::OtherConnection;
using testsupport::TempDir;

constexpr char16_t kInUse[] = u"占用";  // the message says another program has the file

struct Lock {
  const char* name;
  const char* journalMode;  // of the other program's file
  const char* take;         // what the other program runs and keeps open
  bool blocksLoad;
};

// In rollback-journal mode a reader blocks the writer's commit; in WAL mode readers and one
// writer coexist, so only an exclusive transaction stops a load there.
const Lock kLocks[] = {
    {"ReadTransaction", "delete", "begin; select count(*) from zorvrobot", false},
    {"ReservedWrite", "delete", "begin immediate; insert into zorvrobot (ask, answer) values ('x', 'y')", false},
    {"ExclusiveWrite", "delete", "begin exclusive", true},
    {"WalWrite", "wal", "begin immediate; insert into zorvrobot (ask, answer) values ('x', 'y')", false},
};

void PrintTo(const Lock& lock, std::ostream* out) { *out << lock.name; }

class HeldLock : public testing::TestWithParam<Lock> {};

TEST_P(HeldLock, LoadAndSaveWaitThenFailCleanlyAndWorkOnceReleased) {
  const Lock& lock = GetParam();
  TempDir dir;
  const fs::path file = dir.DatabaseFile();
  CreateReplyDatabase(file, {{"问一", "答一"}, {"问二", "答二"}});
  testsupport::ExecSql(file, std::string("pragma journal_mode=") + lock.journalMode);
  const std::string before = DumpTable(file);

  Editor editor(dir.AppPath());
  editor.form.StartUp();
  ASSERT_EQ(editor.window.text, u"问一###答一\r\n问二###答二");
  editor.window.text = u"新问###新答";
  editor.form.TextChanged();

  {
    OtherConnection other(file);
    other.Exec(lock.take);
    // A held statement keeps the other program's read lock on in the rollback-journal case.
    EXPECT_EQ(editor.form.LinkClick(0), !lock.blocksLoad) << testsupport::U8(editor.window.LastMessage());
    if (lock.blocksLoad) {
      EXPECT_TRUE(Contains(editor.window.LastMessage(), kInUse));
      EXPECT_EQ(editor.window.text, u"新问###新答") << "a failed load must keep the edits";
    } else {
      editor.window.text = u"新问###新答";
      editor.form.TextChanged();
    }
    editor.window.messages.clear();

    EXPECT_FALSE(editor.form.LinkClick(1));
    EXPECT_TRUE(editor.form.Modified());
    EXPECT_FALSE(Contains(editor.window.caption, editor::kSavedSuffix));
    ASSERT_EQ(editor.window.messages.size(), 1u);
    EXPECT_TRUE(Contains(editor.window.messages[0], u"保存失败"));
    EXPECT_TRUE(Contains(editor.window.messages[0], kInUse)) << testsupport::U8(editor.window.messages[0]);
    other.Exec("rollback");
  }
  EXPECT_EQ(DumpTable(file), before);

  EXPECT_TRUE(editor.form.LinkClick(1)) << testsupport::U8(editor.window.LastMessage());
  EXPECT_EQ(DumpTable(file), "新问|新答\n");
  EXPECT_TRUE(editor.form.LinkClick(0));
  EXPECT_EQ(editor.window.text, u"新问###新答");
}

INSTANTIATE_TEST_SUITE_P(Safety, HeldLock, testing::ValuesIn(kLocks),
                         [](const auto& info) { return std::string(info.param.name); });

// A lock the other program lets go of within Velmora's wait is no failure: the save goes through.
TEST(LockReleased, WithinTheWaitLetsTheSaveThrough) {
  TempDir dir;
  const fs::path file = dir.DatabaseFile();
  CreateReplyDatabase(file, {{"问一", "答一"}});
  Editor editor(dir.AppPath());
  editor.form.StartUp();
  editor.window.text = u"新问###新答";
  OtherConnection other(file);
  other.Exec("begin exclusive");
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    other.Exec("rollback");
  });
  const bool saved = editor.form.LinkClick(1);
  release.join();
  EXPECT_TRUE(saved) << testsupport::U8(editor.window.LastMessage());
  EXPECT_EQ(DumpTable(file), "新问|新答\n");
}

// The persistent settings of a file, as one string.
std::string Settings(const fs::path& file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.u8string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string all;
  for (const char* pragma : {"journal_mode", "user_version", "application_id", "page_size",
                             "auto_vacuum", "encoding", "schema_version"}) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, (std::string("pragma ") + pragma).c_str(), -1, &stmt, nullptr);
    all += pragma;
    all += '=';
    if (sqlite3_step(stmt) == SQLITE_ROW) all += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    all += ' ';
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return all;
}

TEST(OtherProgramsSettings, SurviveOpenLoadSaveAndClose) {
  // The two journal modes a file keeps; the others last only as long as a connection.
  for (const char* mode : {"wal", "delete"}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    const fs::path file = dir.DatabaseFile();
    CreateReplyDatabase(file, {{"a", "b"}});
    testsupport::ExecSql(file, std::string("pragma journal_mode=") + mode +
                                   "; pragma user_version=7; pragma application_id=4242");
    const std::string before = Settings(file);
    ASSERT_NE(before.find(std::string("journal_mode=") + mode), std::string::npos) << before;

    Editor editor(dir.AppPath());
    editor.form.StartUp();
    editor.window.text = u"c###d\r\ne###f";
    editor.form.TextChanged();
    ASSERT_TRUE(editor.form.LinkClick(1));
    ASSERT_TRUE(editor.form.LinkClick(0));
    int cancel = 0;
    editor.form.CloseRequest(cancel);
    EXPECT_EQ(Settings(file), before);
    EXPECT_EQ(DumpTable(file), "c|d\ne|f\n");
  }
}

}  // namespace
}  // namespace safety
