// Move-only ownership of one handle of any kind: a device handle or volume search of
// the platform, a kernel object, a module, a font, a menu, a block of memory.
//
//   UniqueAny<T, Closer, Invalid>
//     T        the handle's type
//     Closer   what frees it: a function object, which may hold what it needs (the
//              Platform, the window a device context belongs to)
//     Invalid  the "no handle" value, part of the type: nullptr, or a number such as
//              -1 for INVALID_HANDLE_VALUE (a pointer type gets it converted)
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "platform/platform.h"

namespace vol {

template <typename T, typename Closer, auto Invalid = nullptr>
class UniqueAny {
 public:
  static T none() {
    if constexpr (std::is_pointer_v<T> && std::is_integral_v<decltype(Invalid)>) {
      return reinterpret_cast<T>(static_cast<std::intptr_t>(Invalid));
    } else {
      return static_cast<T>(Invalid);
    }
  }

  UniqueAny() = default;
  explicit UniqueAny(T handle, Closer closer = {}) : handle_(handle), closer_(closer) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : handle_(other.release()), closer_(other.closer_) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) {
      reset(other.release());
      closer_ = other.closer_;
    }
    return *this;
  }
  ~UniqueAny() { reset(); }

  T get() const { return handle_; }
  explicit operator bool() const { return handle_ != none(); }
  T release() { return std::exchange(handle_, none()); }
  // Frees the handle held, if any, and holds handle instead.
  void reset(T handle = none()) {
    if (T old = std::exchange(handle_, handle); old != none()) closer_(old);
  }

 private:
  T handle_ = none();
  [[no_unique_address]] Closer closer_{};
};

// A closer that is one function of the system, such as CloseHandle or DeleteObject.
template <auto Close>
struct CloseWith {
  template <typename T>
  void operator()(T handle) const {
    Close(handle);
  }
};

// A closer that is a method of the platform.
template <auto Close>
struct PlatformCloser {
  Platform* platform = nullptr;
  template <typename T>
  void operator()(T handle) const {
    (platform->*Close)(handle);
  }
};

// The platform's handles: opened devices, volume searches and loaded modules.
using DeviceHandle = UniqueAny<Handle, PlatformCloser<&Platform::CloseHandle>, kInvalidHandle>;
using VolumeSearch = UniqueAny<Handle, PlatformCloser<&Platform::FindVolumeClose>, kInvalidHandle>;
using PlatformModule = UniqueAny<Module, PlatformCloser<&Platform::FreeLibrary>, Module{0}>;

}  // namespace vol
