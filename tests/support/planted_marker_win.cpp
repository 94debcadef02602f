// A DLL that tests plant beside a program under the name of a system DLL: loaded, it
// leaves a file "<its own path>.ran" behind, whatever name it was loaded by. Loaded by
// volumes_startup_error.exe told "dllmain", it calls that program's faulting code.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8] = {};
  if (GetEnvironmentVariableW(L"VOLUMES_STARTUP_ERROR", path, MAX_PATH) == 7 &&
      lstrcmpW(path, L"dllmain") == 0) {
    const auto fault = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(nullptr), "VolumesFaultGuardedForTests")));
    if (fault != nullptr) fault();
  }
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyW(path + length, L".ran");
  const HANDLE marker =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}
