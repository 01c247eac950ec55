#include "editor/frmmain.h"

#include <gtest/gtest.h>

#include <fstream>

#include "editor/messages.h"
#include "tests/support/fakewindow.h"
#include "tests/support/testdb.h"

using namespace testsupport;
using editor::frmMain;

namespace {

class EditorTest : public ::testing::Test {
 protected:
  EditorTest() : common_(dir_.AppPath()), form_(window_, common_) { window_.form = &form_; }

  void StartWith(const Rows& rows) {
    CreateReplyDatabase(dir_.DatabaseFile(), rows);
    form_.StartUp();
  }
  int Close() {
    int cancel = 0;
    form_.CloseRequest(cancel);
    return cancel;
  }
  std::string Dump() { return DumpTable(dir_.DatabaseFile()); }

  TempDir dir_;
  store::Common common_;
  FakeWindow window_;
  frmMain form_;
};

TEST_F(EditorTest, MissingDatabaseShowsNoticeAndEndsWithoutTouchingAnything) {
  std::filesystem::create_directory(dir_.DatabaseFile());  // a directory does not count
  form_.StartUp();
  EXPECT_EQ(window_.titles, std::vector<std::u16string>{u"提示"});
  EXPECT_EQ(window_.messages, std::vector<std::u16string>{u"请将此文件放至客服软件目录"});
  EXPECT_TRUE(window_.ended);
  EXPECT_EQ(window_.linkCursors, 0);
  EXPECT_FALSE(common_.HasConn());
}

TEST_F(EditorTest, NormalStartShowsEntriesUnmodifiedWithBareTitle) {
  StartWith({{"a", "1"}, {"b", "2"}});
  EXPECT_EQ(window_.text, u"a###1\r\nb###2");
  EXPECT_EQ(window_.caption, u"Velmora");
  EXPECT_FALSE(form_.Modified());
  EXPECT_EQ(window_.linkCursors, 2);
  EXPECT_TRUE(window_.messages.empty());
}

// A box left holding part of the table must not be saved over the whole of it.
TEST_F(EditorTest, FailedAssignmentOfTheTextRefusesSavingUntilAReloadSucceeds) {
  StartWith({{"a", "1"}, {"b", "2"}});
  window_.failSetText = true;
  EXPECT_FALSE(form_.LinkClick(0));
  EXPECT_FALSE(form_.LinkClick(1));
  EXPECT_EQ(Dump(), "a|1\nb|2\n");
  window_.failSetText = false;
  EXPECT_TRUE(form_.LinkClick(0));
  EXPECT_TRUE(form_.LinkClick(1));
}

TEST_F(EditorTest, TypingSavingAndReloadingDriveCaptionAndModified) {
  StartWith({{"a", "1"}});
  window_.Type(u"\r\nb###2");
  EXPECT_EQ(window_.caption, u"Velmora* ");
  EXPECT_TRUE(form_.Modified());

  int key = 19;  // Ctrl+S
  form_.TextKeyPress(key);
  EXPECT_EQ(key, 0) << "the key is swallowed";
  EXPECT_EQ(window_.caption, u"Velmora(保存成功)");
  EXPECT_FALSE(form_.Modified());
  EXPECT_EQ(Dump(), "a|1\nb|2\n");

  int other = 'x';
  form_.TextKeyPress(other);
  EXPECT_EQ(other, 'x');

  window_.Type(u"\r\nlost###edit");
  form_.LinkClick(0);
  EXPECT_EQ(window_.text, u"a###1\r\nb###2") << "reload discards edits without asking";
  EXPECT_EQ(window_.caption, u"Velmora(加载完毕)");
  EXPECT_TRUE(form_.Modified()) << "a reload is a change of the text";
  EXPECT_TRUE(window_.messages.empty());
  EXPECT_FALSE(form_.LinkClick(2));
}

TEST_F(EditorTest, SaveRunsEvenWithoutChanges) {
  StartWith({{"a", "1"}});
  ExecSql(dir_.DatabaseFile(), "insert into zorvrobot (ask, answer) values ('x', 'y')");
  EXPECT_TRUE(form_.LinkClick(1));
  EXPECT_EQ(Dump(), "a|1\n") << "the table is rewritten from the text";
  EXPECT_EQ(window_.caption, u"Velmora(保存成功)");
}

TEST_F(EditorTest, CloseAnswersDoWhatTheySay) {
  const struct {
    const char* name;
    int answer;
    int cancel;
    const char* table;
  } cases[] = {
      {"unmodified closes without asking", 0, 0, "a|1\n"},
      {"cancel keeps the window", editor::vbCancel, 1, "a|1\n"},
      {"yes saves then closes", editor::vbYes, 0, "a|1\nb|2\n"},
      {"no closes without saving", editor::vbNo, 0, "a|1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    store::Common common(dir.AppPath());
    FakeWindow window;
    frmMain form(window, common);
    window.form = &form;
    CreateReplyDatabase(dir.DatabaseFile(), {{"a", "1"}});
    form.StartUp();
    if (c.answer) {
      window.Type(u"\r\nb###2");
      window.answers.push_back(c.answer);
    }
    const std::u16string caption = window.caption;
    int cancel = 0;
    form.CloseRequest(cancel);
    EXPECT_EQ(cancel, c.cancel);
    EXPECT_EQ(window.messages.size(), c.answer ? 1u : 0u);
    EXPECT_EQ(DumpTable(dir.DatabaseFile()), c.table);
    EXPECT_EQ(common.HasConn(), c.cancel == 1) << "the connection is closed on close";
    if (c.cancel) {
      EXPECT_EQ(window.caption, caption);
    }
  }
}

TEST_F(EditorTest, FailedSaveIsNeverReportedAsSavedAndKeepsWindowOpen) {
  StartWith({{"a", "1"}});
  ExecSql(dir_.DatabaseFile(),
          "create trigger no before insert on zorvrobot begin select raise(abort, 'no'); end");
  window_.Type(u"\r\nb###2");
  window_.answers.push_back(editor::vbYes);
  EXPECT_EQ(Close(), 1) << "closing after a failed save would lose the edits";
  EXPECT_TRUE(form_.Modified());
  EXPECT_EQ(window_.caption, u"Velmora* ");
  ASSERT_EQ(window_.messages.size(), 2u);
  EXPECT_EQ(window_.titles[1], u"Velmora");
  EXPECT_EQ(window_.messages[1].rfind(u"保存失败，数据库中的应答内容未作任何修改。", 0), 0u);
  EXPECT_EQ(Dump(), "a|1\n");
}

TEST_F(EditorTest, FailedLoadAtStartIsReportedAndSaveIsRefused) {
  std::ofstream(dir_.DatabaseFile()) << "this is not a database, just text that is long enough";
  form_.StartUp();
  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_NE(window_.messages[0].find(u"加载应答内容失败"), std::u16string::npos);
  EXPECT_NE(window_.caption, u"Velmora(加载完毕)");
  EXPECT_EQ(window_.text, u"");

  window_.Type(u"a###b");
  int key = 19;
  form_.TextKeyPress(key);
  EXPECT_EQ(window_.titles.back(), u"Velmora");
  EXPECT_EQ(window_.messages.back(), editor::kSaveRefused);
  EXPECT_TRUE(form_.Modified());
  std::ifstream file(dir_.DatabaseFile());
  std::string content((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(content, "this is not a database, just text that is long enough");
}

}  // namespace
