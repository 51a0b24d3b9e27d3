#include "app/qt/qt_export_ui.h"

#include <QFile>
#include <QMessageBox>
#include <QStringList>

#include "app/qt/save_state_form.h"
#include "form/form_design.h"

namespace kp {

namespace {
QString FromU16(const std::u16string& s) { return QString::fromStdU16String(s); }
}  // namespace

QString QtNameFilter(const std::u16string& filter) {
  QStringList parts = FromU16(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    QString bracketed = QStringLiteral("(") + patterns + QLatin1Char(')');
    filters << (parts[i].endsWith(bracketed) ? parts[i] : parts[i] + QLatin1Char(' ') + bracketed);
  }
  return filters.join(QStringLiteral(";;"));
}

void ShowAppMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(kMessageBoxTitle), text, QMessageBox::Ok,
                  parent);
  box.setWindowModality(Qt::ApplicationModal);
  // Wide enough for the whole title in the window manager's frame.
  box.setStyleSheet(QStringLiteral("QLabel { min-width: %1px; }")
                        .arg(box.fontMetrics().horizontalAdvance(box.windowTitle()) + 80));
  box.exec();
}

QtExportUi::QtExportUi(QWidget* main_window, AppDialogs* dialogs)
    : main_window_(main_window), dialogs_(dialogs ? dialogs : PlatformDialogs()) {}

QtExportUi::QtExportUi(QWidget* main_window, SaveDialog dialog)
    : main_window_(main_window), dialogs_(PlatformDialogs()), dialog_(std::move(dialog)) {}

bool QtExportUi::AskSavePath(const std::u16string& filter, std::string* path) {
  QString qt_filter = QtNameFilter(filter);
  QString chosen = dialog_ ? dialog_(main_window_, qt_filter)
                           : dialogs_->GetSaveFileName(main_window_, qt_filter);
  if (chosen.isEmpty()) return false;
  *path = QFile::encodeName(chosen).toStdString();
  return true;
}

void QtExportUi::ShowMessage(const std::u16string& text) {
  dialogs_->ShowMessage(main_window_, FromU16(text));
}

void QtExportUi::ShowProgress() { SaveStateForm::Instance(true)->ShowForm(); }

// The putting back at the end of an export touches the window only when it
// exists, so a failure before it was ever shown creates nothing.
void QtExportUi::HideProgress() {
  if (SaveStateForm* form = SaveStateForm::Instance(false)) form->HideForm();
}

void QtExportUi::SetProgressCaption(const std::u16string& caption) {
  if (SaveStateForm* form = SaveStateForm::Instance(false)) form->SetCaption(FromU16(caption));
}

void QtExportUi::SetProgressMax(float max) {
  if (SaveStateForm* form = SaveStateForm::Instance(false)) form->SetMax(max);
}

void QtExportUi::SetProgressValue(float value) {
  if (SaveStateForm* form = SaveStateForm::Instance(false)) form->SetValue(value);
}

void QtExportUi::SetMainWindowEnabled(bool enabled) {
  if (main_window_) main_window_->setEnabled(enabled);
}

}  // namespace kp
