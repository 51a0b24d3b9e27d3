// ZIriRAV Convert: the desktop program. MainForm is its start-up object; the
// program ends when its window closes. `zirirav-convert [DEFAULT.CTL]`.
#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>
#include <string>

#include "app/qt/main_form.h"
#include "base/heap.h"

int main(int argc, char** argv) {
  // A large document fills hundreds of megabytes of heap.
  kp::ReserveHugePageHeap(size_t(512) << 20);
  QApplication app(argc, argv);
  // Fusion draws the buttons' face colours and the lists' tint on every desktop.
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(style);
  QApplication::setDesktopFileName(QStringLiteral("zirirav-convert"));
  // Every text of the program is Japanese; so are the file dialogs' own.
  QTranslator qt_japanese;
  if (qt_japanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qt_japanese);
  }
  kp::MainForm window;
  QApplication::setWindowIcon(window.windowIcon());
  window.move(window.screen()->availableGeometry().center() - window.rect().center());
  window.show();
  // A DEFAULT.CTL named on the command line (Qt has taken its own options
  // out of argv) is loaded once the window is up, with the load's message.
  if (argc > 1) {
    QTimer::singleShot(0, &window, [&window, path = std::string(argv[1])] { window.Presenter().LoadFile(path); });
  }
  return app.exec();
}
