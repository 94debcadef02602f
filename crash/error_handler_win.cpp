// The application-level handler of uncaught errors, and the thread that shows them.
//
// Every error that no handler of the program catches ends here: from a guard around a
// window procedure, the message loop or the start-up (HandleUncaughtError), from the
// process-wide last-chance filter (a structured exception on any thread), or from the
// terminate handler (a C++ exception that nothing caught, on any thread).
//
// The box is shown by a reporter thread made ready at start-up, never on the thread of
// the error: that thread's stack may be exhausted (a stack overflow) or damaged (a wild
// write), and the box, the stack walk and dbghelp need room and sound frames. The thread
// of the error hands over its registers and waits. The window thread dispatches its
// messages meanwhile: its windows keep painting, and the box, owned by one of them,
// needs them to answer.
#include <windows.h>

#include <atomic>
#include <exception>
#include <string>
#include <vector>

#include "crash/bug_report.h"
#include "crash/crash_win.h"
#include "crash/guard_win.h"
#include "platform/edition.h"
#include "platform/handles_win.h"
#include "platform/text.h"
#include "platform/win32_platform.h"

namespace vol {
namespace {

// What the thread of the error does once it was reported.
enum class Outcome { kGoOn, kEndProgram };

struct Request {
  std::wstring message;                      // a C++ error's; a structured one is worded
  const EXCEPTION_RECORD* record = nullptr;  // by the reporter from its record
  crash_detail::FaultingThread thread;
  Outcome outcome = Outcome::kGoOn;
};

std::atomic<bool> showing{false};       // an error's box or dialog is open
std::atomic<bool> closing{false};       // "close application" is tearing the windows down
std::atomic<bool> loop_running{false};  // the window thread's message loop has begun
std::atomic<DWORD> window_thread{0};
std::atomic<DWORD> reporter_thread{0};
// Made at start-up, they live as long as the process.
HANDLE request_ready = nullptr;
HANDLE request_answered = nullptr;
Request* pending = nullptr;  // one at a time: only the error that opens the box asks

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

std::wstring StructuredMessage(const EXCEPTION_RECORD& record) {
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
  return crash::StructuredErrorText(error);
}

// The box's owner: the active window of the window thread, whichever thread failed.
HWND BoxOwner() {
  const DWORD thread = window_thread;
  if (thread == 0 || thread == GetCurrentThreadId()) return GetActiveWindow();
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread, &info) ? info.hwndActive : nullptr;
}

Outcome Show(const Request& request) {
  const std::wstring message =
      request.record != nullptr ? StructuredMessage(*request.record) : request.message;
  const HWND owner = BoxOwner();
  if constexpr (!edition::kFull) {
    MessageBoxW(owner, message.c_str(), crash_detail::kCaption, MB_OK | MB_ICONERROR);
    return Outcome::kGoOn;
  }
  const std::wstring report =
      crash::FormatBugReport(crash_detail::GatherBugReport(message, request.thread));
  const crash_detail::BoxChoice choice = crash_detail::ShowExceptionBox(owner, message, report);
  if (choice == crash_detail::BoxChoice::kClose) return Outcome::kEndProgram;
  if (choice == crash_detail::BoxChoice::kRestart) {
    DWORD error = 0;
    if (StartAgain(error)) return Outcome::kEndProgram;
    const std::wstring text = L"The application could not be started again (error " +
                              std::to_wstring(error) + L"); it goes on running.";
    MessageBoxW(owner, text.c_str(), crash_detail::kCaption, MB_OK | MB_ICONWARNING);
  }
  return Outcome::kGoOn;
}

DWORD WINAPI ReporterMain(void*) {
  for (;;) {
    WaitForSingleObject(request_ready, INFINITE);
    Request& request = *pending;
    // A failure of the reporter itself is only counted: the thread that waits gets
    // its answer all the same.
    GuardedCall([&] { request.outcome = Show(request); });
    SetEvent(request_answered);
  }
}

void DispatchGuarded(MSG& message) {
  GuardedCall([&] {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  });
}

void AwaitAnswer() {
  if (GetCurrentThreadId() != window_thread) {
    WaitForSingleObject(request_answered, INFINITE);
    return;
  }
  bool quit = false;
  WPARAM quit_code = 0;
  while (MsgWaitForMultipleObjects(1, &request_answered, FALSE, INFINITE, QS_ALLINPUT) ==
         WAIT_OBJECT_0 + 1) {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quit_code = message.wParam;
      } else {
        DispatchGuarded(message);
      }
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quit_code));
}

