// How the rest of the program reaches the crash handling: the one place where an error
// that escaped every handler is caught. Window procedures run their work through
// GuardedCall, which hands anything thrown, and any structured
// exception (access violations, divisions by zero, ...), to HandleUncaughtError and
// returns to the caller. Exceptions must not unwind through the system's frames between
// DispatchMessage and a window procedure, so every window procedure calls through here.
// What no guard sees, on any thread, reaches the same handler through the process-wide
// handlers that InstallUncaughtErrorHandlers sets.
//
// MinGW GCC has no __try/__except, so the structured guard registers a frame-based
// exception handler of its own: it sees exactly the exceptions that nothing inside the
// guarded call handled, lets HandleUncaughtError report them while the faulting stack
// still stands, and then returns to the guard with false. C++ exceptions pass through
// it unchanged, to GuardedCall's catch.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "platform/text.h"

namespace vol {

// The application-level handler of errors that no handler of the program caught: the
// full edition shows the crash reporter, the reduced edition a plain message dialog.
// Both return to the caller unless the user chose to end the program.
// exception_pointers: the EXCEPTION_POINTERS of a structured exception, or null for a
// C++ exception.
void HandleUncaughtError(const std::wstring& message, const void* exception_pointers);

// Sets the process-wide handlers of errors that no guard catches (a last-chance filter
// for structured exceptions, a terminate handler for C++ exceptions) and starts the
// thread that reports every error. The calling thread is the window thread: an error
// there lets the program go on after "continue application"; an error on any other
// thread stops that thread for good instead.
void InstallUncaughtErrorHandlers();

// The window thread's message loop (the program entry's), which the thread runs again
// after an error that no guard caught, to serve its windows from there; set as the
// loop begins. Errors inside it are the window procedures' to catch: each guards its own.
using MessageLoop = int (*)();
void SetMessageLoop(MessageLoop loop);

namespace crash_detail {
bool RunCatchingStructured(void (*call)(void* target), void* target);
bool RunIgnoringStructured(void (*call)(void* target), void* target);
}  // namespace crash_detail

// Runs fn; false when a structured exception ended it (already reported).
template <typename Fn>
bool CatchStructuredErrors(Fn&& fn) {
  auto* target = std::addressof(fn);
  return crash_detail::RunCatchingStructured(
      [](void* pointer) { (**static_cast<decltype(target)*>(pointer))(); }, &target);
}

// Runs fn; false when a structured exception ended it, which nobody hears of. For code
// that must survive reading memory it cannot vouch for, such as the crash report.
template <typename Fn>
bool IgnoreStructuredErrors(Fn&& fn) {
  auto* target = std::addressof(fn);
  return crash_detail::RunIgnoringStructured(
      [](void* pointer) { (**static_cast<decltype(target)*>(pointer))(); }, &target);
}

// Runs fn; true when it returned normally, false when it threw or faulted (already
// reported).
template <typename Fn>
bool GuardedCall(Fn&& fn) noexcept {
  try {
    return CatchStructuredErrors(std::forward<Fn>(fn));
  } catch (const std::exception& error) {
    const std::wstring text = ErrorText(error);
    HandleUncaughtError(text.empty() ? L"Unknown error" : text, nullptr);
  } catch (...) {
    HandleUncaughtError(L"Unknown error", nullptr);
  }
  return false;
}

}  // namespace vol
