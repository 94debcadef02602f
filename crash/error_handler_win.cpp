#include <windows.h>

#include "app/error_handler.h"

namespace vol {

void HandleUncaughtError(const std::wstring& message, const void* /*exception_pointers*/) {
  MessageBoxW(GetActiveWindow(), message.c_str(), L"volumes", MB_OK | MB_ICONERROR);
}

}  // namespace vol
