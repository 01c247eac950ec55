#include <QTest>

#include <gtest/gtest.h>

#include "tests/support/qtapp.h"
#include "tests/support/testdb.h"
#include "window/mainform.h"
#include "window/textmapping.h"

using namespace testsupport;

namespace {

TEST(TextMapping, CrLfIsALineOfTheBoxAndTypedLinesComeBackAsCrLf) {
  App();
  QPlainTextEdit box;
  window::SetReplyText(box, u"a###1\r\nb\n###2");
  EXPECT_EQ(box.document()->blockCount(), 2);
  box.moveCursor(QTextCursor::End);
  QTest::keyClick(&box, Qt::Key_Return);
  QTest::keyClicks(&box, "c###3");
  EXPECT_EQ(window::ReplyTextOf(box), u"a###1\r\nb\n###2\r\nc###3");
}

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() : common_((App(), dir_.AppPath())) {}
  TempDir dir_;
  store::Common common_;
};

TEST_F(MainFormTest, CtrlSInsertsNothingAndSavesTheTable) {
  CreateReplyDatabase(dir_.DatabaseFile(), {{"a", "1"}});
  window::MainForm form(common_);
  form.Form().StartUp();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Velmora"));
  EXPECT_EQ(form.Txt().toPlainText(), QStringLiteral("a###1"));

  form.Txt().moveCursor(QTextCursor::End);
  QTest::keyClick(&form.Txt(), Qt::Key_Return);
  QTest::keyClicks(&form.Txt(), "b###2");
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Velmora* "));
  EXPECT_TRUE(form.Form().Modified());

  QTest::keyClick(&form.Txt(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(form.Txt().toPlainText(), QStringLiteral("a###1\nb###2")) << "nothing inserted";
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Velmora(保存成功)"));
  EXPECT_EQ(DumpTable(dir_.DatabaseFile()), "a|1\nb|2\n");
}

TEST_F(MainFormTest, ReloadLinkAndClosePromptThroughTheRealWindow) {
  CreateReplyDatabase(dir_.DatabaseFile(), {{"a", "1"}});
  window::MainForm form(common_);
  std::vector<std::u16string> asked;
  form.messageHook = [&](std::u16string_view text, editor::Buttons, editor::Icon, std::u16string_view) {
    asked.emplace_back(text);
    return asked.size() == 1 ? int(editor::vbCancel) : int(editor::vbNo);
  };
  form.Form().StartUp();
  form.show();
  QTest::keyClicks(&form.Txt(), "x");
  QTest::mouseClick(&form.Label3(0), Qt::LeftButton);
  EXPECT_EQ(form.Txt().toPlainText(), QStringLiteral("a###1"));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Velmora(加载完毕)"));

  EXPECT_FALSE(form.close()) << "Cancel keeps the window open";
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.close()) << "No closes it";
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"保存当前应答内容？", u"保存当前应答内容？"}));
  EXPECT_FALSE(common_.HasConn());
}

TEST_F(MainFormTest, MissingDatabaseEndsTheRunBeforeTheWindowShows) {
  window::MainForm form(common_);
  std::u16string title;
  form.messageHook = [&](std::u16string_view, editor::Buttons, editor::Icon, std::u16string_view t) {
    title = t;
    return int(editor::vbOK);
  };
  form.Form().StartUp();
  EXPECT_TRUE(form.RunEnded());
  EXPECT_EQ(title, u"提示");
  EXPECT_FALSE(std::filesystem::exists(dir_.DatabaseFile()));
}

}  // namespace
