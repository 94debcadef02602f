// Structured exceptions (access violations, divisions by zero, ...) inside the
// program's own code. MinGW GCC has no __try/__except, so the guard registers a
// frame-based exception handler of its own: it sees exactly the exceptions that
// nothing inside the guarded call handled, lets HandleUncaughtError report them while
// the faulting stack still stands, and then returns to the guard with false.
//
// C++ exceptions pass through unchanged: the caller's try/catch sees them.
#pragma once

#include <memory>

namespace vol {

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

}  // namespace vol
