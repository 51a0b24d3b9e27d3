#include "app/win32/main_form.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <string>

#include "resource_ids.h"

namespace kp::win32 {

namespace {

constexpr wchar_t kClassName[] = L"ZIriRAVConvert.MainForm";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr int kFirstControlId = 100;

int CommandId(ControlId id) { return kFirstControlId + int(id); }

bool IsFrameChild(const ControlSpec& s) {
  return s.container != ControlId::kMainForm && s.container != ControlId::kSSTab1;
}

COLORREF Ref(const Rgb& c) { return RGB(c.r, c.g, c.b); }

std::wstring TextOf(HWND hwnd) {
  std::wstring text(size_t(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(size_t(GetWindowTextW(hwnd, text.data(), int(text.size()))));
  return text;
}

int TextWidth(HWND hwnd, HFONT font, const std::wstring& text) {
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return size.cx;
}

}  // namespace

MainForm::MainForm() = default;

MainForm::~MainForm() {
  presenter_.reset();
  for (HFONT font : fonts_) {
    if (font) DeleteObject(font);
  }
}

bool MainForm::Create(HINSTANCE instance, int show) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(KP_IDI_APP), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(KP_IDI_APP), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  if (!RegisterClassExW(&wc)) return false;

  hwnd_ = CreateWindowExW(kExStyle, kClassName, W(kMainFormCaption).c_str(), kStyle, CW_USEDEFAULT,
                          CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;
  dpi_ = DpiOf(hwnd_);
  export_ = ExportWindows(hwnd_);
  CreateFonts();
  CreateControls();
  PlaceControls();

  // The design's client area at this DPI, centred on the screen.
  RECT r{0, 0, TwipsToPx(kClientWidthTwips, dpi_), TwipsToPx(kClientHeightTwips, dpi_)};
  AdjustWindowRectExForDpi(&r, kStyle, FALSE, kExStyle, dpi_);
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &mi);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const RECT& work = mi.rcWork;
  SetWindowPos(hwnd_, nullptr, work.left + std::max(0L, (work.right - work.left - w) / 2),
               work.top + std::max(0L, (work.bottom - work.top - h) / 2), w, h,
               SWP_NOZORDER | SWP_NOACTIVATE);

  presenter_ = std::make_unique<MainPresenter>(this);
  presenter_->Form_Load();
  ShowWindow(hwnd_, show == SW_SHOWMAXIMIZED || show == SW_MAXIMIZE ? show : SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  SetFocus(Hwnd(ControlId::kKPFileLoadButton));
  return true;
}

void MainForm::CreateFonts() {
  for (int role = 0; role < 3; ++role) {
    if (fonts_[size_t(role)]) DeleteObject(fonts_[size_t(role)]);
    fonts_[size_t(role)] = CreateRoleFont(FontRole(role), dpi_);
  }
}

HFONT MainForm::FontFor(ControlId id) const { return fonts_[size_t(Control(id).font)]; }

void MainForm::CreateControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  // Created in tab order, which Windows keeps as the order of the focus.
  for (const ControlSpec& s : Controls()) {
    const HWND parent = s.container == ControlId::kSSTab1 ? Hwnd(ControlId::kSSTab1) : hwnd_;
    const std::wstring caption = s.caption ? W(s.caption) : std::wstring();
    const wchar_t* cls = L"";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD ex = 0;
    switch (s.kind) {
      case ControlKind::kFrame:
        cls = WC_BUTTONW;
        style = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;
        break;
      case ControlKind::kButton:
        cls = WC_BUTTONW;
        style |= BS_OWNERDRAW | WS_TABSTOP;
        break;
      case ControlKind::kProgressBar:
        cls = PROGRESS_CLASSW;
        break;
      case ControlKind::kLabel:
        cls = WC_STATICW;
        style |= SS_OWNERDRAW | SS_NOPREFIX;
        break;
      case ControlKind::kListView:
        cls = WC_LISTVIEWW;
        style |= LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER |
                 WS_TABSTOP;
        ex = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::kTabControl:
        cls = WC_TABCONTROLW;
        style |= WS_CLIPCHILDREN | WS_TABSTOP | TCS_FIXEDWIDTH | TCS_SINGLELINE;
        ex = WS_EX_CONTROLPARENT;
        break;
    }
    HWND h = CreateWindowExW(ex, cls, caption.c_str(), style, 0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(INT_PTR(CommandId(s.id))), instance, nullptr);
    controls_[size_t(s.id)] = h;
    if (!s.enabled) EnableWindow(h, FALSE);

    if (s.kind == ControlKind::kProgressBar) {
      SendMessageW(h, PBM_SETRANGE32, 1, 100);
      SendMessageW(h, PBM_SETPOS, 1, 0);
    } else if (s.kind == ControlKind::kListView) {
      ListView_SetExtendedListViewStyle(h, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
      const auto columns = ListColumns(s.id);
      for (size_t c = 0; c < columns.size(); ++c) {
        std::wstring header = W(columns[c].header);
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_FMT | LVCF_SUBITEM;
        col.fmt = c > 0 && columns[c].right_aligned ? LVCFMT_RIGHT : LVCFMT_LEFT;
        col.pszText = header.data();
        col.iSubItem = int(c);
        ListView_InsertColumn(h, int(c), &col);
      }
      if (s.colour) {
        ListView_SetBkColor(h, Ref(*s.colour));
        ListView_SetTextBkColor(h, Ref(*s.colour));
      }
      ListView_SetTextColor(h, GetSysColor(COLOR_WINDOWTEXT));
    } else if (s.kind == ControlKind::kTabControl) {
      const auto tabs = Tabs();
      for (size_t t = 0; t < tabs.size(); ++t) {
        std::wstring text = W(tabs[t].caption);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        TabCtrl_InsertItem(h, int(t), &item);
      }
      TabCtrl_SetCurSel(h, 0);
      // Its lists' notifications go on to the window.
      SetWindowSubclass(h, TabProc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
  }
  // The frames lie under their contents (a window made first lies on top);
  // the focus order, which only the other controls take part in, stays.
  for (const ControlSpec& s : Controls()) {
    if (s.kind == ControlKind::kFrame) {
      SetWindowPos(Hwnd(s.id), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
  // A count widened to the left lies over its caption label's empty end.
  for (ControlId label : kCountLabels) {
    SetWindowPos(Hwnd(label), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  ShowCurrentTab();
}

RECT MainForm::DesignPx(ControlId id) const {
  const ControlSpec& s = Control(id);
  int left = s.rect.left, top = s.rect.top;
  if (IsFrameChild(s)) {
    left += Control(s.container).rect.left;
    top += Control(s.container).rect.top;
  }
  const int l = TwipsToPx(left, dpi_), t = TwipsToPx(top, dpi_);
  return RECT{l, t, l + TwipsToPx(s.rect.width, dpi_), t + TwipsToPx(s.rect.height, dpi_)};
}

void MainForm::PlaceControls() {
  for (const ControlSpec& s : Controls()) {
    HWND h = Hwnd(s.id);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(s.id)), FALSE);
    RECT r = DesignPx(s.id);
    if (s.kind == ControlKind::kLabel && s.auto_size) {
      // Sized to its text, on the frame's centre line.
      const int width = TextWidth(h, FontFor(s.id), TextOf(h));
      const int centre = TwipsToPx(Control(s.container).rect.left + kFrame3CentreLine, dpi_);
      r.left = centre - width / 2;
      r.right = r.left + width;
    }
    MoveWindow(h, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    if (s.kind == ControlKind::kListView) {
      const auto columns = ListColumns(s.id);
      for (size_t c = 0; c < columns.size(); ++c) {
        ListView_SetColumnWidth(h, int(c), TwipsToPx(columns[c].width_twips, dpi_));
      }
    }
  }
  for (ControlId label : kCountLabels) PlaceCount(label);
  SizeTabs();
  bar_filled_px_ = -1;
  ApplyBar();
}

// A count right-aligned in its box; a count wider than the box (five digits
// and more) widens it to the left rather than losing its first digits.
void MainForm::PlaceCount(ControlId label) {
  HWND h = Hwnd(label);
  RECT box = DesignPx(label);
  const int width = std::max<int>(box.right - box.left, TextWidth(h, FontFor(label), TextOf(h)) + 2);
  MoveWindow(h, box.right - width, box.top, width, box.bottom - box.top, TRUE);
}

// Four tabs sharing the row, each the tab row's height of the design.
void MainForm::SizeTabs() {
  HWND tab = Hwnd(ControlId::kSSTab1);
  RECT r;
  GetClientRect(tab, &r);
  const int count = std::max(1, int(Tabs().size()));
  const int width = std::max(1, int(r.right - r.left - 4) / count);
  TabCtrl_SetItemSize(tab, width, TwipsToPx(kTabRowHeightTwips, dpi_));
}

void MainForm::ShowCurrentTab() {
  HWND tab = Hwnd(ControlId::kSSTab1);
  const int current = TabCtrl_GetCurSel(tab);
  const auto tabs = Tabs();
  for (size_t t = 0; t < tabs.size(); ++t) {
    ShowWindow(Hwnd(tabs[t].list), int(t) == current ? SW_SHOW : SW_HIDE);
  }
}

// FormView.

void MainForm::SetListRows(ControlId list, int rows) {
  HWND h = Hwnd(list);
  ListView_SetItemState(h, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetItemCountEx(h, std::max(0, rows), 0);
  if (rows > 0) ListView_EnsureVisible(h, 0, FALSE);
  InvalidateRect(h, nullptr, TRUE);
}

void MainForm::SelectRow(ControlId list, int row) {
  HWND h = Hwnd(list);
  ListView_SetItemState(h, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  if (row < 0 || row >= ListView_GetItemCount(h)) return;
  ListView_SetItemState(h, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetSelectionMark(h, row);
  ListView_EnsureVisible(h, row, FALSE);
}

int MainForm::SelectedRow(ControlId list) const {
  return ListView_GetNextItem(Hwnd(list), -1, LVNI_SELECTED);
}

void MainForm::Focus(ControlId control) { SetFocus(Hwnd(control)); }

void MainForm::SetCount(ControlId label, const std::u16string& text) {
  HWND h = Hwnd(label);
  SetWindowTextW(h, W(text).c_str());
  PlaceCount(label);
  InvalidateRect(h, nullptr, TRUE);
  UpdateWindow(h);
}

void MainForm::SetProgressMax(ControlId bar, float max) {
  if (bar != ControlId::kProgressLoad) return;
  bar_max_ = max;
  ApplyBar();
}

void MainForm::SetProgressValue(ControlId bar, float value) {
  if (bar != ControlId::kProgressLoad) return;
  bar_value_ = value;
  ApplyBar();
}

// The bar's minimum is 1; a maximum below it shows an empty range, a value
// outside the range is shown clamped. The load sets a value per page without
// returning to the message loop: the bar is painted when its filled width
// changes, not for every value.
void MainForm::ApplyBar() {
  HWND h = Hwnd(ControlId::kProgressLoad);
  auto whole = [](float v) { return int(std::lround(std::clamp(v, -2e9f, 2e9f))); };
  const int lo = 1, hi = std::max(lo, whole(bar_max_));
  const int v = std::clamp(whole(bar_value_), lo, hi);
  SendMessageW(h, PBM_SETRANGE32, lo, hi);
  if (v < hi) SendMessageW(h, PBM_SETPOS, v + 1, 0);
  SendMessageW(h, PBM_SETPOS, v, 0);
  RECT r;
  GetClientRect(h, &r);
  const int filled = hi > lo ? int(int64_t(v - lo) * (r.right - r.left) / (hi - lo)) : 0;
  if (filled != bar_filled_px_) {
    bar_filled_px_ = filled;
    UpdateWindow(h);
  }
}

void MainForm::Enable(ControlId control, bool enabled) {
  EnableWindow(Hwnd(control), enabled ? TRUE : FALSE);
}

void MainForm::ShowMessage(const std::u16string& text) { ShowMessageBox(hwnd_, text); }

bool MainForm::AskOpenPath(const std::u16string& filter, Path* path) {
  return AskPath(hwnd_, false, filter, path);
}

void MainForm::UnloadProgressWindow() { SaveStateForm::Unload(); }

// LayoutSurface.

LayoutWindowState MainForm::State() const {
  if (IsIconic(hwnd_)) return LayoutWindowState::kMinimized;
  return IsZoomed(hwnd_) ? LayoutWindowState::kMaximized : LayoutWindowState::kNormal;
}

float MainForm::OuterWidth() const {
  RECT r;
  GetClientRect(hwnd_, &r);
  return PxToTwips(r.right - r.left, dpi_) + kDesignFrameWidthTwips;
}

float MainForm::OuterHeight() const {
  RECT r;
  GetClientRect(hwnd_, &r);
  return PxToTwips(r.bottom - r.top, dpi_) + kDesignFrameHeightTwips;
}

SIZE MainForm::FrameSize() const {
  RECT r{0, 0, 0, 0};
  AdjustWindowRectExForDpi(&r, kStyle, FALSE, kExStyle, dpi_);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// A window size rounds up, so that it is never below what was asked for.
// The size change runs the layout again, nested, through WM_SIZE.
void MainForm::SetOuterWidth(float width) {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int px = int(std::ceil((width - kDesignFrameWidthTwips) * dpi_ / 1440.0f));
  const SIZE frame = FrameSize();
  SetWindowPos(hwnd_, nullptr, 0, 0, px + frame.cx, client.bottom + frame.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainForm::SetOuterHeight(float height) {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int px = int(std::ceil((height - kDesignFrameHeightTwips) * dpi_ / 1440.0f));
  const SIZE frame = FrameSize();
  SetWindowPos(hwnd_, nullptr, 0, 0, client.right + frame.cx, px + frame.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND MainForm::Hwnd(LayoutControl c) const {
  switch (c) {
    case LayoutControl::kSSTab1: return Hwnd(ControlId::kSSTab1);
    case LayoutControl::kCommentListView: return Hwnd(ControlId::kCommentListView);
    case LayoutControl::kKeyWordListView: return Hwnd(ControlId::kKeyWordListView);
    case LayoutControl::kSquareListView: return Hwnd(ControlId::kSquareListView);
    case LayoutControl::kHyperLinkListView: return Hwnd(ControlId::kHyperLinkListView);
    case LayoutControl::kImageListView: break;
  }
  return Hwnd(ControlId::kImageListView);
}

// A control's rectangle in its container's client area.
static RECT PlaceIn(HWND h) {
  RECT r;
  GetWindowRect(h, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

float MainForm::Get(LayoutControl c, LayoutProperty p) const {
  const RECT r = PlaceIn(Hwnd(c));
  int px = 0;
  switch (p) {
    case LayoutProperty::kLeft: px = r.left; break;
    case LayoutProperty::kTop: px = r.top; break;
    case LayoutProperty::kWidth: px = r.right - r.left; break;
    case LayoutProperty::kHeight: px = r.bottom - r.top; break;
  }
  return PxToTwips(px, dpi_);
}

void MainForm::Set(LayoutControl c, LayoutProperty p, float value) {
  HWND h = Hwnd(c);
  RECT r = PlaceIn(h);
  int x = r.left, y = r.top, w = r.right - r.left, ht = r.bottom - r.top;
  const int px = int(std::lround(std::clamp(value * dpi_ / 1440.0f, -1e6f, 1e6f)));
  switch (p) {
    case LayoutProperty::kLeft: x = px; break;
    case LayoutProperty::kTop: y = px; break;
    // A window kept below the minimum gives no negative sizes.
    case LayoutProperty::kWidth: w = std::max(0, px); break;
    case LayoutProperty::kHeight: ht = std::max(0, px); break;
  }
  MoveWindow(h, x, y, w, ht, TRUE);
  if (c == LayoutControl::kSSTab1) SizeTabs();
}

// Messages.

LRESULT CALLBACK MainForm::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && self->hwnd_ == hwnd) return self->Handle(msg, wp, lp);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK MainForm::TabProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR self) {
  if (msg == WM_NOTIFY) return reinterpret_cast<MainForm*>(self)->Notify(reinterpret_cast<NMHDR*>(lp));
  return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT MainForm::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      if (presenter_) presenter_->Form_Resize();
      return 0;
    case WM_GETMINMAXINFO: {
      // The layout's minimum outer size, in whole pixels of client area.
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      const SIZE frame = FrameSize();
      info->ptMinTrackSize.x =
          int(std::ceil((kMinimumOuterWidth - kDesignFrameWidthTwips) * dpi_ / 1440.0f)) + frame.cx;
      info->ptMinTrackSize.y =
          int(std::ceil((kMinimumOuterHeight - kDesignFrameHeightTwips) * dpi_ / 1440.0f)) + frame.cy;
      return 0;
    }
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wp);
      CreateFonts();
      PlaceControls();
      const RECT* r = reinterpret_cast<const RECT*>(lp);
      SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(hwnd_, nullptr, TRUE);
      return 0;
    }
    case WM_ACTIVATE:
      // The focus a control had comes back with the window (after a message
      // box or a dialog), as in a dialog box.
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) focus_ = focus;
      } else if (focus_ && IsWindow(focus_) && IsWindowEnabled(focus_)) {
        SetFocus(focus_);
        return 0;
      }
      break;
    case WM_ERASEBKGND:
      EraseBackground(reinterpret_cast<HDC>(wp));
      return 1;
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED && presenter_) {
        if (LOWORD(wp) == CommandId(ControlId::kKPFileLoadButton)) presenter_->KPFileLoadButton_Click();
        if (LOWORD(wp) == CommandId(ControlId::kOutputMDB)) presenter_->OutputMDB_Click();
        return 0;
      }
      break;
    case WM_NOTIFY:
      return Notify(reinterpret_cast<NMHDR*>(lp));
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (item.CtlType == ODT_BUTTON) DrawButton(item);
      if (item.CtlType == ODT_STATIC) DrawLabel(item);
      return TRUE;
    }
    case WM_CLOSE:
      if (presenter_) presenter_->Form_Unload();
      DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

ControlId MainForm::IdOf(HWND hwnd) const {
  for (size_t i = 0; i < controls_.size(); ++i) {
    if (controls_[i] == hwnd) return ControlId(i);
  }
  return ControlId::kMainForm;
}

LRESULT MainForm::Notify(NMHDR* header) {
  const ControlId id = IdOf(header->hwndFrom);
  if (id == ControlId::kSSTab1) {
    if (header->code == TCN_SELCHANGE) ShowCurrentTab();
    return 0;
  }
  if (id == ControlId::kMainForm) {
    // The lists' column headers: their widths are the design's.
    if (header->code == HDN_BEGINTRACKW || header->code == HDN_BEGINTRACKA ||
        header->code == HDN_DIVIDERDBLCLICKW || header->code == HDN_DIVIDERDBLCLICKA) {
      return TRUE;
    }
    return 0;
  }
  if (!IsList(id)) return 0;
  switch (header->code) {
    case LVN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
      if ((info->item.mask & LVIF_TEXT) && info->item.pszText && info->item.cchTextMax > 0) {
        const std::u16string text =
            presenter_ ? presenter_->CellText(id, info->item.iItem, info->item.iSubItem) : std::u16string();
        const size_t n = std::min(text.size(), size_t(info->item.cchTextMax - 1));
        std::copy_n(text.begin(), n, info->item.pszText);
        info->item.pszText[n] = L'\0';
      }
      return 0;
    }
    case NM_CLICK:
      if (id == kPageList && presenter_ && reinterpret_cast<NMITEMACTIVATE*>(header)->iItem >= 0) {
        presenter_->ImageListView_ItemClick();
      }
      return 0;
    case LVN_ITEMCHANGED: {
      const auto* change = reinterpret_cast<NMLISTVIEW*>(header);
      if (id == kPageList && presenter_ && (change->uChanged & LVIF_STATE) &&
          (change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED)) {
        presenter_->ImageListView_SelectionChanged();
      }
      return 0;
    }
    default:
      return 0;
  }
}

// Owner-drawn buttons: the design's face colour, a raised edge (sunken while
// pressed), the caption greyed when disabled, the focus rectangle.
void MainForm::DrawButton(const DRAWITEMSTRUCT& item) {
  const ControlId id = IdOf(item.hwndItem);
  const ControlSpec& design = Control(id == ControlId::kMainForm ? ControlId::kKPFileLoadButton : id);
  RECT r = item.rcItem;
  HBRUSH face = CreateSolidBrush(design.colour ? Ref(*design.colour) : GetSysColor(COLOR_BTNFACE));
  FillRect(item.hDC, &r, face);
  DeleteObject(face);
  const bool pressed = item.itemState & ODS_SELECTED;
  DrawEdge(item.hDC, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  const std::wstring text = TextOf(item.hwndItem);
  HGDIOBJ old = SelectObject(item.hDC, FontFor(design.id));
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(item.itemState & ODS_DISABLED ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  RECT text_rect = r;
  if (pressed) OffsetRect(&text_rect, 1, 1);
  DrawTextW(item.hDC, text.c_str(), int(text.size()), &text_rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, old);
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
    RECT focus = r;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(item.hDC, &focus);
  }
}

// Labels on one line in their own font: centred captions, right-aligned
// counts.
void MainForm::DrawLabel(const DRAWITEMSTRUCT& item) {
  const ControlId id = IdOf(item.hwndItem);
  if (id == ControlId::kMainForm) return;
  const ControlSpec& design = Control(id);
  RECT r = item.rcItem;
  FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
  const std::wstring text = TextOf(item.hwndItem);
  HGDIOBJ old = SelectObject(item.hDC, FontFor(id));
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
  UINT align = design.align == TextAlign::kRight ? DT_RIGHT : design.align == TextAlign::kCentre ? DT_CENTER : DT_LEFT;
  DrawTextW(item.hDC, text.c_str(), int(text.size()), &r, align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, old);
}

// The window's face, not under the lists and the tab control (they paint
// all of theirs), so that a resize does not flicker there.
void MainForm::EraseBackground(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int saved = SaveDC(dc);
  for (ControlId id : {ControlId::kImageListView, ControlId::kSSTab1}) {
    const RECT r = PlaceIn(Hwnd(id));
    ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
  }
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  RestoreDC(dc, saved);
}

}  // namespace kp::win32
