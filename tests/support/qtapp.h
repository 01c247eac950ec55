// The one QApplication of a Qt test run, created on first use and never destroyed: widgets of
// static test objects and Qt's own exit handlers may still refer to it while the process ends.
#pragma once

#include <QApplication>

namespace testsupport {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "velmora_test";
  static char* argv[] = {name, nullptr};
  static QApplication* application = new QApplication(argc, argv);
  return *application;
}

}  // namespace testsupport
