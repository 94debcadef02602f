// The program entry: the common controls, the real platform, the main window and the
// message loop.
#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

#include "crash/guard_win.h"
#include "platform/startup_trace_win.h"
#include "platform/win32_platform.h"
#include "ui/Ufrmvolume_win.h"

namespace {

int RunMessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    vol::GuardedCall([&] {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    });
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show_command) {
  vol::StartupMark("entry");
  vol::QuietSystemErrorBoxes();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  vol::StartupMark("common controls initialised");

  vol::Win32Platform platform;
  vol::MainWindow window(platform);
  if (!window.Create()) return 1;
  platform.SetMessageOwner(window.hwnd());
  ShowWindow(window.hwnd(), show_command);
  UpdateWindow(window.hwnd());
  return RunMessageLoop();
}
