#include "app/qt/app_dialogs.h"

#include <QFileDialog>

#include "app/qt/qt_export_ui.h"

namespace kp {

namespace {
class PlatformDialogsImpl : public AppDialogs {
 public:
  QString GetOpenFileName(QWidget* parent, const QString& qt_filter) override {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), qt_filter);
  }
  QString GetSaveFileName(QWidget* parent, const QString& qt_filter) override {
    return QFileDialog::getSaveFileName(parent, QString(), QString(), qt_filter);
  }
  void ShowMessage(QWidget* parent, const QString& text) override { ShowAppMessage(parent, text); }
};
}  // namespace

AppDialogs* PlatformDialogs() {
  static PlatformDialogsImpl dialogs;
  return &dialogs;
}

}  // namespace kp
