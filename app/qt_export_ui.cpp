#include "app/qt_export_ui.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/save_state_form.h"

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
    filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

void ShowAppMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("ZIriRAV Convert"), text, QMessageBox::Ok,
                  parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

QtExportUi::QtExportUi(QWidget* main_window, SaveDialog dialog)
    : main_window_(main_window), dialog_(std::move(dialog)) {
  if (!dialog_) {
    dialog_ = [](QWidget* parent, const QString& qt_filter) {
      return QFileDialog::getSaveFileName(parent, QString(), QString(), qt_filter);
    };
  }
}

bool QtExportUi::AskSavePath(const std::u16string& filter, std::string* path) {
  QString chosen = dialog_(main_window_, QtNameFilter(filter));
  if (chosen.isEmpty()) return false;
  *path = QFile::encodeName(chosen).toStdString();
  return true;
}

void QtExportUi::ShowMessage(const std::u16string& text) {
  ShowAppMessage(main_window_, FromU16(text));
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
