// MainForm: the program's one main window. A first, plain layout: the load
// button, the page list with its eight columns, the eight totals and the
// export button. Loading and exporting are the widget-free commands in ctl/
// and export/; this window only shows their results.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTreeWidget>
#include <array>

namespace kp {

class MainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainForm(QWidget* parent = nullptr);

 protected:
  void closeEvent(QCloseEvent* event) override;  // Form_Unload

 private:
  void KPFileLoadButton_Click();
  void OutputMDB_Click();
  void FillPageList();

  QPushButton* KPFileLoadButton_;
  QPushButton* OutputMDB_;
  QTreeWidget* ImageListView_;
  std::array<QLabel*, 8> totals_{};
};

}  // namespace kp
