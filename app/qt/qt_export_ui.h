// QtExportUi: the export's user interface in Qt. The save dialog and the
// messages are modal; the progress display is SaveStateForm; the main window
// is disabled while the tables are written.
//
// User-interface thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

#include "app/qt/app_dialogs.h"
#include "export/export_command.h"

namespace kp {

// "MDBファイル|*.MDB" (name|pattern pairs) as a Qt name filter,
// "MDBファイル (*.MDB)"; several pairs are joined with ";;". A name that
// already ends with its patterns in brackets ("Name (*.EXT)") is kept
// as it is.
QString QtNameFilter(const std::u16string& filter);

class QtExportUi : public ExportUi {
 public:
  // Returns the chosen file, or an empty string on cancel.
  using SaveDialog = std::function<QString(QWidget* parent, const QString& qt_filter)>;

  // `main_window` may be null; `dialogs` null means the platform's.
  explicit QtExportUi(QWidget* main_window, AppDialogs* dialogs = nullptr);
  // The platform's message boxes with `dialog` as the save dialog.
  QtExportUi(QWidget* main_window, SaveDialog dialog);

  bool AskSavePath(const std::u16string& filter, std::string* path) override;
  void ShowMessage(const std::u16string& text) override;
  void ShowProgress() override;
  void HideProgress() override;
  void SetProgressCaption(const std::u16string& caption) override;
  void SetProgressMax(float max) override;
  void SetProgressValue(float value) override;
  void SetMainWindowEnabled(bool enabled) override;

 private:
  QWidget* main_window_;
  AppDialogs* dialogs_;
  SaveDialog dialog_;  // when set, asked instead of dialogs_
};

// A modal message box: OK only, no icon, title "ZIriRAV Convert".
void ShowAppMessage(QWidget* parent, const QString& text);

}  // namespace kp
