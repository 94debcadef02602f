// A small base for the program's top-level windows. The window procedure finds its
// object through GWLP_USERDATA (stored at WM_NCCREATE) and runs the derived class's
// HandleMessage through GuardedCall, so no exception crosses the system's frames.
//
// Derived provides:
//   LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
//   void OnNcDestroy();   // optional: the handle is already gone; may delete this
#pragma once

#include <windows.h>

#include "crash/guard_win.h"

namespace vol {

template <typename Derived>
class WindowBase {
 public:
  WindowBase() = default;
  WindowBase(const WindowBase&) = delete;
  WindowBase& operator=(const WindowBase&) = delete;

  HWND hwnd() const { return hwnd_; }

  // The object behind a window of this process and of Derived's class; null for any
  // other window, and once the window is gone.
  static Derived* FromHandle(HWND window) {
    DWORD process = 0;
    if (window == nullptr || !GetWindowThreadProcessId(window, &process) ||
        process != GetCurrentProcessId()) {
      return nullptr;
    }
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (lstrcmpW(name, Derived::kClassName) != 0) return nullptr;
    return reinterpret_cast<Derived*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }

 protected:
  ~WindowBase() = default;

  // Registers the window class on first use; later calls find it registered.
  static bool RegisterWindowClass(WNDCLASSEXW window_class) {
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &WindowBase::WindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    if (GetClassInfoExW(window_class.hInstance, window_class.lpszClassName, &existing)) return true;
    return RegisterClassExW(&window_class) != 0;
  }

  HWND CreateFor(DWORD ex_style, const wchar_t* class_name, const wchar_t* caption, DWORD style,
                 const RECT& bounds, HWND owner) {
    return CreateWindowExW(ex_style, class_name, caption, style, bounds.left, bounds.top,
                           bounds.right - bounds.left, bounds.bottom - bounds.top, owner, nullptr,
                           GetModuleHandleW(nullptr), static_cast<Derived*>(this));
  }

  LRESULT DefaultHandling(UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcW(hwnd_, message, wparam, lparam);
  }

  void OnNcDestroy() {}

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    Derived* self = nullptr;
    if (message == WM_NCCREATE) {
      self = static_cast<Derived*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
      self = reinterpret_cast<Derived*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);

    if (message == WM_NCDESTROY) {
      // The object may delete itself here, so it is detached from the handle first.
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      self->hwnd_ = nullptr;
      const LRESULT result = DefWindowProcW(hwnd, message, wparam, lparam);
      GuardedCall([self] { self->OnNcDestroy(); });
      return result;
    }
    LRESULT result = 0;
    GuardedCall([&] { result = self->HandleMessage(message, wparam, lparam); });
    return result;
  }

  HWND hwnd_ = nullptr;
};

}  // namespace vol
