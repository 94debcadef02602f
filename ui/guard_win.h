// The one place where an error that escaped every handler is caught: window
// procedures and the message loop run their work through GuardedCall, which hands
// anything thrown to the application-level handler and returns to the caller.
#pragma once

#include <windows.h>

#include <exception>
#include <string>
#include <utility>

#include "app/error_handler.h"
#include "crash/structured_guard_win.h"
#include "devices/device_error.h"

namespace vol {

// An exception's narrow text, read in the ANSI code page as the runtime wrote it.
inline std::wstring NarrowErrorText(const char* text) {
  if (text == nullptr || *text == '\0') return L"Unknown error";
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return L"Unknown error";
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

// Runs fn; true when it returned normally, false when it threw or faulted (already
// reported).
// Exceptions must not unwind through the system's frames between DispatchMessage and
// a window procedure, so every window procedure calls through here.
template <typename Fn>
bool GuardedCall(Fn&& fn) noexcept {
  try {
    return CatchStructuredErrors(std::forward<Fn>(fn));
  } catch (const DeviceError& error) {
    HandleUncaughtError(error.message(), nullptr);
  } catch (const std::exception& error) {
    HandleUncaughtError(NarrowErrorText(error.what()), nullptr);
  } catch (...) {
    HandleUncaughtError(L"Unknown error", nullptr);
  }
  return false;
}

}  // namespace vol
