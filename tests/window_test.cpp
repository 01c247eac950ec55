#include <QClipboard>
#include <QGuiApplication>
#include <QScreen>
#include <QMenu>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tests/support/fakewindow.h"
#include "tests/support/qtapp.h"
#include "tests/support/testdb.h"
#include "window/mainform.h"
#include "window/textmapping.h"

using namespace testsupport;

namespace {

// Selects document positions [from, to) of box.
void Select(QPlainTextEdit& box, int from, int to) {
  QTextCursor cursor(box.document());
  cursor.setPosition(from);
  cursor.setPosition(to, QTextCursor::KeepAnchor);
  box.setTextCursor(cursor);
}

// Starts a new line at the end of box.
void NewLineAtEnd(QPlainTextEdit& box) {
  box.moveCursor(QTextCursor::End);
  QTest::keyClick(&box, Qt::Key_Return);
}

void TypeCharacter(QPlainTextEdit& box, char16_t c) {
  QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
  QApplication::sendEvent(&box, &press);
}

// Drops the clipboard's content at the end of box, as a drag from elsewhere in Velmora would.
void DropClipboardAtEnd(QPlainTextEdit& box) {
  QTextCursor end(box.document());
  end.movePosition(QTextCursor::End);
  const QPoint at = box.cursorRect(end).center();
  const QMimeData* data = QApplication::clipboard()->mimeData();
  QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(box.viewport(), &enter);
  QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(box.viewport(), &drop);
}

struct Edit {
  const char* name;
  std::u16string before;  // reply text put into the box
  std::function<void(window::ReplyTextBox&)> edit;
  std::u16string after;  // reply text read back
};

// The box shows "a###x␊y" for a lone LF and "c###¶" for a U+2029 (document positions count one
// per shown character and one per line break).
const Edit kEdits[] = {
    {"TypedLinesComeBackAsCrLf", u"a###1\r\nb\n###2",
     [](auto& box) {
       NewLineAtEnd(box);
       QTest::keyClicks(&box, "c###3");
     },
     u"a###1\r\nb\n###2\r\nc###3"},
    {"CopyAndPasteKeepOriginals", u"a###x\ny\r\nc###\u2029",
     [](auto& box) {
       Select(box, 0, 7);
       box.copy();
       NewLineAtEnd(box);
       box.paste();
     },
     u"a###x\ny\r\nc###\u2029\r\na###x\ny"},
    {"CutAndPasteKeepOriginals", u"a###x\ny\r\nc###\u2029",
     [](auto& box) {
       Select(box, 0, 8);
       box.cut();
       NewLineAtEnd(box);
       box.paste();
     },
     u"c###\u2029\r\na###x\ny\r\n"},
    {"DropKeepsOriginals", u"a###x\ny\r\nc###\u2029",
     [](auto& box) {
       Select(box, 8, 13);
       box.copy();
       DropClipboardAtEnd(box);
     },
     u"a###x\ny\r\nc###\u2029c###\u2029"},
    {"TextFromOtherProgramsIsPlainText", u"a###x\ny",
     [](auto& box) {
       QApplication::clipboard()->setText(QString::fromUtf16(u"p###1\r\nq###2\rr###3\ns###\u240A"));
       NewLineAtEnd(box);
       box.paste();
     },
     u"a###x\ny\r\np###1\r\nq###2\r\nr###3\r\ns###\u240A"},
    {"TypedStandInNextToAMarkedOneStaysLiteral", u"a###x\n",
     [](auto& box) {
       box.moveCursor(QTextCursor::End);
       TypeCharacter(box, 0x240A);
       box.moveCursor(QTextCursor::StartOfLine);
       TypeCharacter(box, 0x240A);
     },
     u"\u240Aa###x\n\u240A"},
    {"ReloadAfterACursorNextToAStandInKeepsLiterals", u"a###x\n",
     [](auto& box) {
       box.moveCursor(QTextCursor::End);
       window::SetReplyText(box, u"\u00B6\u240A\u240D\u2424\uFFFD###literal");
     },
     u"\u00B6\u240A\u240D\u2424\uFFFD###literal"},
    {"UndoOfADeletedStandInRestoresIt", u"a###x\ny",
     [](auto& box) {
       Select(box, 5, 6);
       QTest::keyClick(&box, Qt::Key_Delete);
       box.undo();
     },
     u"a###x\ny"},
};

void PrintTo(const Edit& edit, std::ostream* out) { *out << edit.name; }

class TextBoxEdit : public testing::TestWithParam<Edit> {};

TEST_P(TextBoxEdit, KeepsEveryCodeUnitTheOperatorDidNotChange) {
  App();
  window::ReplyTextBox box;
  box.resize(400, 300);
  box.show();
  window::SetReplyText(box, GetParam().before);
  GetParam().edit(box);
  EXPECT_EQ(window::ReplyTextOf(box), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(TextMapping, TextBoxEdit, testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::string(info.param.name); });

// Bytes that are not text, and lone surrogates, show as U+FFFD; a copy pasted into another
// Velmora brings them back.
TEST(TextMapping, NonTextShowsAsReplacementAndCopiesIntoASecondBox) {
  App();
  window::ReplyTextBox box, other;
  const std::u16string text = u"a\xDCC4\xDCE3###\xD800x";
  window::SetReplyText(box, text);
  EXPECT_EQ(box.toPlainText(), QString::fromUtf16(u"a\uFFFD\uFFFD###\uFFFDx"));
  box.selectAll();
  box.copy();
  other.paste();
  EXPECT_EQ(window::ReplyTextOf(other), text);
}

// The block numbers box marks as left out by a save.
std::vector<int> MarkedLines(const QPlainTextEdit& box) {
  std::vector<int> lines;
  for (const QTextEdit::ExtraSelection& mark : box.extraSelections())
    if (lines.empty() || lines.back() != mark.cursor.blockNumber()) lines.push_back(mark.cursor.blockNumber());
  return lines;
}

TEST(TextBoxMarks, LinesASaveWouldLeaveOutAreMarkedAsTheOperatorTypes) {
  App();
  window::ReplyTextBox box;
  box.resize(400, 600);
  box.show();
  // Lines 0-3 are saved or blank, 4-8 would be left out.
  window::SetReplyText(box, u"a###b\r\n  a ### b  \r\n\r\n   \r\nno separator\r\n###b\r\na###\r\na##b\r\n\n");
  box.MarkLinesLeftOut();
  EXPECT_EQ(MarkedLines(box), (std::vector<int>{4, 5, 6, 7, 8}));
  box.moveCursor(QTextCursor::Start);
  box.moveCursor(QTextCursor::EndOfBlock);
  QTest::keyClick(&box, Qt::Key_Backspace);
  EXPECT_EQ(MarkedLines(box), (std::vector<int>{0, 4, 5, 6, 7, 8}));
}

// Qt wraps a long run without spaces at word boundaries in time quadratic in its length.
TEST(TextBoxWrap, LongWordsAreWrappedAnywhere) {
  App();
  const std::u16string word(1001, u'a'), words = [] {
    std::u16string text;
    while (text.size() < 5000) text += u"abcd efghi";
    return text;
  }();
  const struct {
    std::u16string loaded, pasted;
    QTextOption::WrapMode mode;
  } cases[] = {
      {u"q###" + words, u"", QTextOption::WrapAtWordBoundaryOrAnywhere},
      {u"q###" + word, u"", QTextOption::WrapAnywhere},
      {u"q###a", word, QTextOption::WrapAnywhere},
  };
  for (const auto& c : cases) {
    window::ReplyTextBox box;
    window::SetReplyText(box, c.loaded);
    if (!c.pasted.empty()) box.insertPlainText(QString::fromStdU16String(c.pasted));
    EXPECT_EQ(box.wordWrapMode(), c.mode);
  }
}

TEST(ChineseTexts, TextBoxMenuIsChinese) {
  App();
  window::UseChineseTexts();
  QPlainTextEdit box;
  box.setPlainText(QStringLiteral("x"));
  box.selectAll();
  const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
  ASSERT_FALSE(menu->actions().isEmpty());
  for (const QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    EXPECT_TRUE(IsChinese(action->text().toStdU16String())) << action->text().toStdString();
  }
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
  // The notice is centred over the window, which stands where it would have been shown.
  EXPECT_LE((form.geometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center()).manhattanLength(), 2);
  EXPECT_FALSE(std::filesystem::exists(dir_.DatabaseFile()));
}

}  // namespace
