// The Qt window: the layout rule, the text box, and the real main window offscreen.
#include <QClipboard>
#include <QMenu>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tests/support/testdb.h"
#include "window/layout.h"
#include "window/mainform.h"
#include "window/textmapping.h"

using namespace testsupport;

namespace {

// The run's one QApplication, never destroyed: Qt's exit handlers may still use it.
QApplication& App() {
  static int argc = 1;
  static char name[] = "window_test", *argv[] = {name, nullptr};
  static auto* application = new QApplication(argc, argv);
  return *application;
}

TEST(LayOut, PlacesTheControlsByTheRule) {
  const struct {
    window::LayoutInput size;  // inner width and height, outer width, in twips
    int txtWidth, txtHeight, labelTop, saveLeft, reloadLeft;
  } cases[] = {
      {{9300, 6375, 9540}, 9300, 6025, 6115, 8540, 7540},   {{9300, 6375, 9300}, 9300, 6025, 6115, 8300, 7300},
      {{1500, 6375, 1740}, 1500, 6025, 6115, 740, -260},    {{9300, 350, 9540}, 9300, 0, 90, 8540, 7540},
      {{9300, 200, 9540}, 9300, 0, -60, 8540, 7540},        {{0, 0, 0}, 0, 0, -260, -1000, -2000},
  };
  for (const auto& c : cases) {
    const window::Layout out = window::LayOut(c.size);
    const std::vector<int> got = {out.txtWidth, out.txtHeight, out.label1Top, out.label2Top, out.label3Top[0],
                                  out.label3Top[1], out.label3Left[1], out.label3Left[0]};
    EXPECT_EQ(got, (std::vector<int>{c.txtWidth, c.txtHeight, c.labelTop, c.labelTop, c.labelTop, c.labelTop,
                                     c.saveLeft, c.reloadLeft}));
  }
}

// Every code unit the document cannot hold as it is, next to every other: the box shows one line
// per CR LF and gives back every unit, read whole or in pieces that cut lines and pairs anywhere.
TEST(TextMapping, EveryTextComesBackFromTheBoxExactly) {
  App();
  const std::u16string units = {u'a', u'问', u' ', u'#', u'\r', u'\n', u'\t', 0x2028, 0x2029, 0xFDD0, 0xFDD1, 0,
                                0xD800, 0xDC00, 0xDCC4, 0x240A, 0x240D, 0x00B6, 0x2424, 0xFFFD, 0xD83D, 0xDE00};
  std::u16string text;
  for (char16_t first : units)
    for (char16_t second : units) text += std::u16string{first, second, u'x'};
  text += u"\r\n\r\n";
  window::ReplyTextBox box;
  window::SetReplyText(box, text);
  EXPECT_EQ(box.document()->blockCount(), 4);  // the pair CR LF, and the two at the end
  ASSERT_EQ(window::ReplyTextOf(box), text);
  for (const qsizetype piece : {1, 2, 3, 7, 64}) EXPECT_EQ(window::ReplyTextOf(box, 0, piece), text) << piece;
  window::SetReplyText(box, u"a\xDCC4\xDCE3###\xD800x");  // bytes that are not text, a lone surrogate
  EXPECT_EQ(box.toPlainText(), QString::fromUtf16(u"a\uFFFD\uFFFD###\uFFFDx"));
}

void TypeAt(QPlainTextEdit& box, QTextCursor::MoveOperation where, char16_t c) {
  box.moveCursor(where);
  QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
  QApplication::sendEvent(&box, &press);
}

// Edits of text with stand-ins: the box shows "a###x␊y" for a lone LF and "c###¶" for U+2029.
const struct Edit {
  const char* name;
  std::u16string before;
  std::function<void(window::ReplyTextBox&)> edit;
  std::u16string after;
} kEdits[] = {
    {"copy and paste keep originals", u"a###x\ny\r\nc###\u2029",
     [](auto& box) {
       box.moveCursor(QTextCursor::Down, QTextCursor::KeepAnchor);  // the first line and its break
       box.copy();
       box.moveCursor(QTextCursor::End);
       box.paste();
     },
     u"a###x\ny\r\nc###\u2029a###x\ny\r\n"},
    {"a copy pasted into a cleared box keeps originals", u"a\xDCC4###x\ny\xD800",
     [](auto& box) { box.selectAll(); box.copy(); box.clear(); box.paste(); }, u"a\xDCC4###x\ny\xD800"},
    {"text from other programs is plain text", u"a###x\ny",
     [](auto& box) {
       QApplication::clipboard()->setText(QString::fromUtf16(u"\r\np###1\r\nq###2\rr###3\ns###\u240A\u2028t###4\u2029u"));
       box.moveCursor(QTextCursor::End);
       box.paste();
     },
     u"a###x\ny\r\np###1\r\nq###2\r\nr###3\r\ns###\u240A\r\nt###4\r\nu"},
    {"a stand-in typed next to a marked one stays literal", u"a###x\n",
     [](auto& box) { TypeAt(box, QTextCursor::End, 0x240A); TypeAt(box, QTextCursor::StartOfLine, 0x240A); },
     u"\u240Aa###x\n\u240A"},
    {"a reload after the cursor stood next to a stand-in keeps literals", u"\n###x\n",
     [](auto& box) { box.moveCursor(QTextCursor::End); window::SetReplyText(box, u"\u00B6\u240A\u240D\u2424\uFFFD###a"); },
     u"\u00B6\u240A\u240D\u2424\uFFFD###a"},
};

TEST(TextMapping, EditsKeepEveryCodeUnitTheOperatorDidNotChange) {
  App();
  for (const Edit& edit : kEdits) {
    SCOPED_TRACE(edit.name);
    window::ReplyTextBox box;
    box.show();
    window::SetReplyText(box, edit.before);
    edit.edit(box);
    EXPECT_EQ(U8(window::ReplyTextOf(box)), U8(edit.after));
  }
}

TEST(TextBox, MarksLinesASaveWouldLeaveOut) {
  App();
  window::ReplyTextBox box;
  box.resize(400, 600);
  box.show();
  window::SetReplyText(box, u"a###b\r\n  a ### b  \r\n\r\n   \r\nno separator\r\n###b\r\na###\r\na##b\r\n\n");
  std::vector<int> marked;
  box.moveCursor(QTextCursor::Start);
  box.moveCursor(QTextCursor::EndOfBlock);
  QTest::keyClick(&box, Qt::Key_Backspace);  // "a###" now
  for (const QTextEdit::ExtraSelection& mark : box.extraSelections())
    if (marked.empty() || marked.back() != mark.cursor.blockNumber()) marked.push_back(mark.cursor.blockNumber());
  EXPECT_EQ(marked, (std::vector<int>{0, 4, 5, 6, 7, 8}));
}

class MainFormTest : public testing::Test {
 protected:
  void SetUp() override {
    form.messageHook = [this](std::u16string_view text, auto, auto, auto) {
      asked.emplace_back(text);
      return answer;
    };
  }
  void Start(const std::string& rows) {
    CreateReplyDatabase(dir.DatabaseFile(), rows);
    form.Form().StartUp();
    form.show();
    QApplication::processEvents();
  }
  QString Title() const { return form.windowTitle(); }

