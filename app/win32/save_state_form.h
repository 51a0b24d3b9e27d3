// SaveStateForm on Win32: the progress window of the export.
//
// A fixed tool window (thin border, small title bar, no minimise or
// maximise button, no task-bar entry, no owner) whose caption names the
// table being written and whose one control, the progress bar
// `ProgressSave`, fills the client area and counts the pages done. Created
// on first use, centred on its screen the first time it is shown, hidden and
// kept between exports, destroyed by Unload (the main window's shutdown).
//
// The export runs on the user-interface thread without returning to the
// message loop, so every change is painted at once. A close from the title
// bar is ignored: only Unload ends the window.
//
// User-interface thread only.
#pragma once

#include "app/win32/win32_util.h"
#include "export/export_command.h"

namespace kp::win32 {

class SaveStateForm {
 public:
  // The one window: created hidden when `create` and it does not exist yet,
  // otherwise nullptr.
  static SaveStateForm* Instance(bool create);
  // Closes and destroys the window if it exists.
  static void Unload();

  void ShowForm();
  void HideForm();
  void SetCaption(const std::u16string& caption);
  // The bar's minimum stays 1; a maximum below it shows an empty range, a
  // value outside the range is shown clamped.
  void SetMax(float max);
  void SetValue(float value);
  HWND Handle() const { return hwnd_; }

 private:
  SaveStateForm() = default;
  bool Create();
  void Place(UINT dpi, const RECT* suggested);
  void ApplyBar();
  void Paint();
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  HWND hwnd_ = nullptr;
  HWND bar_ = nullptr;
  float max_ = 100;
  float value_ = 1;
  bool placed_ = false;
};

// The export's windows on Win32: the save dialog and the messages owned by
// the main window, SaveStateForm, and the main window's enabling.
class ExportWindows final : public ExportUi {
 public:
  explicit ExportWindows(HWND main_window) : main_(main_window) {}

  bool AskSavePath(const std::u16string& filter, std::string* path) override;
  void ShowMessage(const std::u16string& text) override;
  void ShowProgress() override;
  void HideProgress() override;
  void SetProgressCaption(const std::u16string& caption) override;
  void SetProgressMax(float max) override;
  void SetProgressValue(float value) override;
  void SetMainWindowEnabled(bool enabled) override;

 private:
  HWND main_;
};

}  // namespace kp::win32
