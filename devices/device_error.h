// The program's general error type: what the raising device queries throw, and
// what mount_vol and unmount_vol catch. Its message is the routine's name, a colon
// and the system's text, with nothing between them.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/text.h"

namespace vol {

// The message travels as UTF-8 in what(), the one form every exception's message has,
// and reads back unchanged.
class DeviceError : public std::runtime_error {
 public:
  explicit DeviceError(const std::wstring& message) : std::runtime_error(Utf8FromWide(message)) {}
  std::wstring message() const { return ErrorText(*this); }
};

}  // namespace vol
