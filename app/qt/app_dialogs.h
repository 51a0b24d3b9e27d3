// The program's modal dialogs behind one small interface: the open and save
// file dialogs and the message box. The window and the export use the
// platform's; tests put in their own to script the answers.
//
// User-interface thread only.
#pragma once

#include <QString>

class QWidget;

namespace kp {

class AppDialogs {
 public:
  virtual ~AppDialogs() = default;
  // A file dialog with no proposed name and a Qt name filter ("KPファイル
  // (*.CTL)"). Returns the chosen path, or an empty string on cancel.
  virtual QString GetOpenFileName(QWidget* parent, const QString& qt_filter) = 0;
  virtual QString GetSaveFileName(QWidget* parent, const QString& qt_filter) = 0;
  // A modal message box: OK only, no icon, title "ZIriRAV Convert". Returns
  // when it is dismissed.
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
};

// The platform's dialogs and message boxes.
AppDialogs* PlatformDialogs();

}  // namespace kp
