// MainForm: the main window in Qt, the program's start-up object.
//
// A view and nothing more (form/form_view.h): its controls are made from the
// design (form/form_design.h), each at its design place (twips / 15 =
// pixels) with its design name as its object name; its signals go to the
// presenter (form/main_presenter.h), which runs every command and the layout
// and tells the window what to show.
//
// User-interface thread only.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "app/qt/app_dialogs.h"
#include "form/form_view.h"
#include "form/main_presenter.h"

class QTreeView;

namespace kp {

class FormListModel;
class QtExportUi;

class MainForm final : public QWidget, public FormView {
 public:
  // The client area at design, in pixels.
  static constexpr int kClientWidth = TwipsToPixels(kClientWidthTwips);
  static constexpr int kClientHeight = TwipsToPixels(kClientHeightTwips);

  // `dialogs` null means the platform's dialogs and message boxes.
  explicit MainForm(AppDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~MainForm() override;

  MainPresenter& Presenter() { return *presenter_; }

  // FormView.
  void SetListRows(ControlId list, int rows) override;
  void SelectRow(ControlId list, int row) override;
  int SelectedRow(ControlId list) const override;
  void Focus(ControlId control) override;
  void SetCount(ControlId label, const std::u16string& text) override;
  void SetProgressMax(ControlId bar, float max) override;
  void SetProgressValue(ControlId bar, float value) override;
  void Enable(ControlId control, bool enabled) override;
  void ShowMessage(const std::u16string& text) override;
  bool AskOpenPath(const std::u16string& filter, Path* path) override;
  ExportUi* ExportPort() override;
  void UnloadProgressWindow() override;
  LayoutSurface* Layout() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;  // Form_Resize
  void changeEvent(QEvent* event) override;        // Form_Resize on a state change
  void closeEvent(QCloseEvent* event) override;    // Form_Unload

 private:
  class Surface;

  void CreateControls();
  QTreeView* CreateList(const ControlSpec& design, QWidget* parent);
  QWidget* Widget(ControlId id) const { return widgets_[size_t(id)]; }
  QTreeView* List(ControlId id) const;
  FormListModel* Model(ControlId list) const;

  AppDialogs* dialogs_;
  std::unique_ptr<MainPresenter> presenter_;
  std::unique_ptr<QtExportUi> export_ui_;
  std::unique_ptr<Surface> surface_;
  std::array<QWidget*, kControlCount> widgets_{};
  std::array<FormListModel*, kControlCount> models_{};
};

}  // namespace kp
