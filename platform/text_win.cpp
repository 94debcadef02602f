// The ANSI code page conversions of the text module.
#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace vol {

namespace {

// One conversion in both directions: convert is called once for the size, once to write.
template <typename From, typename To, typename Convert>
bool ConvertText(From text, To& out, Convert convert) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const int count = static_cast<int>(text.size());
  const int needed = convert(text.data(), count, nullptr, 0);
  if (needed == 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  return convert(text.data(), count, out.data(), needed) == needed;
}

}  // namespace

bool AnsiFromWide(std::wstring_view text, std::string& out) {
  return ConvertText(text, out, [](const wchar_t* from, int count, char* to, int size) {
    return ::WideCharToMultiByte(CP_ACP, 0, from, count, to, size, nullptr, nullptr);
  });
}

bool WideFromAnsi(std::string_view text, std::wstring& out) {
  return ConvertText(text, out, [](const char* from, int count, wchar_t* to, int size) {
    return ::MultiByteToWideChar(CP_ACP, 0, from, count, to, size);
  });
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
