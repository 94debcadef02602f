// Move-only ownership of the window system's handles (GDI objects, menus, windows).
#pragma once

#include <windows.h>

#include <utility>

namespace vol {

// Owns one handle whose "none" value is nullptr and frees it with Close.
template <typename T, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  T get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  T release() { return std::exchange(handle_, nullptr); }
  void reset(T handle = nullptr) {
    if (T old = std::exchange(handle_, handle)) Close(old);
  }

 private:
  T handle_ = nullptr;
};

using UniqueFont = UniqueHandle<HFONT, &DeleteObject>;
using UniqueMenu = UniqueHandle<HMENU, &DestroyMenu>;
using UniqueIcon = UniqueHandle<HICON, &DestroyIcon>;

}  // namespace vol
