// ZIriRAV Convert: the desktop program's entry point.
#include <QApplication>
#include <QScreen>

#include "app/main_form.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  kp::MainForm window;
  window.move(window.screen()->availableGeometry().center() - window.rect().center());
  window.show();
  return app.exec();
}
