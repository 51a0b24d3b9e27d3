// SaveStateForm: the progress window of the export.
//
// A fixed-size tool window (no resize, minimise or maximise, no task-bar
// entry) whose caption names the table being written and whose one control,
// the bar `ProgressSave`, counts the pages done. Created on first use, shown
// modeless without an owner, centred on the screen the first time, hidden
// and kept between exports, destroyed when the main window unloads it.
//
// The export runs on the user-interface thread without returning to the
// event loop, so every change is painted at once (repaint of the bar and the
// window); no user input is processed on the way. A close request from the
// window system is ignored: only Unload() ends the window.
//
// User-interface thread only.
#pragma once

#include <QWidget>

#include "form/form_design.h"

class QProgressBar;

namespace kp {

class SaveStateForm : public QWidget {
  Q_OBJECT

 public:
  // The client area at design, in pixels.
  static constexpr int kClientWidth = TwipsToPixels(kProgressClientWidthTwips);
  static constexpr int kClientHeight = TwipsToPixels(kProgressClientHeightTwips);

  // The one window; created (hidden, with its design properties) when
  // `create` is true and it does not exist yet, otherwise nullptr.
  static SaveStateForm* Instance(bool create);
  // Closes and destroys the window if it exists (the main window's unload).
  static void Unload();

  // Shows it (centred the first time) and paints it at once.
  void ShowForm();
  void HideForm();
  void SetCaption(const QString& caption);
  // The bar's minimum stays 1. A maximum below it shows as an empty range
  // (1..1); a value outside the range is shown clamped. Max() and Value()
  // return what was set.
  void SetMax(float max);
  void SetValue(float value);
  float Max() const { return max_; }
  float Value() const { return value_; }
  QProgressBar* Bar() const { return bar_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  SaveStateForm();
  void ApplyBar();

  QProgressBar* bar_;
  float max_ = 100;
  float value_ = 1;
  bool placed_ = false;
  bool unloading_ = false;
};

}  // namespace kp
