// What only the Qt window does: the layout rule's table, reading the box in pieces, copies that
// carry reply text, its look, and wrapping at the box's width. The rest is in the contract test.
#include <QMenu>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tests/support/qtapp.h"
#include "tests/support/testdb.h"
#include "window/layout.h"
#include "window/mainform.h"
#include "window/textmapping.h"

using namespace testsupport;

namespace {

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

// Read in pieces that cut lines and pairs anywhere, the box gives back every unit.
TEST(TextMapping, ReadInPiecesTheBoxGivesBackEveryUnit) {
  App();
  const std::u16string text = u"a\r\n\n\r\u2028\u2029\uFDD0\xD800\xDC00\xDCC4\U0001F600\r\n\r\n";
  window::ReplyTextBox box;
  window::SetReplyText(box, text);
  for (const qsizetype piece : {1, 2, 3, 7, 64}) EXPECT_EQ(window::ReplyTextOf(box, 0, piece), text) << piece;
}

// Copies inside Velmora: the box shows "a###x␊y" for a lone LF and "c###¶" for U+2029.
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

class MainFormTest : public testing::Test {
 protected:
  void Start(const std::string& rows) {
    CreateReplyDatabase(dir.DatabaseFile(), rows);
    form.Form().StartUp();
    form.show();
    QApplication::processEvents();
  }

  TempDir dir;
  store::Common common{(App(), dir.AppPath())};
  window::MainForm form{common};
};

TEST_F(MainFormTest, TheLook) {
  Start("('a', '1')");
  for (const QLabel* link : {&form.Label3(0), &form.Label3(1)}) {  // blue, underlined, with the hand
    EXPECT_EQ(std::make_tuple(link->palette().color(QPalette::WindowText), link->font().underline(), link->font().pointSize(),
                              link->cursor().hotSpot()),
              std::make_tuple(QColor(0, 0, 255), true, 9, QPoint(6, 0)));
  }
  EXPECT_EQ(form.Label2().palette().color(QPalette::WindowText), QColor(255, 0, 0));
  window::UseChineseTexts();
  const std::unique_ptr<QMenu> menu(form.Txt().createStandardContextMenu());
  for (const QAction* action : menu->actions())
    EXPECT_TRUE(action->isSeparator() || action->text().contains(QRegularExpression("[\\x{4E00}-\\x{9FFF}]")))
        << action->text().toStdString();
}

// A long line wraps at the box's width, whatever the window's size.
TEST_F(MainFormTest, WrappingFollowsEveryResize) {
  Start("('长', '" + std::string(400, 'w') + " " + std::string(400, 'w') + "')");
  for (const QSize size : {QSize(620, 425), QSize(800, 600), QSize(300, 100)}) {
    form.resize(size);
    QApplication::processEvents();
    const QTextLayout& layout = *form.Txt().document()->firstBlock().layout();
    qreal widest = 0;
    for (int i = 0; i < layout.lineCount(); ++i) widest = std::max(widest, layout.lineAt(i).naturalTextWidth());
    EXPECT_LE(widest, form.Txt().viewport()->width());
    EXPECT_GT(widest, form.Txt().viewport()->width() - 40);
  }
}

}  // namespace
