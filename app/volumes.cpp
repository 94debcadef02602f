// The program entry: the start-up, the real platform, the main window and the message
// loop.
#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

#include <optional>

#include "crash/guard_win.h"
#include "platform/startup_trace_win.h"
#include "platform/system_library_win.h"
#include "platform/win32_platform.h"
#include "ui/Ufrmvolume_win.h"

#if defined(VOLUMES_STARTUP_ERROR_HOOK)
// A test build's hook that fails the start-up; the shipped programs have none.
void RaiseStartupErrorForTests();
#endif

namespace {

// In this order: the DLL search before anything can load a DLL; the handlers of uncaught
// errors before anything can fail; then the error mode and the common controls.
void StartUp() {
  vol::LeaveCurrentDirectoryOutOfDllSearch();
  vol::InstallUncaughtErrorHandlers();
  vol::QuietSystemErrorBoxes();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  vol::StartupMark("common controls initialised");
#if defined(VOLUMES_STARTUP_ERROR_HOOK)
  RaiseStartupErrorForTests();
#endif
}

// Each window procedure guards the messages it handles; the loop itself runs no code
// of the program's.
int RunMessageLoop() {
  vol::SetMessageLoop(&RunMessageLoop);
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show_command) {
  std::optional<vol::Win32Platform> platform;
  std::optional<vol::MainWindow> window;
  bool started = false;
  // Guarded from the first statement: an error before the main window exists is
  // reported too, and the program then ends.
  vol::GuardedCall([&] {
    vol::StartupMark("entry");
    StartUp();
    window.emplace(platform.emplace());
    if (!window->Create()) return;
    platform->SetMessageOwner(window->hwnd());
    ShowWindow(window->hwnd(), show_command);
    UpdateWindow(window->hwnd());
    started = true;
  });
  return started ? RunMessageLoop() : 1;
}
