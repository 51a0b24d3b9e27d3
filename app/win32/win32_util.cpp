#include "app/win32/win32_util.h"

#include <commdlg.h>

#include <cmath>
#include <vector>

namespace kp::win32 {

namespace {

// Windows' own faces after the design's list: a fixed-pitch and a
// proportional Japanese Gothic that come with the system.
constexpr const char16_t* kWindowsFixed[] = {u"BIZ UDゴシック", u"BIZ UDGothic"};
constexpr const char16_t* kWindowsProportional[] = {u"Yu Gothic UI", u"Meiryo UI", u"Meiryo"};

int CALLBACK FoundFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool Installed(std::u16string_view face) {
  if (face.empty() || face.size() >= LF_FACESIZE) return false;
  LOGFONTW lf{};
  lf.lfCharSet = DEFAULT_CHARSET;
  face.copy(reinterpret_cast<char16_t*>(lf.lfFaceName), face.size());
  bool found = false;
  HDC dc = GetDC(nullptr);
  EnumFontFamiliesExW(dc, &lf, FoundFace, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, dc);
  return found;
}

// The chosen face, or empty for the system's message font.
std::wstring ChooseFace(FontRole role) {
  const FontSpec& design = Font(role);
  if (const char16_t* face = PickFace(design.faces, Installed)) return W(face);
  std::span<const char16_t* const> own(design.fixed_pitch ? std::span<const char16_t* const>(kWindowsFixed)
                                                         : std::span<const char16_t* const>(kWindowsProportional));
  if (const char16_t* face = PickFace(own, Installed)) return W(face);
  return {};
}

const std::wstring& CachedFace(FontRole role) {
  static std::wstring faces[3];
  static bool chosen[3] = {};
  int i = int(role);
  if (!chosen[i]) {
    faces[i] = ChooseFace(role);
    chosen[i] = true;
  }
  return faces[i];
}

}  // namespace

int TwipsToPx(int twips, UINT dpi) { return int(std::lround(double(twips) * dpi / 1440.0)); }

float PxToTwips(int px, UINT dpi) { return float(double(px) * 1440.0 / dpi); }

UINT DpiOf(HWND hwnd) {
  UINT dpi = hwnd ? GetDpiForWindow(hwnd) : 0;
  if (dpi == 0) dpi = GetDpiForSystem();
  return dpi ? dpi : 96;
}

HFONT CreateRoleFont(FontRole role, UINT dpi) {
  const FontSpec& design = Font(role);
  LOGFONTW lf{};
  const std::wstring& face = CachedFace(role);
  if (face.empty()) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
      lf = metrics.lfMessageFont;
    } else {
      GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    }
  } else {
    face.copy(lf.lfFaceName, LF_FACESIZE - 1);
    lf.lfCharSet = SHIFTJIS_CHARSET;
    lf.lfPitchAndFamily = BYTE((design.fixed_pitch ? FIXED_PITCH : VARIABLE_PITCH) | FF_MODERN);
  }
  lf.lfHeight = -int(std::lround(double(design.points) * dpi / 72.0));
  lf.lfWidth = 0;
  lf.lfWeight = FW_NORMAL;
  lf.lfItalic = lf.lfUnderline = lf.lfStrikeOut = FALSE;
  lf.lfQuality = CLEARTYPE_QUALITY;
  return CreateFontIndirectW(&lf);
}

std::wstring DialogFilter(std::u16string_view filter) {
  std::wstring out = W(filter);
  for (wchar_t& c : out) {
    if (c == L'|') c = L'\0';
  }
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

bool AskPath(HWND owner, bool save, std::u16string_view filter, Path* path) {
  // Room for the longest path the file system takes.
  std::vector<wchar_t> name(32768, L'\0');
  const std::wstring filters = DialogFilter(filter);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filters.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = DWORD(name.size());
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
              (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!ok) return false;
  *path = Path(std::wstring(name.data()));
  return true;
}

void ShowMessageBox(HWND owner, std::u16string_view text) {
  MessageBoxW(owner, W(text).c_str(), W(kMessageBoxTitle).c_str(), MB_OK);
}

}  // namespace kp::win32
