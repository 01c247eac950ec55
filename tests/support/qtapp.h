// The test run's one QApplication, made at first use and never destroyed: Qt's exit handlers may
// still use it.
#pragma once

#include <QApplication>

namespace testsupport {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "velmora_test", *argv[] = {name, nullptr};
  static auto* application = new QApplication(argc, argv);
  return *application;
}

}  // namespace testsupport
