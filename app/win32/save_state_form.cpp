#include "app/win32/save_state_form.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

namespace kp::win32 {

namespace {

constexpr wchar_t kClassName[] = L"ZIriRAVConvert.SaveStateForm";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW;

SaveStateForm* g_form = nullptr;

int Whole(float v) { return int(std::lround(std::clamp(v, -2e9f, 2e9f))); }

}  // namespace

SaveStateForm* SaveStateForm::Instance(bool create) {
  if (!g_form && create) {
    auto* form = new SaveStateForm();
    if (!form->Create()) {
      delete form;
      return nullptr;
    }
    g_form = form;
  }
  return g_form;
}

void SaveStateForm::Unload() {
  if (!g_form) return;
  SaveStateForm* form = g_form;
  g_form = nullptr;
  if (form->hwnd_) DestroyWindow(form->hwnd_);
  delete form;
}

bool SaveStateForm::Create() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  static bool registered = false;
  if (!registered) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return false;
    registered = true;
  }
  // No owner: the window stands on its own beside the main window.
  hwnd_ = CreateWindowExW(kExStyle, kClassName, W(kProgressIdleCaption).c_str(), kStyle, CW_USEDEFAULT,
                          CW_USEDEFAULT, 100, 50, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;
  bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, hwnd_, nullptr,
                         instance, nullptr);
  Place(DpiOf(hwnd_), nullptr);
  ApplyBar();
  return true;
}

// The client area of the design at `dpi`, the bar filling it; centred on the
// screen the window is on the first time.
void SaveStateForm::Place(UINT dpi, const RECT* suggested) {
  const int cw = TwipsToPx(kProgressClientWidthTwips, dpi);
  const int ch = TwipsToPx(kProgressClientHeightTwips, dpi);
  RECT r{0, 0, cw, ch};
  AdjustWindowRectExForDpi(&r, kStyle, FALSE, kExStyle, dpi);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (suggested) {
    SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    SetWindowPos(hwnd_, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (bar_) MoveWindow(bar_, 0, 0, cw, ch, TRUE);
}

void SaveStateForm::ShowForm() {
  if (!placed_) {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &mi);
    RECT r;
    GetWindowRect(hwnd_, &r);
    const RECT& work = mi.rcWork;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - (r.right - r.left)) / 2,
                 work.top + (work.bottom - work.top - (r.bottom - r.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placed_ = true;
  }
  ShowWindow(hwnd_, SW_SHOWNA);
  Paint();
}

void SaveStateForm::HideForm() { ShowWindow(hwnd_, SW_HIDE); }

void SaveStateForm::SetCaption(const std::u16string& caption) {
  SetWindowTextW(hwnd_, W(caption).c_str());
  Paint();
}

void SaveStateForm::SetMax(float max) {
  max_ = max;
  ApplyBar();
}

void SaveStateForm::SetValue(float value) {
  value_ = value;
  ApplyBar();
}

void SaveStateForm::ApplyBar() {
  const int lo = 1;
  const int hi = std::max(lo, Whole(max_));
  SendMessageW(bar_, PBM_SETRANGE32, lo, hi);
  const int v = std::clamp(Whole(value_), lo, hi);
  // A themed bar glides towards a larger value while messages run, which
  // they do not during the export: one step past and back shows it at once.
  if (v < hi) SendMessageW(bar_, PBM_SETPOS, v + 1, 0);
  SendMessageW(bar_, PBM_SETPOS, v, 0);
  Paint();
}

void SaveStateForm::Paint() {
  if (IsWindowVisible(hwnd_)) RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
}

LRESULT CALLBACK SaveStateForm::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<SaveStateForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      break;
    }
    case WM_CLOSE:
      return 0;  // only the main window's shutdown ends it
    case WM_DPICHANGED:
      if (self) self->Place(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

bool ExportWindows::AskSavePath(const std::u16string& filter, std::string* path) {
  Path chosen;
  if (!AskPath(main_, true, filter, &chosen)) return false;
  // The export takes the path as UTF-8 text.
  const std::wstring& wide = chosen.native();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  path->assign(size_t(std::max(0, n)), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), path->data(), n, nullptr, nullptr);
  return true;
}

void ExportWindows::ShowMessage(const std::u16string& text) { ShowMessageBox(main_, text); }

void ExportWindows::ShowProgress() {
  if (SaveStateForm* form = SaveStateForm::Instance(true)) form->ShowForm();
}

void ExportWindows::HideProgress() {
  if (SaveStateForm* form = SaveStateForm::Instance(false)) form->HideForm();
}

void ExportWindows::SetProgressCaption(const std::u16string& caption) {
  if (SaveStateForm* form = SaveStateForm::Instance(true)) form->SetCaption(caption);
}

void ExportWindows::SetProgressMax(float max) {
  if (SaveStateForm* form = SaveStateForm::Instance(true)) form->SetMax(max);
}

void ExportWindows::SetProgressValue(float value) {
  if (SaveStateForm* form = SaveStateForm::Instance(true)) form->SetValue(value);
}

void ExportWindows::SetMainWindowEnabled(bool enabled) {
  EnableWindow(main_, enabled ? TRUE : FALSE);
  if (enabled) SetForegroundWindow(main_);
}

}  // namespace kp::win32
