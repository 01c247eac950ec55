// The real main window on the offscreen platform, on a real reply database.
#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextLayout>

#include <cstdlib>
#include <memory>

#include "store/common.h"
#include "tests/support/qtapp.h"
#include "tests/support/testdb.h"
#include "velmora_resources.h"
#include "window/mainform.h"

namespace {

using testsupport::App;

struct Fixture : ::testing::Test {
  testsupport::TempDir dir;
  std::unique_ptr<store::Common> common;
  std::unique_ptr<window::MainForm> form;
  void SetUp() override {
    App();
    testsupport::CreateReplyDatabase(dir.DatabaseFile(), {{"你好", "您好"}});
    common = std::make_unique<store::Common>(dir.AppPath());
    form = std::make_unique<window::MainForm>(*common);
    form->Form().StartUp();
    form->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    form->messageHook = [](auto, auto, auto, auto) { return 7; };  // No at the close prompt
    form->close();
  }
  int Twips(int px) const { return form->PixelsToTwips(px); }
  int TwipsY(int px) const { return form->PixelsToTwipsY(px); }
};

TEST_F(Fixture, GeometryFollowsEveryResize) {
  const int pixel = Twips(1) > 0 ? Twips(1) : 15;
  for (const QSize size : {QSize(620, 425), QSize(800, 600), QSize(100, 20), QSize(300, 0)}) {
    SCOPED_TRACE(size.width());
    form->resize(size);
    QApplication::processEvents();
    const int innerW = Twips(form->width()), innerH = TwipsY(form->height());
    const int outerW = Twips(std::max(form->frameGeometry().width(), form->width()));
    EXPECT_EQ(form->Txt().x(), 0);
    EXPECT_EQ(form->Txt().y(), 0);
    EXPECT_NEAR(Twips(form->Txt().width()), innerW, pixel);
    EXPECT_NEAR(TwipsY(form->Txt().height()), std::max(0, innerH - 350), pixel);
    EXPECT_NEAR(Twips(form->Label1().x()), 120, pixel);
    EXPECT_NEAR(Twips(form->Label2().x()), 2040, pixel);
    for (QWidget* label : {static_cast<QWidget*>(&form->Label1()), static_cast<QWidget*>(&form->Label2()),
                           static_cast<QWidget*>(&form->Label3(0)), static_cast<QWidget*>(&form->Label3(1))})
      EXPECT_NEAR(TwipsY(label->y()), innerH - 260, pixel);
    EXPECT_NEAR(Twips(form->Label3(1).x()), outerW - 1000, pixel);
    EXPECT_NEAR(Twips(form->Label3(0).x()), outerW - 2000, pixel);
  }
}

// A long entry loaded before the window is first shown wraps at the width of the box's view, and
// again at the new width after a resize.
TEST(Wrapping, LongLineWrapsAtTheViewWidth) {
  App();
  testsupport::TempDir dir;
  std::string answer;
  for (int i = 0; i < 400; ++i) answer += "答";
  testsupport::CreateReplyDatabase(dir.DatabaseFile(), {{"长", answer}});
  store::Common common(dir.AppPath());
  window::MainForm form(common);
  form.Form().StartUp();
  form.show();
  QApplication::processEvents();
  for (const int width : {0, 800, 450}) {
    SCOPED_TRACE(width);
    if (width) form.resize(width, form.height());
    QApplication::processEvents();
    const int view = form.Txt().viewport()->width();
    const QFontMetricsF metrics(form.Txt().font());
    const QTextLayout& layout = *form.Txt().document()->firstBlock().layout();
    ASSERT_GT(layout.lineCount(), 2);
    qreal widest = 0;
    for (int i = 0; i < layout.lineCount(); ++i)
      widest = std::max(widest, layout.lineAt(i).naturalTextWidth());
    EXPECT_LE(widest, view);
    EXPECT_GT(widest, view - 2 * metrics.horizontalAdvance(QStringLiteral("答")) - 10);
  }
  form.messageHook = [](auto, auto, auto, auto) { return 7; };
  form.close();
}

TEST_F(Fixture, AppearanceCursorAndIcon) {
  EXPECT_EQ(form->Label2().palette().color(QPalette::WindowText), QColor(255, 0, 0));
  for (int i = 0; i < 2; ++i) {
    QLabel& link = form->Label3(i);
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_TRUE(link.font().underline());
    EXPECT_EQ(link.font().pointSize(), 9);
    EXPECT_EQ(link.font().weight(), QFont::Normal);
    for (QChar ch : link.text()) EXPECT_TRUE(QFontMetrics(link.font()).inFont(ch));
    EXPECT_EQ(link.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(link.cursor().hotSpot(), QPoint(6, 0));
    EXPECT_EQ(link.cursor().pixmap().size(), QSize(32, 32));
  }
  EXPECT_NE(form->Label1().cursor().shape(), Qt::BitmapCursor);
  EXPECT_NE(form->Label2().cursor().shape(), Qt::BitmapCursor);
  EXPECT_NE(form->Txt().cursor().shape(), Qt::BitmapCursor);
  // The focus chain, with the text box's own inner widgets left out.
  const QList<QWidget*> controls = {&form->Txt(), &form->Label1(), &form->Label2(),
                                    &form->Label3(0), &form->Label3(1)};
  QList<QWidget*> order;
  QWidget* w = &form->Txt();
  do {
    if (controls.contains(w)) order << w;
    w = w->nextInFocusChain();
  } while (w != &form->Txt() && order.size() < 10);
  EXPECT_EQ(order, controls);
  EXPECT_TRUE(form->windowIcon().availableSizes().contains(QSize(24, 24)));

  // The program's icon as Qt reads it: nine images, and for each size the full-colour one, whose
  // soft edge shows in partly transparent pixels.
  const QString appIcon = QString::fromLatin1(velmora::resources::kAppIcon);
  EXPECT_EQ(QImageReader(appIcon).imageCount(), 9);
  for (const int size : {16, 32, 48}) {
    const QImage image = QIcon(appIcon).pixmap(QSize(size, size)).toImage().convertToFormat(
        QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(size, size));
    bool softEdge = false;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) softEdge |= qAlpha(image.pixel(x, y)) % 255 != 0;
    if (size > 16) {
      EXPECT_TRUE(softEdge) << size;
    }
  }
}

TEST_F(Fixture, ClickOnSaveLinkSaves) {
  form->Txt().setPlainText(QStringLiteral("问###答"));
  const QPointF at(2, 2);
  QMouseEvent press(QEvent::MouseButtonPress, at, form->Label3(1).mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, form->Label3(1).mapToGlobal(at),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&form->Label3(1), &press);
  QApplication::sendEvent(&form->Label3(1), &release);
  EXPECT_EQ(testsupport::DumpTable(dir.DatabaseFile()), "问|答\n");
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Velmora(保存成功)"));
}

}  // namespace
