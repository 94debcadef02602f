#include <windows.h>

#include <string>
#include <vector>

#include "crash/guard_win.h"
#include "crash/bug_report.h"
#include "crash/crash_win.h"
#include "platform/edition.h"
#include "platform/win32_platform.h"

namespace vol {
namespace {

// The program's windows all live on one thread; so does this state.
bool showing = false;  // an error's box or dialog is open
bool closing = false;  // "close application" is tearing the windows down

class ShowingScope {
 public:
  ShowingScope() { showing = true; }
  ShowingScope(const ShowingScope&) = delete;
  ShowingScope& operator=(const ShowingScope&) = delete;
  ~ShowingScope() { showing = false; }
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
  wchar_t class_name[8] = {};
  GetClassNameW(window, class_name, 8);
  // The input method's windows belong to the system, owned ones go with their owner.
  if (GetWindow(window, GW_OWNER) == nullptr && std::wstring_view(class_name) != L"IME") {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  }
  return TRUE;
}

[[noreturn]] void CloseApplication() {
  closing = true;
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), &CollectWindow, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    // A window that fails while being destroyed must not keep the program alive.
    IgnoreStructuredErrors([window] {
      try {
        if (IsWindow(window)) DestroyWindow(window);
      } catch (...) {
      }
    });
  }
  ExitProcess(1);
}

// Starts the executable again, as it was started; false when the system refused.
bool StartAgain(DWORD& error) {
  const std::wstring path = ProcessExecutablePath();
  std::wstring command_line = GetCommandLineW();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (path.empty() || !CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup, &process)) {
    error = GetLastError();
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// floor: the stack address below which the current thread's frames are the reporter's.
void ShowCrashReporter(const std::wstring& message, const EXCEPTION_POINTERS* pointers,
                       uintptr_t floor) {
  // A structured exception has its own context; a C++ exception was caught by now, and
  // its report begins where it was caught.
  const std::wstring report = crash::FormatBugReport(
      pointers != nullptr ? crash_detail::GatherBugReport(message, pointers->ContextRecord)
                          : crash_detail::GatherBugReport(message, nullptr, floor));
  const crash_detail::BoxChoice choice =
      crash_detail::ShowExceptionBox(GetActiveWindow(), message, report);
  if (choice == crash_detail::BoxChoice::kClose) CloseApplication();
  if (choice == crash_detail::BoxChoice::kRestart) {
    DWORD error = 0;
    if (StartAgain(error)) CloseApplication();
    const std::wstring text = L"The application could not be started again (error " +
                              std::to_wstring(error) + L"); it goes on running.";
    MessageBoxW(GetActiveWindow(), text.c_str(), crash_detail::kCaption, MB_OK | MB_ICONWARNING);
  }
}

}  // namespace

void HandleUncaughtError(const std::wstring& message, const void* exception_pointers) {
  if (closing) return;
  // An error while the box is open (a failing paint handler, say) would open box upon
  // box; the open box counts it instead.
  if (showing) {
    crash_detail::NoteFurtherError();
    return;
  }
  ShowingScope scope;
  if constexpr (edition::kFull) {
    ShowCrashReporter(message, static_cast<const EXCEPTION_POINTERS*>(exception_pointers),
                      reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  } else {
    MessageBoxW(GetActiveWindow(), message.c_str(), crash_detail::kCaption, MB_OK | MB_ICONERROR);
  }
}

namespace crash_detail {

void ReportStructuredError(const EXCEPTION_POINTERS& pointers) {
  const EXCEPTION_RECORD& record = *pointers.ExceptionRecord;
  crash::StructuredError error;
  error.code = record.ExceptionCode;
  error.address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  error.pointer_bits = sizeof(void*) * 8;
  for (DWORD i = 0; i < record.NumberParameters && i < EXCEPTION_MAXIMUM_PARAMETERS; ++i) {
    error.information.push_back(record.ExceptionInformation[i]);
  }
  HMODULE module = nullptr;
  wchar_t path[MAX_PATH] = {};
  if (GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(record.ExceptionAddress), &module) &&
      GetModuleFileNameW(module, path, MAX_PATH) != 0) {
    const std::wstring_view full(path);
    error.module = std::wstring(full.substr(full.find_last_of(L"\\/") + 1));
  }
  HandleUncaughtError(crash::StructuredErrorText(error), &pointers);
}

}  // namespace crash_detail
}  // namespace vol
