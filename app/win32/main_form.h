// MainForm on Win32: the main window built from the window's design with the
// Windows common controls, one view of the presenter.
//
// Every control is made from the design's inventory (form_design.h): group
// boxes, owner-drawn buttons with their face colours, labels, progress bar,
// list views in report view with LVS_OWNERDATA (a list of 100,000 rows is
// one item count; the presenter gives a cell's text when it is drawn), and a
// tab control whose tabs show one list each. Geometry is twips x DPI / 1440
// at the DPI of the monitor the window is on, placed afresh when it moves to
// another. Events go to the presenter and nothing else: the window decides
// nothing of its own beyond what the controls do by themselves.
//
// User-interface thread only.
#pragma once

#include <array>
#include <memory>

#include "app/win32/save_state_form.h"
#include "app/win32/win32_util.h"
#include "form/form_layout.h"
#include "form/form_view.h"
#include "form/main_presenter.h"

namespace kp::win32 {

class MainForm final : public FormView, public LayoutSurface {
 public:
  MainForm();
  ~MainForm() override;
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  // Creates the window and its controls, runs Form_Load and shows it
  // centred on its screen with the keyboard focus on the load button.
  bool Create(HINSTANCE instance, int show);
  HWND Handle() const { return hwnd_; }
  MainPresenter* Presenter() { return presenter_.get(); }

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
  ExportUi* ExportPort() override { return &export_; }
  void UnloadProgressWindow() override;
  LayoutSurface* Layout() override { return this; }

  // LayoutSurface: twips at the window's DPI; the outer size is the client
  // size plus the design's frame, so the tab control ends on the client
  // area's right and bottom edges whatever frame the system draws.
  LayoutWindowState State() const override;
  float OuterWidth() const override;
  float OuterHeight() const override;
  void SetOuterWidth(float width) override;
  void SetOuterHeight(float height) override;
  float Get(LayoutControl control, LayoutProperty property) const override;
  void Set(LayoutControl control, LayoutProperty property, float value) override;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK TabProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR self);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Notify(NMHDR* header);

  void CreateControls();
  void CreateFonts();
  // Every control at its design place, font and column widths at dpi_.
  void PlaceControls();
  void PlaceCount(ControlId label);
  void SizeTabs();
  void ShowCurrentTab();
  void ApplyBar();
  void DrawButton(const DRAWITEMSTRUCT& item);
  void DrawLabel(const DRAWITEMSTRUCT& item);
  void EraseBackground(HDC dc);
  RECT DesignPx(ControlId id) const;
  HWND Hwnd(ControlId id) const { return controls_[size_t(id)]; }
  HWND Hwnd(LayoutControl c) const;
  ControlId IdOf(HWND hwnd) const;
  HFONT FontFor(ControlId id) const;
  SIZE FrameSize() const;  // what the system's frame adds to the client area

  HWND hwnd_ = nullptr;
  UINT dpi_ = 96;
  std::array<HWND, kControlCount> controls_{};
  std::array<HFONT, 3> fonts_{};  // by FontRole
  float bar_max_ = 100;
  float bar_value_ = 1;
  int bar_filled_px_ = -1;
  HWND focus_ = nullptr;  // the control that had the focus when the window lost it
  ExportWindows export_{nullptr};
  std::unique_ptr<MainPresenter> presenter_;
};

}  // namespace kp::win32
