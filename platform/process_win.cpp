#include "platform/process_win.h"

#include <windows.h>

namespace vol {

std::wstring ProcessExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) return {};
    if (length < size) {
      path.resize(length);
      return path;
    }
    if (size >= 32768) return {};  // longer than any path Windows can name
    path.resize(size * 2);
  }
}

}  // namespace vol
