// Velmora: edits the reply robot's question-and-answer table as one plain text.
#include <QApplication>
#include <QDir>
#include <QIcon>

#include <filesystem>
#include <system_error>

#include "store/common.h"
#include "store/utf.h"
#include "velmora_resources.h"
#include "window/mainform.h"

namespace {

// The program's directory as the system names it. Where the system gives the link to the running
// program, its bytes are used as they are: bytes that are not UTF-8 (a folder named in GBK) travel
// as escape units that the store turns back into the same bytes, where Qt's text would have
// replaced them.
std::u16string ApplicationDirectory() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error && program.is_absolute()) return store::Utf8ToUtf16(program.parent_path().native());
  return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdU16String();
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  application.setApplicationName(QStringLiteral("Velmora"));
  application.setApplicationVersion(QStringLiteral("1.00"));
  window::UseChineseTexts();
  application.setWindowIcon(QIcon(QString::fromLatin1(velmora::resources::kAppIcon)));

  store::Common common(ApplicationDirectory());
  window::MainForm form(common);
  form.Form().StartUp();
  if (form.RunEnded()) return 1;
  form.show();
  return application.exec();
}
