// One operator's session on the reply table in a real window (offscreen): load and show, type
// a few keys in the middle, make the window wider, save, close. For measuring the peak memory
// from outside, e.g. with /usr/bin/time -v.
//
//   velmora_memory make DIR COUNT   makes DIR/tarvello.db holding COUNT generated rows
//   velmora_memory run DIR [all|other]
//                                   runs the session on DIR and prints the size of the text in
//                                   UTF-16 bytes; with "all", every line is edited before the
//                                   save (each answer gets one more character); with "other",
//                                   another connection changes ten other rows before the save,
//                                   which then shows the table as saved
#include <QApplication>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/benchdata.h"
#include "store/common.h"
#include "window/mainform.h"

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) {
    const auto entries = bench::MakeEntries(std::atoi(argv[3]));
    bench::MakeDatabase(argv[2], bench::Utf8Rows(entries));
    std::printf("%zu\n", bench::JoinEntries(entries).size() * sizeof(char16_t));
    return 0;
  }
  const bool allEdited = argc == 4 && std::strcmp(argv[3], "all") == 0;
  const bool otherWriter = argc == 4 && std::strcmp(argv[3], "other") == 0;
  if ((argc != 3 && !allEdited && !otherWriter) || std::strcmp(argv[1], "run") != 0) {
    std::fprintf(stderr, "usage: %s make DIR COUNT | run DIR [all|other]\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  store::Common common(bench::AppPath(argv[2]));
  window::MainForm form(common);
  form.Form().StartUp();  // checks the file, opens the database and loads the table
  form.show();
  QApplication::processEvents();
  QTextCursor middle(form.Txt().document()->findBlockByNumber(form.Txt().document()->blockCount() / 2));
  form.Txt().setTextCursor(middle);
  for (const char key : {'a', 'b', 'c'}) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A + (key - 'a'), Qt::NoModifier, QString(QChar(key)));
    QApplication::sendEvent(&form.Txt(), &press);
    QApplication::processEvents();
  }
  form.resize(form.width() + 200, form.height() + 100);
  QApplication::processEvents();
  if (allEdited) {
    // Every line edited at once: the box's lines read one by one, each with a character added.
    std::u16string edited;
    for (QTextBlock block = form.Txt().document()->begin(); block.isValid(); block = block.next())
      edited.append(edited.empty() ? u"" : u"\r\n").append(block.text().toStdU16String()).append(u"改");
    form.SetText(std::move(edited));
    QApplication::processEvents();
  }
  if (otherWriter) {
    sqlite3* writer = bench::OpenDatabaseFile(std::filesystem::path(argv[2]) / "tarvello.db");
    bench::EditTenRows(writer, form.Txt().document()->blockCount(), true);
    sqlite3_close_v2(writer);
  }
  if (!form.Form().LinkClick(1)) {
    std::fprintf(stderr, "the save failed\n");
    return 1;
  }
  QApplication::processEvents();
  std::printf("%zu\n", form.Text().size() * sizeof(char16_t));
  form.close();
  return 0;
}
