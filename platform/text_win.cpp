// The ANSI code page conversions of the text module.
#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace vol {

bool AnsiFromWide(std::wstring_view text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const int count = static_cast<int>(text.size());
  const int needed =
      ::WideCharToMultiByte(CP_ACP, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
  if (needed == 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  return ::WideCharToMultiByte(CP_ACP, 0, text.data(), count, out.data(), needed, nullptr,
                               nullptr) == needed;
}

bool WideFromAnsi(std::string_view text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const int count = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
  if (needed == 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  return ::MultiByteToWideChar(CP_ACP, 0, text.data(), count, out.data(), needed) == needed;
}

std::string AnsiFromWide(std::wstring_view text) {
  std::string ansi;
  if (!AnsiFromWide(text, ansi)) ansi.clear();
  return ansi;
}

std::wstring WideFromAnsi(std::string_view text) {
  std::wstring wide;
  if (!WideFromAnsi(text, wide)) wide.clear();
  return wide;
}

uint32_t WideFromAnsiInto(const char* text, uint32_t length, wchar_t* buffer, uint32_t capacity) {
  if (length == 0) return 0;
  return static_cast<uint32_t>(::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length),
                                                     buffer, static_cast<int>(capacity)));
}

}  // namespace vol
