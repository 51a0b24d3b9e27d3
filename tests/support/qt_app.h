// The one QApplication of the Qt tests: on the offscreen platform, made on
// first use and kept until the process ends.
#pragma once

#include <QApplication>

namespace kp::testing {

inline QApplication* TestApp() {
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return app;
}

}  // namespace kp::testing
