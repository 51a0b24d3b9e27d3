// MainPresenter: the main window's behaviour, toolkit-free. A view
// (form_view.h) forwards each of the window's events to the handler of the
// same name and draws its lists from CellText; the presenter runs the
// commands to their end through the view:
//
//   Form_Load, Form_Resize     the layout (form_layout.h), at most one nested run
//   Form_Unload                the progress window is unloaded
//   KPFileLoadButton_Click     the open dialog, then LoadFile
//   LoadFile                   the load: the file is read into a fresh
//                              document; only when that succeeded are the
//                              document, the page list and the totals replaced
//                              (bar max = pages, rows, row 1 selected and
//                              focused, PageInfoUpDate, the eight totals, bar
//                              back to 1 of 100, the message, OutputMDB enabled);
//                              a failure shows its message and changes nothing
//   ImageListView_ItemClick    PageInfoUpDate
//   ImageListView_SelectionChanged
//                              PageInfoUpDate when the selected row's page is
//                              not the one shown (a selection moved by a drag
//                              or by the keys, where no click fires)
//   OutputMDB_Click            the export, through the view's ExportUi
//
// PageInfoUpDate refills the four detail lists, in order, for the page the
// selected page row's text names; none when it names no page.
//
// User-interface thread only.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "base/path.h"
#include "form/form_design.h"
#include "form/form_view.h"
#include "inspect/page_details.h"
#include "model/control_document.h"

namespace kp {

class ExportCommand;
class ImageSizer;

class MainPresenter {
 public:
  // Null arguments mean the program's own: the program-wide document
  // (Module1), the file system's image sizes, the program's export command.
  explicit MainPresenter(FormView* view, ControlDocument* doc = nullptr, ImageSizer* sizer = nullptr,
                         ExportCommand* exporter = nullptr);
  ~MainPresenter();
  MainPresenter(const MainPresenter&) = delete;
  MainPresenter& operator=(const MainPresenter&) = delete;

  // The window's events.
  void Form_Load();
  void Form_Resize();
  void Form_Unload();
  void KPFileLoadButton_Click();
  void OutputMDB_Click();
  void ImageListView_ItemClick();
  void ImageListView_SelectionChanged();

  // The load of the control file at `path`, as the load button runs it once
  // its dialog has answered (the program's command line names one).
  void LoadFile(const Path& path);
  void PageInfoUpDate();

  // What a list shows: its rows and a cell's text (empty outside the list).
  int Rows(ControlId list) const;
  std::u16string CellText(ControlId list, int row, int column) const;
  // The position in the document of the page the detail lists show; -1 none.
  int ShownPage() const { return shown_page_; }

 private:
  int SelectedPage() const;

  FormView* view_;
  ControlDocument* doc_;
  std::unique_ptr<ImageSizer> own_sizer_;  // the file system's, when none was given
  ImageSizer* sizer_;
  ExportCommand* exporter_;
  int page_rows_ = 0;
  std::array<DetailTable, kDetailListCount> details_{};
  int shown_page_ = -1;
  int layout_depth_ = 0;
  bool busy_ = false;  // the load fills and selects the page list itself
};

}  // namespace kp
