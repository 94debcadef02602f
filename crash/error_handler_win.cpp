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
// of the error hands over pointers to its registers and waits; the window thread
// dispatches its messages meanwhile, where its stack allows.
//
// The thread of the error may hold any lock of the process (the heap's, the loader's),
// so its wait is bounded: when no box came up within a few seconds, or the reporter is
// gone, the error goes to the system's own handling and the process ends. The reporter
// makes its box before the first error and only shows it then; it gathers the report
// only when the user asks for it, with the box already up. Where going on would resume
// into a lock that system code holds, the box offers no "continue application".
#include <windows.h>
// windows.h first: psapi.h needs its types.
#include <psapi.h>

#include <atomic>
#include <exception>
#include <string>
#include <vector>

#include "crash/crash_win.h"
#include "crash/error_text.h"
#include "crash/guard_win.h"
#include "platform/edition.h"
#include "platform/handles_win.h"
#include "platform/text.h"
#include "platform/win32_platform.h"

// The linker's name for the start of the program's own image.
extern "C" const IMAGE_DOS_HEADER __ImageBase;

namespace vol {
namespace {

using crash_detail::BoxChoice;
using crash_detail::BoxError;
using crash_detail::PrepareBox;
using crash_detail::PrepareReport;
using crash_detail::ShowBox;
constexpr std::wstring_view kHeadline = L"An error occurred in the application.";

// How long the thread of an error waits for the box before it hands the error on.
constexpr DWORD kBoxPatienceMs = 10000;
// How long the window thread has to answer before the box goes without an owner.
constexpr UINT kOwnerPatienceMs = 1000;
// Stack kept back on the program's own threads for the handling of a stack overflow.
constexpr ULONG kStackGuarantee = 32 * 1024;

// What the thread of the error does once it was reported.
enum class Outcome { kGoOn, kEndProgram, kToSystem };

// One error on its way to the box: pointers only, as the thread of the error may have
// hardly any stack left.
struct Request {
  const std::wstring* message = nullptr;     // a C++ error's; a structured one is worded
  const EXCEPTION_RECORD* record = nullptr;  // by the reporter from its record
  crash_detail::FaultingThread thread;
  Outcome outcome = Outcome::kGoOn;
};

// The handler's whole state, made at start-up; it lives as long as the process.
struct HandlerState {
  std::atomic<bool> showing{false};          // an error's box or dialog is open
  std::atomic<bool> closing{false};          // "close application" is tearing the windows down
  std::atomic<MessageLoop> loop{nullptr};    // the window thread's, once it has begun
  std::atomic<bool> reporter_failed{false};  // the reporter's own code failed on this error
  std::atomic<bool> loop_in_filter{false};   // the window thread serves from inside a filter
  std::atomic<DWORD> window_thread{0};
  std::atomic<DWORD> reporter_thread{0};
  UniqueKernelHandle reporter;  // the reporter's thread, signalled should it end
  UniqueKernelHandle request_ready, box_up, request_answered;
  UniqueKernelHandle prepared;  // manual reset: set once the reporter's windows are made
  UniqueKernelHandle idle;      // manual reset: set while no error is shown
  Request* pending = nullptr;   // one at a time: only the error that opens the box asks
  CONTEXT captured{};           // the registers of a C++ error, for the same reason
};
HandlerState state;

bool IsWindowThread() { return GetCurrentThreadId() == state.window_thread; }

// Holds the showing flag for the error that opened the box, whichever way it ends.
class ShowingScope {
 public:
  ShowingScope() { ResetEvent(state.idle.get()); }
  ~ShowingScope() {
    state.showing = false;
    SetEvent(state.idle.get());
  }
  ShowingScope(const ShowingScope&) = delete;
  ShowingScope& operator=(const ShowingScope&) = delete;
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

// tidy: the thread's windows are destroyed first, which needs stack to run their
// handlers.
[[noreturn]] void CloseApplication(bool tidy = true) {
  state.closing = true;
  std::vector<HWND> windows;
  if (tidy) {
    EnumThreadWindows(GetCurrentThreadId(), &CollectWindow, reinterpret_cast<LPARAM>(&windows));
  }
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

// The error as it happened goes to the system's own handling (Windows Error Reporting),
// which ends the process.
[[noreturn]] void HandToTheSystem(const EXCEPTION_POINTERS* pointers) {
  RaiseFailFastException(pointers != nullptr ? pointers->ExceptionRecord : nullptr,
                         pointers != nullptr ? pointers->ContextRecord : nullptr, 0);
  TerminateProcess(GetCurrentProcess(), 3);
  for (;;) Sleep(INFINITE);
}

// A thread whose code failed never runs it again, and does not end either: its locks
// would stay held by a thread that is gone, and its detach callbacks would run on the
// stack it has left. It waits for good; the process ends without it.
[[noreturn]] void Park() {
  for (;;) Sleep(INFINITE);
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

// The file name of the module that holds address, found without the loader's lock,
// which the thread of the error may hold.
std::wstring ModuleFileName(const void* address) {
  MEMORY_BASIC_INFORMATION region{};
  wchar_t path[MAX_PATH] = {};
  if (VirtualQuery(address, &region, sizeof region) == 0 || region.Type != MEM_IMAGE ||
      GetMappedFileNameW(GetCurrentProcess(), region.AllocationBase, path, MAX_PATH) == 0) {
    return {};
  }
  const std::wstring_view full(path);
  return std::wstring(full.substr(full.find_last_of(L"\\/") + 1));
}

std::wstring MessageOf(const Request& request) {
  if (request.record == nullptr) return *request.message;
  const EXCEPTION_RECORD& record = *request.record;
  crash::StructuredError error;
  error.code = record.ExceptionCode;
  error.address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  error.pointer_bits = sizeof(void*) * 8;
  for (DWORD i = 0; i < record.NumberParameters && i < EXCEPTION_MAXIMUM_PARAMETERS; ++i) {
    error.information.push_back(record.ExceptionInformation[i]);
  }
  error.module = ModuleFileName(record.ExceptionAddress);
  return crash::StructuredErrorText(error);
}

BOOL CALLBACK FirstShownWindow(HWND window, LPARAM found) {
  if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The box's owner: the active window of the window thread (or, while none is active, its
// first window on the screen), if that thread answers. A box with an owner disables it,
// which waits for the owner's thread: one that is stuck, or waits for the failed thread
// itself, would hold the box up for good.
HWND BoxOwner() {
  const DWORD thread = state.window_thread;
  if (thread == 0 || thread == GetCurrentThreadId()) return GetActiveWindow();
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(thread, &info)) return nullptr;
  HWND owner = info.hwndActive;
  if (owner == nullptr)
    EnumThreadWindows(thread, &FirstShownWindow, reinterpret_cast<LPARAM>(&owner));
  DWORD_PTR ignored = 0;
  if (owner == nullptr || !SendMessageTimeoutW(owner, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                               kOwnerPatienceMs, &ignored)) {
    return nullptr;
  }
  return owner;
}

// The thread that holds the loader's lock, read from the process's own block (the PEB's
// LoaderLock, at the same place in every Windows); 0 when nobody holds it.
DWORD LoaderLockOwner() {
  const BYTE* peb = nullptr;  // the thread block's pointer to it
#if defined(__x86_64__)
  asm("movq %%gs:0x60, %0" : "=r"(peb));
  constexpr std::size_t kLoaderLockOffset = 0x110;
#else
  asm("movl %%fs:0x30, %0" : "=r"(peb));
  constexpr std::size_t kLoaderLockOffset = 0xA0;
#endif
  const auto* lock = *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + kLoaderLockOffset);
  return lock == nullptr ? 0 : static_cast<DWORD>(reinterpret_cast<uintptr_t>(lock->OwningThread));
}

// Going on never resumes into system code: an error inside a system DLL (an image that
// is not the program's) may have left one of the system's locks held, and so does a
// thread that holds the loader's. An address in no image at all (a jump to nowhere)
// runs no system code.
bool CanGoOn(const Request& request) {
  if (request.thread.id == LoaderLockOwner()) return false;
  if (request.record == nullptr) return true;  // a C++ error, thrown by the program
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(request.record->ExceptionAddress, &region, sizeof region) == 0) return true;
  return region.Type != MEM_IMAGE || region.AllocationBase == &__ImageBase;
}

// Whether the loader's lock is free, or becomes so within patience: a thread stopped
// while it held the lock holds it for good, and starting a program would wait for ever.
bool LoaderLockFree(DWORD patience_ms) {
  for (const ULONGLONG deadline = GetTickCount64() + patience_ms;; Sleep(50)) {
    const DWORD owner = LoaderLockOwner();
    if (owner == 0 || owner == GetCurrentThreadId()) return true;
    if (GetTickCount64() >= deadline) return false;
  }
}

Outcome Show(BoxError& error) {
  const HWND owner = BoxOwner();
  const BoxChoice choice = ShowBox(owner, error, state.box_up.get());
  if (choice == BoxChoice::kFailed) state.reporter_failed = true;
  if (choice == BoxChoice::kClose) return Outcome::kEndProgram;
  if (choice == BoxChoice::kRestart) {
    DWORD error_code = 0;
    if (!LoaderLockFree(kBoxPatienceMs)) {
      MessageBoxW(owner,
                  L"The application cannot be started again: a stopped thread holds the "
                  L"system's loader. It goes on running; close it and start it by hand.",
                  crash_detail::kCaption, MB_OK | MB_ICONWARNING);
    } else if (StartAgain(error_code)) {
      return Outcome::kEndProgram;
    } else {
      const std::wstring text = L"The application could not be started again (error " +
                                std::to_wstring(error_code) + L"); it goes on running.";
      MessageBoxW(owner, text.c_str(), crash_detail::kCaption, MB_OK | MB_ICONWARNING);
    }
  }
  return Outcome::kGoOn;
}

// Shows the error, guarded like a window procedure; where the reporter itself fails,
// the error still reaches the user in a plain message box.
Outcome ShowGuarded(const Request& request) {
  BoxError error;
  GuardedCall([&] {
    error.message = MessageOf(request);
    error.text = edition::kFull ? std::wstring(kHeadline) + L"\r\n" + error.message : error.message;
    error.thread = request.thread;
    error.can_continue = CanGoOn(request);
  });
  state.reporter_failed = false;
  Outcome outcome = Outcome::kGoOn;
  if (GuardedCall([&] { outcome = Show(error); }) && !state.reporter_failed) {
    return outcome;
  }
  // The failed box goes first, so that closing the plain one hands the activation back.
  crash_detail::HideBox();
  SetEvent(state.box_up.get());
  const wchar_t* text = error.message.empty() ? L"Unknown error" : error.message.c_str();
  IgnoreStructuredErrors(
      [&] { MessageBoxW(nullptr, text, crash_detail::kCaption, MB_OK | MB_ICONERROR); });
  return Outcome::kGoOn;
}

void ReserveStackForErrors() {
  ULONG guarantee = kStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
}

void DispatchGuarded(MSG& message) {
  GuardedCall([&] {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  });
}

DWORD WINAPI ReporterMain(void*) {
  // Made before the first error, since after one the heap or the loader may be locked:
  // the thread's message queue, its thread-local data, the report's DLLs.
  ReserveStackForErrors();
  MSG message{};
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  IgnoreStructuredErrors([] {});
  GuardedCall([] {
    PrepareBox();
    if constexpr (edition::kFull) PrepareReport();
  });
  SetEvent(state.prepared.get());
  for (;;) {
    // Its hidden windows are top-level ones: served meanwhile, so that a message sent to
    // every window (a device announcement, the end of the session) does not wait on them.
    const HANDLE ready = state.request_ready.get();
    while (MsgWaitForMultipleObjects(1, &ready, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
      for (MSG waiting{}; PeekMessageW(&waiting, nullptr, 0, 0, PM_REMOVE);) {
        DispatchGuarded(waiting);
      }
    }
    Request& request = *state.pending;
    request.outcome = ShowGuarded(request);
    crash_detail::ReinstallUncaughtErrorHandlers();
    SetEvent(state.request_answered.get());
    crash_detail::HideBox();
  }
}

// Waits for one of events, dispatching the thread's messages meanwhile if serve; the
// index of the event, or WAIT_TIMEOUT or WAIT_FAILED. A WM_QUIT that came meanwhile is
// posted again for the loop it was meant for.
DWORD Await(const HANDLE* events, DWORD count, DWORD timeout, bool serve) {
  if (!serve) return WaitForMultipleObjects(count, events, FALSE, timeout);
  const ULONGLONG deadline = GetTickCount64() + timeout;
  bool quit = false;
  WPARAM quit_code = 0;
  DWORD woke = WAIT_TIMEOUT;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = timeout == INFINITE ? INFINITE : now >= deadline ? 0 : DWORD(deadline - now);
    woke = MsgWaitForMultipleObjects(count, events, FALSE, left, QS_ALLINPUT);
    if (woke != WAIT_OBJECT_0 + count) break;
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
  return woke;
}

// The reporter's answer; kToSystem when the box did not come up in time or the
// reporter is gone.
Outcome AwaitAnswer(const Request& request, bool serve) {
  const HANDLE events[] = {state.request_answered.get(), state.reporter.get(), state.box_up.get()};
  DWORD woke = Await(events, 3, kBoxPatienceMs, serve);
  if (woke == WAIT_OBJECT_0 + 2) woke = Await(events, 2, INFINITE, serve);
  return woke == WAIT_OBJECT_0 ? request.outcome : Outcome::kToSystem;
}

// exhausted: the error is a stack overflow on the stack this runs on.
// further: set when the error came while another one's box was open; it is counted.
// floor: for a C++ error, the stack address below which the frames are the handling's.
Outcome Report(const std::wstring* message, const EXCEPTION_POINTERS* pointers, uintptr_t floor,
               bool exhausted, bool& further) {
  further = false;
  if (state.closing) return Outcome::kGoOn;
  // The reporter's own failure: its guard shows the error it was reporting plainly.
  if (GetCurrentThreadId() == state.reporter_thread) {
    state.reporter_failed = true;
    return Outcome::kGoOn;
  }
  // An error while the box is open (a failing paint handler, another thread) would open
  // box upon box; the open box counts it instead.
  if (state.showing.exchange(true)) {
    further = true;
    return Outcome::kGoOn;
  }
  const ShowingScope showing;
  Request request;
  request.message = message;
  request.thread.id = GetCurrentThreadId();
  if (pointers != nullptr) {
    request.record = pointers->ExceptionRecord;
    request.thread.context = pointers->ContextRecord;
  } else {
    RtlCaptureContext(&state.captured);
    request.thread.context = &state.captured;
    request.thread.floor = floor;
  }
  if (state.reporter_thread == 0) return ShowGuarded(request);  // shown right here
  state.pending = &request;
  ResetEvent(state.box_up.get());
  SetEvent(state.request_ready.get());
  const Outcome outcome = AwaitAnswer(request, IsWindowThread() && !exhausted);
  // Given up on, the request stays the reporter's until the process ends.
  if (outcome != Outcome::kToSystem) state.pending = nullptr;
  return outcome;
}

// After an error that no guard caught, the failed code is never resumed: another
// thread is parked, the window thread serves its windows from a new message loop. Where
// the window thread's own stack is exhausted nothing can serve them, and the program
// ends as "close application" ends it.
[[noreturn]] void GoOnAfterUnguardedError(Outcome outcome, const EXCEPTION_POINTERS* pointers,
                                          bool exhausted, bool further) {
  if (outcome == Outcome::kToSystem) HandToTheSystem(pointers);
  if (outcome == Outcome::kEndProgram) CloseApplication(!exhausted);
  if (!IsWindowThread()) Park();
  // The open box may be owned by one of this thread's windows: they serve it until it
  // closes.
  if (further) {
    const HANDLE idle = state.idle.get();
    Await(&idle, 1, INFINITE, !exhausted);
  }
  // One loop at most: each would stand on the failed frames of the one before.
  const MessageLoop loop = state.loop;
  if (exhausted || loop == nullptr || state.loop_in_filter.exchange(true)) {
    CloseApplication(!exhausted);
  }
  ExitProcess(static_cast<UINT>(loop()));
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
  if (GetCurrentThreadId() == state.reporter_thread) return EXCEPTION_CONTINUE_SEARCH;
  const bool exhausted = record.ExceptionCode == EXCEPTION_STACK_OVERFLOW;
  bool further = false;
  const Outcome outcome = Report(nullptr, pointers, 0, exhausted, further);
  GoOnAfterUnguardedError(outcome, pointers, exhausted, further);
}

[[noreturn]] void OnTerminate() {
  if (GetCurrentThreadId() == state.reporter_thread) ExitProcess(3);
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
  bool further = false;
  const Outcome outcome = Report(
      &message, nullptr, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)), false, further);
  GoOnAfterUnguardedError(outcome, nullptr, false, further);
}

}  // namespace

void HandleUncaughtError(const std::wstring& message, const void* exception_pointers) {
  const auto* pointers = static_cast<const EXCEPTION_POINTERS*>(exception_pointers);
  bool further = false;
  const Outcome outcome =
      Report(pointers != nullptr ? nullptr : &message, pointers,
             reinterpret_cast<uintptr_t>(__builtin_frame_address(0)), false, further);
  if (outcome == Outcome::kToSystem) HandToTheSystem(pointers);
  if (outcome == Outcome::kEndProgram) CloseApplication();
}

void InstallUncaughtErrorHandlers() {
  state.window_thread = GetCurrentThreadId();
  ReserveStackForErrors();
  crash_detail::ReinstallUncaughtErrorHandlers();
  state.request_ready.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  state.box_up.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  state.request_answered.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  state.idle.reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  state.prepared.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state.request_ready || !state.box_up || !state.request_answered || !state.idle ||
      !state.prepared) {
    return;
  }
  DWORD id = 0;
  state.reporter.reset(CreateThread(nullptr, 0, &ReporterMain, nullptr, 0, &id));
  // Without it, errors are shown on their own thread.
  if (state.reporter) state.reporter_thread = id;
  // An error from here on may come while another thread holds the loader's lock, when
  // the box could no longer be made: the start-up goes on once it is.
  if (state.reporter) {
    const HANDLE ready[] = {state.prepared.get(), state.reporter.get()};
    WaitForMultipleObjects(2, ready, FALSE, kBoxPatienceMs);
  }
}

void SetMessageLoop(MessageLoop loop) { state.loop = loop; }

namespace crash_detail {

void ReportStructuredError(const EXCEPTION_POINTERS& pointers) {
  HandleUncaughtError(L"", &pointers);
}

void ReinstallUncaughtErrorHandlers() {
  SetUnhandledExceptionFilter(&LastChanceFilter);
  std::set_terminate(&OnTerminate);
}

}  // namespace crash_detail
}  // namespace vol
