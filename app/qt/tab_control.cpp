#include "app/qt/tab_control.h"

#include <QFrame>
#include <QResizeEvent>
#include <QTabBar>

namespace kp {

TabControl::TabControl(QWidget* parent) : QWidget(parent) {
  panel_ = new QFrame(this);
  panel_->setFrameShape(QFrame::StyledPanel);
  panel_->setFrameShadow(QFrame::Raised);
  bar_ = new QTabBar(this);
  bar_->setExpanding(true);
  bar_->setDrawBase(false);
  bar_->setUsesScrollButtons(false);
  bar_->setElideMode(Qt::ElideNone);
  connect(bar_, &QTabBar::currentChanged, this, [this] { ShowCurrent(); });
}

void TabControl::AddTab(const QString& caption, QWidget* child) {
  child->setParent(this);
  children_.push_back(child);
  bar_->addTab(caption);
  ShowCurrent();
}

int TabControl::CurrentIndex() const { return bar_->currentIndex(); }
void TabControl::SetCurrentIndex(int index) { bar_->setCurrentIndex(index); }

void TabControl::ShowCurrent() {
  int current = bar_->currentIndex();
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->setVisible(int(i) == current);
}

void TabControl::resizeEvent(QResizeEvent* event) {
  QSize size = event->size();
  bar_->setGeometry(0, 0, size.width(), kTabHeight);
  panel_->setGeometry(0, kTabHeight - 1, size.width(), std::max(0, size.height() - kTabHeight + 1));
  panel_->lower();
}

}  // namespace kp
