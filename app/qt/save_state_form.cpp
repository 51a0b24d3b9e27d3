#include "app/qt/save_state_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>

#include <algorithm>
#include <cmath>

#include "export/export_command.h"

namespace kp {

namespace {
QPointer<SaveStateForm>& TheForm() {
  static QPointer<SaveStateForm> form;
  return form;
}
}  // namespace

SaveStateForm* SaveStateForm::Instance(bool create) {
  QPointer<SaveStateForm>& form = TheForm();
  if (!form && create) form = new SaveStateForm();
  return form.data();
}

void SaveStateForm::Unload() {
  QPointer<SaveStateForm>& form = TheForm();
  if (!form) return;
  form->unloading_ = true;
  form->close();
  delete form.data();
}

SaveStateForm::SaveStateForm()
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QString::fromLatin1(kProgressFormName));
  setWindowTitle(QString::fromUtf16(kProgressIdleCaption));
  setFixedSize(kClientWidth, kClientHeight);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QString::fromLatin1(kProgressBarName));
  bar_->setOrientation(Qt::Horizontal);
  bar_->setTextVisible(false);
  bar_->setGeometry(0, 0, kClientWidth, kClientHeight);
  ApplyBar();
}

void SaveStateForm::ShowForm() {
  if (!placed_) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect area = screen->availableGeometry();
      move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
    placed_ = true;
  }
  show();
  raise();
  // Let the window system map the new window and deliver its first paint;
  // user input stays queued, and the main window is disabled anyway.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  repaint();
}

void SaveStateForm::HideForm() { hide(); }

void SaveStateForm::SetCaption(const QString& caption) {
  setWindowTitle(caption);
  if (isVisible()) repaint();
}

void SaveStateForm::SetMax(float max) {
  max_ = max;
  ApplyBar();
}

void SaveStateForm::SetValue(float value) {
  value_ = value;
  ApplyBar();
}

void SaveStateForm::ApplyBar() {
  // QProgressBar counts in int; a float beyond int range, or NaN, is clamped.
  auto to_int = [](float f) {
    if (std::isnan(f)) return 1;
    return int(std::clamp(f, -2147483520.0f, 2147483520.0f));
  };
  int maximum = std::max(1, to_int(max_));
  int value = std::clamp(to_int(value_), 1, maximum);
  bar_->setRange(1, maximum);
  bar_->setValue(value);
  if (isVisible()) {
    bar_->repaint();
    repaint();
  }
}

void SaveStateForm::closeEvent(QCloseEvent* event) {
  if (unloading_ || !event->spontaneous()) {
    event->accept();
  } else {
    event->ignore();  // the title bar's close does nothing
  }
}

}  // namespace kp
