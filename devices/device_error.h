// The program's general error type: what the raising device queries throw, and
// what mount_vol and unmount_vol catch. Its message is the routine's name, a colon
// and the system's text, with nothing between them.
#pragma once

#include <stdexcept>
#include <string>

namespace vol {

class DeviceError : public std::runtime_error {
 public:
  explicit DeviceError(const std::wstring& message);
  const std::wstring& message() const { return message_; }

 private:
  std::wstring message_;
};

}  // namespace vol
