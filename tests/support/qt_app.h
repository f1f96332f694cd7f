// One QApplication for the whole test program, made before the first widget.
#pragma once

#include <QApplication>

namespace testing_qt {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "qt_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// A fixture member placed before any widget member makes sure the application exists.
struct AppReady {
  AppReady() { App(); }
};

}  // namespace testing_qt
