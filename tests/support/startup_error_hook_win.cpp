// The start-up hook of the test build volumes_startup_error.exe: the start-up fails the
// way the environment variable VOLUMES_STARTUP_ERROR says, so that tests see an error
// before the main window exists reach the reporter. "throw": a C++ exception on the
// window thread; "fault": a write through a null pointer there; "thread": a C++
// exception that nothing catches, on a thread of its own (the start-up goes on);
// "heap": a fault while holding the process heap's lock; "dllmain": a fault in guarded
// code of the program that the DllMain of planted_marker.dll calls (it reads the same
// variable), with the loader's lock held (Wine's loader itself catches a fault in a
// DllMain's own frames); "wait": a fault on a thread of its own while the window thread,
// with an active window, waits for it.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "crash/guard_win.h"

namespace {

volatile int* volatile null_pointer = nullptr;

DWORD WINAPI ThrowOnThread(void*) { throw std::runtime_error("start-up test error on a thread"); }

DWORD WINAPI FaultOnThread(void*) {
  *null_pointer = 1;
  return 0;
}

}  // namespace

extern "C" __declspec(dllexport) void VolumesFaultGuardedForTests() {
  vol::GuardedCall([] { *null_pointer = 1; });
}

void RaiseStartupErrorForTests() {
  wchar_t kind[16] = {};
  const DWORD length = GetEnvironmentVariableW(L"VOLUMES_STARTUP_ERROR", kind, 16);
  const std::wstring what(kind, length < 16 ? length : 0);
  if (what == L"throw") throw std::runtime_error("start-up test error");
  if (what == L"fault") *null_pointer = 1;
  if (what == L"heap" && HeapLock(GetProcessHeap())) *null_pointer = 1;
  if (what == L"dllmain") {
    wchar_t path[MAX_PATH] = {};
    const DWORD end = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path, end);
    LoadLibraryW((dll.substr(0, dll.find_last_of(L'\\') + 1) + L"planted_marker.dll").c_str());
  }
  if (what == L"thread" || what == L"wait") {
    if (what == L"wait") {
      CreateWindowExW(0, L"STATIC", L"waiting", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                      nullptr, nullptr, nullptr, nullptr);
    }
    const HANDLE thread = CreateThread(
        nullptr, 0, what == L"wait" ? &FaultOnThread : &ThrowOnThread, nullptr, 0, nullptr);
    if (thread != nullptr && what == L"wait") WaitForSingleObject(thread, INFINITE);
    if (thread != nullptr) CloseHandle(thread);
  }
}
