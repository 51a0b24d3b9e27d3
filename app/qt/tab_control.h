// TabControl: a row of captioned tabs over a panel, each tab hosting one
// child widget. The children are the tab control's own children, placed by
// the caller in the tab control's coordinates (a top of 24 pixels puts them
// just under the tabs); the control shows the child of the chosen tab and
// hides the others by itself.
//
// User-interface thread only.
#pragma once

#include <QWidget>
#include <vector>

#include "form/form_design.h"

class QFrame;
class QTabBar;

namespace kp {

class TabControl final : public QWidget {
 public:
  static constexpr int kTabHeight = TwipsToPixels(kTabRowHeightTwips);

  explicit TabControl(QWidget* parent = nullptr);

  // Adds a tab whose page is `child` (reparented to this control).
  void AddTab(const QString& caption, QWidget* child);
  int CurrentIndex() const;
  void SetCurrentIndex(int index);
  QTabBar* Bar() const { return bar_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowCurrent();

  QTabBar* bar_;
  QFrame* panel_;
  std::vector<QWidget*> children_;
};

}  // namespace kp
