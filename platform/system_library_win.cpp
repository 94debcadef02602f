#include "platform/system_library_win.h"

#include <string>

namespace vol {

void LeaveCurrentDirectoryOutOfDllSearch() {
  // Not SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): that would restrict every
  // load of the process, and the system's mail interface loads the user's mail client,
  // which may need DLLs from its own folder. The program's own loads name the system
  // folder themselves (LoadSystemLibrary).
  ::SetDllDirectoryW(L"");
}

UniqueLibrary LoadSystemLibrary(const wchar_t* file_name) {
  // LOAD_LIBRARY_SEARCH_SYSTEM32 came with KB2533623; without it (Windows 7 as
  // shipped) LoadLibraryExW refuses the flag, and AddDllDirectory, which came with it,
  // is missing. There the full path stands in for the flag.
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel32 != nullptr && ::GetProcAddress(kernel32, "AddDllDirectory") != nullptr) {
    return UniqueLibrary(::LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  }
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return UniqueLibrary();
  const std::wstring path = std::wstring(folder, length) + L"\\" + file_name;
  return UniqueLibrary(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace vol
