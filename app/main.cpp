// Velmora: edits the reply robot's question-and-answer table as one plain text.
#include <QApplication>
#include <QDir>
#include <QIcon>

#include "store/common.h"
#include "velmora_resources.h"
#include "window/mainform.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  application.setApplicationName(QStringLiteral("Velmora"));
  application.setApplicationVersion(QStringLiteral("1.00"));
  window::UseChineseTexts();
  application.setWindowIcon(QIcon(QString::fromLatin1(velmora::resources::kAppIcon)));

  const QString directory = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
  store::Common common(directory.toStdU16String());
  window::MainForm form(common);
  form.Form().StartUp();
  if (form.RunEnded()) return 1;
  form.show();
  return application.exec();
}
