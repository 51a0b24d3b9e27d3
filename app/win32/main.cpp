// ZIriRAV Convert on Windows: the desktop program with the Windows common
// controls. MainForm is its start-up object; the program ends when its
// window closes. `zirirav-convert [DEFAULT.CTL]`.
#include "app/win32/main_form.h"

#include <commctrl.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                           ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  // The commands run to their end without returning to the message loop and
  // paint what they change as they go: the system must not swap the windows
  // for a frozen "not responding" copy while an export runs.
  DisableProcessWindowsGhosting();

  kp::win32::MainForm window;
  if (!window.Create(instance, show)) return 1;

  // A DEFAULT.CTL named on the command line (a file opened with the
  // program) is loaded once the window is up, with the load's message.
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    if (argc > 1) window.Presenter()->LoadFile(kp::Path(std::wstring(argv[1])));
    LocalFree(argv);
  }

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(window.Handle(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return int(msg.wParam);
}
