// Velmora: edits the reply robot's question-and-answer table as one plain text.
#include <QApplication>
#include <QDir>

#include "store/common.h"
#include "window/mainform.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  application.setApplicationName(QStringLiteral("Velmora"));
  application.setApplicationVersion(QStringLiteral("1.00"));

  const QString directory = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
  store::Common common(directory.toStdU16String());
  window::MainForm form(common);
  form.Form().StartUp();
  if (form.RunEnded()) return 1;
  form.show();
  return application.exec();
}