// floor: for a C++ error, the stack address below which the frames are the handling's.
Outcome Report(const std::wstring& message, const EXCEPTION_POINTERS* pointers, uintptr_t floor) {
  if (closing) return Outcome::kGoOn;
  // An error while the box is open (a failing paint handler, another thread) would open
  // box upon box; the open box counts it instead.
  if (showing.exchange(true)) {
    crash_detail::NoteFurtherError();
    return Outcome::kGoOn;
  }
  Request request;
  request.message = message;
  request.thread.id = GetCurrentThreadId();
  if (pointers != nullptr) {
    request.record = pointers->ExceptionRecord;
    request.thread.context = *pointers->ContextRecord;
  } else {
    RtlCaptureContext(&request.thread.context);
    request.thread.floor = floor;
  }
  if (reporter_thread != 0 && reporter_thread != GetCurrentThreadId()) {
    pending = &request;
    SetEvent(request_ready);
    AwaitAnswer();
    pending = nullptr;
  } else {
    // No reporter (it could not be started, or it failed itself): shown right here.
    request.outcome = Show(request);
  }
  showing = false;
  return request.outcome;
}

// After an error that no guard caught, the failed code cannot be resumed: the window
// thread serves its windows from a new message loop, any other thread ends.
[[noreturn]] void GoOnAfterUnguardedError(Outcome outcome) {
  if (outcome == Outcome::kEndProgram) CloseApplication();
  if (GetCurrentThreadId() == window_thread) {
    ExitProcess(loop_running ? static_cast<UINT>(RunMessageLoop()) : 1);
  }
  ExitThread(1);
}

LONG WINAPI LastChanceFilter(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  const bool continuable = (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0;
  // A C++ exception that nothing catches (x86-64): the throw returns and ends in
  // std::terminate, whose handler reports it with its message.
  if (crash_detail::IsCxxException(record.ExceptionCode) && continuable) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (!crash_detail::IsFailure(record.ExceptionCode) && continuable) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  // The reporter cannot report its own end.
  if (GetCurrentThreadId() == reporter_thread) return EXCEPTION_EXECUTE_HANDLER;
  GoOnAfterUnguardedError(Report(L"", pointers, 0));
}

[[noreturn]] void OnTerminate() {
  if (GetCurrentThreadId() == reporter_thread) ExitProcess(3);
  std::wstring message = L"Unknown error";
  if (const std::exception_ptr error = std::current_exception()) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& caught) {
      const std::wstring text = ErrorText(caught);
      if (!text.empty()) message = text;
    } catch (...) {
    }
  }
  GoOnAfterUnguardedError(
      Report(message, nullptr, reinterpret_cast<uintptr_t>(__builtin_frame_address(0))));
}

}  // namespace

void HandleUncaughtError(const std::wstring& message, const void* exception_pointers) {
  const Outcome outcome =
      Report(message, static_cast<const EXCEPTION_POINTERS*>(exception_pointers),
             reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  if (outcome == Outcome::kEndProgram) CloseApplication();
}

void InstallUncaughtErrorHandlers() {
  window_thread = GetCurrentThreadId();
  SetUnhandledExceptionFilter(&LastChanceFilter);
  std::set_terminate(&OnTerminate);
  request_ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  request_answered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (request_ready == nullptr || request_answered == nullptr) return;
  DWORD id = 0;
  const UniqueKernelHandle thread(CreateThread(nullptr, 0, &ReporterMain, nullptr, 0, &id));
  // Without it, errors are shown on their own thread.
  if (thread) reporter_thread = id;
}

int RunMessageLoop() {
  loop_running = true;
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    DispatchGuarded(message);
  }
}

namespace crash_detail {

void ReportStructuredError(const EXCEPTION_POINTERS& pointers) {
  HandleUncaughtError(L"", &pointers);
}

}  // namespace crash_detail
}  // namespace vol
