// MainForm: the program's one main window and its start-up object.
//
// A left column of four group frames (loading, output, embedded-file counts,
// summary counts), the page list on the right and under it a tab control
// with the four detail lists of the selected page. Every control is placed
// at its design position (twips / 15 = pixels) and carries its design name
// as its object name. The layout on resize moves only the tab control and
// sizes the five lists (form_layout.h).
//
// The window has almost no behaviour of its own: its two buttons start the
// load and the export, a click on a page row refills the detail lists, and
// closing it unloads the progress window. The commands run on the
// user-interface thread to their end; their only waits are modal dialogs.
//
// User-interface thread only.
#pragma once

#include <QWidget>
#include <array>
#include <span>
#include <string>

#include "app/app_dialogs.h"
#include "app/list_models.h"
#include "inspect/page_details.h"

class QAbstractItemModel;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace kp {

class TabControl;

class MainForm final : public QWidget {
 public:
  // Client area at design: 11490 x 8910 twips.
  static constexpr int kClientWidth = 766;
  static constexpr int kClientHeight = 594;
  // The frame the layout counts on, whatever the window manager draws.
  static constexpr int kDesignFrameWidthTwips = 120;
  static constexpr int kDesignFrameHeightTwips = 405;

  // `dialogs` null means the platform's dialogs and message boxes.
  explicit MainForm(AppDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~MainForm() override;

  // Refills the four detail lists for the page the selected row names.
  void PageInfoUpDate();

  // The commands, as a click starts them.
  void KPFileLoadButton_Click();
  void OutputMDB_Click();
  void ImageListView_ItemClick();

  // Loads the control file at `path` (the file system's bytes) as the load
  // button does once its dialog has answered: the program's command line
  // names one when a file manager opens a DEFAULT.CTL with it.
  void LoadFile(const std::string& path);

 protected:
  void resizeEvent(QResizeEvent* event) override;  // Form_Resize
  void changeEvent(QEvent* event) override;        // Form_Resize on a state change
  void closeEvent(QCloseEvent* event) override;    // Form_Unload

 private:
  class Surface;
  friend class Surface;

  void CreateControls();
  QTreeView* CreateList(const char* name, QWidget* parent, QAbstractItemModel* model,
                        std::span<const ListColumn> columns, bool tinted);
  void Form_Load();
  void Form_Resize();
  void SetTotals();

  AppDialogs* dialogs_;
  QPushButton* KPFileLoadButton_ = nullptr;
  QPushButton* OutputMDB_ = nullptr;
  QProgressBar* ProgressLoad_ = nullptr;
  QTreeView* ImageListView_ = nullptr;
  TabControl* SSTab1_ = nullptr;
  std::array<QTreeView*, kDetailListCount> detail_views_{};
  std::array<QLabel*, 8> totals_{};  // in the order the load sets them
  PageListModel* page_model_ = nullptr;
  std::array<DetailListModel*, kDetailListCount> detail_models_{};
  int layout_depth_ = 0;
  bool selecting_ = false;  // the load selects row 1: no item click
};

}  // namespace kp
