// ZIriRAV Convert: the desktop program's entry point.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("ZIriRAV Convert Version 1.0"));
  window.resize(800, 600);
  window.show();
  return app.exec();
}