  TempDir dir;
  store::Common common{(App(), dir.AppPath())};
  window::MainForm form{common};
  std::vector<std::u16string> asked;
  int answer = editor::vbNo;
};

// Typing, Ctrl+S and the notice at a missing database are also run on the real program.
TEST_F(MainFormTest, TheLinksTheClosePromptAndTheLook) {
  Start("('a', '1')");
  QTest::keyClicks(&form.Txt(), "x");
  QTest::mouseClick(&form.Label3(0), Qt::LeftButton);
  EXPECT_EQ(form.Txt().toPlainText(), "a###1");
  EXPECT_EQ(Title(), "Velmora(加载完毕)");
  QTest::keyClicks(&form.Txt(), "y");
  QTest::mouseClick(&form.Label3(1), Qt::LeftButton);
  EXPECT_EQ(Title(), "Velmora(保存成功)");
  EXPECT_EQ(Dump(dir.DatabaseFile()), "ya|1\n");

  for (const QLabel* link : {&form.Label3(0), &form.Label3(1)}) {  // blue, underlined, with the hand
    EXPECT_EQ(std::make_tuple(link->palette().color(QPalette::WindowText), link->font().underline(), link->font().pointSize(),
                              link->cursor().shape(), link->cursor().hotSpot()),
              std::make_tuple(QColor(0, 0, 255), true, 9, Qt::BitmapCursor, QPoint(6, 0)));
  }
  EXPECT_EQ(form.Label2().palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_NE(form.Txt().cursor().shape(), Qt::BitmapCursor);
  window::UseChineseTexts();
  const std::unique_ptr<QMenu> menu(form.Txt().createStandardContextMenu());
  for (const QAction* action : menu->actions())
    EXPECT_TRUE(action->isSeparator() || action->text().contains(QRegularExpression("[\\x{4E00}-\\x{9FFF}]")))
        << action->text().toStdString();

  QTest::keyClicks(&form.Txt(), "z");
  answer = editor::vbCancel;
  EXPECT_FALSE(form.close()) << "Cancel keeps the window open";
  answer = editor::vbNo;
  EXPECT_TRUE(form.close()) << "No closes it";
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"保存当前应答内容？", u"保存当前应答内容？"}));
  EXPECT_EQ(Dump(dir.DatabaseFile()), "ya|1\n");
  EXPECT_FALSE(common.HasConn());
}

// The controls follow the layout rule at every size, and a long line wraps at the box's width.
TEST_F(MainFormTest, LayoutAndWrappingFollowEveryResize) {
  Start("('长', '" + std::string(400, 'w') + " " + std::string(400, 'w') + "')");
  for (const QSize size : {QSize(620, 425), QSize(800, 600), QSize(300, 100)}) {
    form.resize(size);
    QApplication::processEvents();
    const window::Layout rule = window::LayOut({form.PixelsToTwips(form.width()), form.PixelsToTwipsY(form.height()),
                                                form.PixelsToTwips(form.frameGeometry().width())});
    EXPECT_EQ(form.Txt().geometry(), QRect(0, 0, form.TwipsToPixels(rule.txtWidth), form.TwipsToPixelsY(rule.txtHeight)));
    EXPECT_EQ(form.Label3(1).pos(), QPoint(form.TwipsToPixels(rule.label3Left[1]), form.TwipsToPixelsY(rule.label3Top[1])));
    EXPECT_EQ(form.Label3(0).x(), form.TwipsToPixels(rule.label3Left[0]));
    const QTextLayout& layout = *form.Txt().document()->firstBlock().layout();
    qreal widest = 0;
    for (int i = 0; i < layout.lineCount(); ++i) widest = std::max(widest, layout.lineAt(i).naturalTextWidth());
    EXPECT_LE(widest, form.Txt().viewport()->width());
    EXPECT_GT(widest, form.Txt().viewport()->width() - 40);
  }
  form.close();
}

}  // namespace
