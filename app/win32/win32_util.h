// Small pieces of the Win32 window shared by the main window and the
// progress window: twips at the window's DPI, the design's fonts with their
// stand-ins, the file dialogs and the message box.
//
// User-interface thread only.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "base/path.h"
#include "form/form_design.h"

namespace kp::win32 {

inline std::wstring W(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

// Twips (1/1440 inch) to pixels at `dpi`, rounded to the nearest; 15 twips a
// pixel at 96 dpi.
int TwipsToPx(int twips, UINT dpi);
float PxToTwips(int px, UINT dpi);

// The DPI `hwnd` is shown at (96 when the system cannot say).
UINT DpiOf(HWND hwnd);

// The font of `role` at `dpi`: the first installed face of the design's list;
// where none is, the system's message font (the face every dialog uses) at
// the role's size. The caller owns the handle.
HFONT CreateRoleFont(FontRole role, UINT dpi);

// "name|pattern|name|pattern" as the dialogs' double-NUL-terminated list.
std::wstring DialogFilter(std::u16string_view filter);

// The open or save dialog with no proposed name and `filter`; false on
// cancel. Paths of any length the dialog gives are taken whole.
bool AskPath(HWND owner, bool save, std::u16string_view filter, Path* path);

// A modal message box: OK only, no icon, title kMessageBoxTitle.
void ShowMessageBox(HWND owner, std::u16string_view text);

}  // namespace kp::win32
