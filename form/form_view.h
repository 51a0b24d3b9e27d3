// FormView: what a toolkit must do for the main window, and nothing more.
// The presenter (main_presenter.h) decides every step; a view only shows
// what it is told and forwards the user's actions to the presenter's
// handlers. A view builds its controls from the design (form_design.h).
//
// Lists are virtual: a view is told how many rows a list has, and asks the
// presenter for a row's cell texts (MainPresenter::CellText) when it draws
// that row, as a list view with LVS_OWNERDATA or a Qt item model does. So a
// list of 100,000 pages fills at once.
//
// Controls are named by ControlId. Every call returns at once except
// ShowMessage and AskOpenPath, which wait for the user (modal).
//
// User-interface thread only.
#pragma once

#include <string>

#include "base/path.h"
#include "form/form_design.h"

namespace kp {

class ExportUi;
class LayoutSurface;

class FormView {
 public:
  virtual ~FormView() = default;

  // `list` now has `rows` rows (0 removes all): whatever the view holds of
  // its earlier rows is stale; it asks for cell texts afresh. The scroll
  // position and selection of a list whose rows are replaced are the view's.
  virtual void SetListRows(ControlId list, int rows) = 0;
  // Makes `row` the selected and current row of `list`, scrolled into view.
  // A view may report the change back through the presenter's
  // ImageListView_SelectionChanged; the presenter ignores it then.
  virtual void SelectRow(ControlId list, int row) = 0;
  // The selected row of `list`, or -1 when none is.
  virtual int SelectedRow(ControlId list) const = 0;
  // Gives `control` the keyboard focus.
  virtual void Focus(ControlId control) = 0;

  // The caption of a count label (one of kCountLabels).
  virtual void SetCount(ControlId label, const std::u16string& text) = 0;
  // A progress bar's maximum and value; its minimum stays 1.
  virtual void SetProgressMax(ControlId bar, float max) = 0;
  virtual void SetProgressValue(ControlId bar, float value) = 0;
  virtual void Enable(ControlId control, bool enabled) = 0;

  // A modal message box: OK only, no icon, title kMessageBoxTitle.
  virtual void ShowMessage(const std::u16string& text) = 0;
  // The open dialog with no proposed name and `filter` ("name|pattern"
  // pairs). False on cancel; *path is the chosen file otherwise.
  virtual bool AskOpenPath(const std::u16string& filter, Path* path) = 0;

  // The export's windows: the save dialog, its messages, the progress window
  // and the main window's enabling (export_command.h).
  virtual ExportUi* ExportPort() = 0;
  // Closes and destroys the progress window if it exists (shutdown).
  virtual void UnloadProgressWindow() = 0;

  // The window and its resized controls in twips, for the layout; nullptr
  // when the view has none to lay out.
  virtual LayoutSurface* Layout() = 0;
};

}  // namespace kp
