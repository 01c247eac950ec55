// The file deleted, replaced or made read-only while Velmora has it open, and the directory
// made read-only so that no journal can be created.
//
// The tests run as root in CI, and root ignores permission bits, so chmod would prove nothing.
// Read-only is made real with the immutable attribute (chattr +i), which binds root too; where
// the file system or the container does not allow it, those cases are skipped with a message.
// The same two conditions are also simulated below SQLite by the fault VFS, which always runs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "editor/messages.h"
#include "tests/safety/faultvfs.h"
#include "tests/safety/files.h"
#include "tests/support/fakewindow.h"
#include "tests/support/testdb.h"

namespace safety {
namespace {

namespace fs = std::filesystem;
using testsupport::Contains;
using testsupport::CreateReplyDatabase;
using testsupport::DumpTable;
using testsupport::Editor;
using testsupport::TempDir;

// Sets the immutable attribute on a file or directory for the object's life.
class Immutable {
 public:
  explicit Immutable(const fs::path& path) : path_(path) { ok_ = Set(true); }
  ~Immutable() { Release(); }
  bool ok() const { return ok_; }
  void Release() {
    if (ok_) Set(false);
    ok_ = false;
  }

 private:
  bool Set(bool on) {
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return done;
  }
  fs::path path_;
  bool ok_ = false;
};

class WhileOpen : public testing::Test {
 protected:
  virtual const char* JournalMode() const { return "delete"; }
  void SetUp() override {
    InstallFaultVfs();
    CreateReplyDatabase(file_, {{"旧问题", "旧答案"}});
    testsupport::ExecSql(file_, std::string("pragma journal_mode=") + JournalMode());
  }
  void TearDown() override { Disarm(); }

  void StartAndEdit() {
    editor_.form.StartUp();
    ASSERT_EQ(editor_.window.text, u"旧问题###旧答案");
    editor_.window.text = u"新问题###新答案";
    editor_.form.TextChanged();
    editor_.window.messages.clear();
  }
  // The save must fail, say so in Chinese with the given cause, and keep the edits unsaved.
  void ExpectSaveFails(std::u16string_view cause) {
    EXPECT_FALSE(editor_.form.LinkClick(1));
    EXPECT_TRUE(editor_.form.Modified());
    EXPECT_FALSE(Contains(editor_.window.caption, editor::kSavedSuffix));
    ASSERT_FALSE(editor_.window.messages.empty());
    EXPECT_TRUE(Contains(editor_.window.LastMessage(), u"保存失败"));
    EXPECT_TRUE(Contains(editor_.window.LastMessage(), cause)) << testsupport::U8(editor_.window.LastMessage());
    EXPECT_EQ(editor_.window.text, u"新问题###新答案");
  }

  TempDir dir_;
  fs::path file_ = dir_.DatabaseFile();
  Editor editor_{dir_.AppPath()};
};

// The file deleted or replaced, in both journal modes a file keeps. In WAL mode a save into it
// would commit without an error, so only Velmora's own check stops it there.
class Moved : public WhileOpen, public testing::WithParamInterface<const char*> {
  const char* JournalMode() const override { return GetParam(); }
};

// Saving into the unlinked file would report success and lose every edit when it closes.
TEST_P(Moved, DeletedFileRefusesTheSaveAndReloadSaysItIsGone) {
  StartAndEdit();
  fs::remove(file_);
  ExpectSaveFails(u"替换");
  EXPECT_FALSE(fs::exists(file_)) << "the save must not create a new file";

  editor_.window.messages.clear();
  EXPECT_FALSE(editor_.form.LinkClick(0));
  EXPECT_TRUE(Contains(editor_.window.LastMessage(), u"无法打开")) << testsupport::U8(editor_.window.LastMessage());
  EXPECT_EQ(editor_.window.text, u"新问题###新答案");

  CreateReplyDatabase(file_, {{"放回", "的文件"}});
  EXPECT_TRUE(editor_.form.LinkClick(0));
  EXPECT_EQ(editor_.window.text, u"放回###的文件");
}

TEST_P(Moved, ReplacedFileRefusesTheSaveAndReloadReadsTheNewFile) {
  StartAndEdit();
  const fs::path other = dir_.path() / "incoming.db";
  CreateReplyDatabase(other, {{"别人的", "新表"}});
  fs::rename(other, file_);
  ExpectSaveFails(u"替换");
  EXPECT_EQ(DumpTable(file_), "别人的|新表\n");

  EXPECT_TRUE(editor_.form.LinkClick(0));
  EXPECT_EQ(editor_.window.text, u"别人的###新表");
  editor_.window.text = u"再改###一次";
  EXPECT_TRUE(editor_.form.LinkClick(1));
  EXPECT_EQ(DumpTable(file_), "再改|一次\n");
}

TEST_F(WhileOpen, ImmutableFileFailsTheSaveCleanly) {
  StartAndEdit();
  Immutable frozen(file_);
  if (!frozen.ok()) GTEST_SKIP() << "chattr +i is not allowed here; the VFS case below covers it";
  const std::string before = ReadBytes(file_);
  // SQLite reports the refused write as an I/O error, and says so.
  ExpectSaveFails(u"读写数据库文件时发生错误");
  frozen.Release();
  EXPECT_EQ(ReadBytes(file_), before);
  EXPECT_TRUE(editor_.form.LinkClick(1)) << testsupport::U8(editor_.window.LastMessage());
  EXPECT_EQ(DumpTable(file_), "新问题|新答案\n");
}

TEST_F(WhileOpen, ImmutableDirectoryFailsTheSaveCleanly) {
  StartAndEdit();
  Immutable frozen(dir_.path());
  if (!frozen.ok()) GTEST_SKIP() << "chattr +i is not allowed here; the VFS case below covers it";
  const std::string before = ReadBytes(file_);
  ExpectSaveFails(u"只读");
  frozen.Release();
  EXPECT_EQ(ReadBytes(file_), before);
  EXPECT_EQ(Listing(dir_.path()), std::set<std::string>{"tarvello.db"});
  EXPECT_TRUE(editor_.form.LinkClick(1)) << testsupport::U8(editor_.window.LastMessage());
  EXPECT_EQ(DumpTable(file_), "新问题|新答案\n");
}

TEST_F(WhileOpen, FileOpenedReadOnlyByTheSystemFailsTheSaveCleanly) {
  Arm({.readOnlyFile = true});
  StartAndEdit();
  ExpectSaveFails(u"只读");
  Disarm();
  EXPECT_EQ(DumpTable(file_), "旧问题|旧答案\n");
}

TEST_F(WhileOpen, DirectoryRefusingNewFilesFailsTheSaveCleanly) {
  StartAndEdit();
  Arm({.noNewFiles = true});
  ExpectSaveFails(u"只读");
  Disarm();
  EXPECT_EQ(DumpTable(file_), "旧问题|旧答案\n");
  EXPECT_TRUE(editor_.form.LinkClick(1)) << testsupport::U8(editor_.window.LastMessage());
  EXPECT_EQ(DumpTable(file_), "新问题|新答案\n");
}

INSTANTIATE_TEST_SUITE_P(Safety, Moved, testing::Values("delete", "wal"));

}  // namespace
}  // namespace safety
