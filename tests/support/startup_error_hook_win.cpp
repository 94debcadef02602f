// The start-up hook of the test build volumes_startup_error.exe: the start-up fails the
// way the environment variable VOLUMES_STARTUP_ERROR says, so that tests see an error
// before the main window exists reach the reporter. "throw": a C++ exception on the
// window thread; "fault": a write through a null pointer there; "thread": a C++
// exception that nothing catches, on a thread of its own (the start-up goes on).
#include <windows.h>

#include <stdexcept>
#include <string>

namespace {

volatile int* volatile null_pointer = nullptr;

DWORD WINAPI ThrowOnThread(void*) { throw std::runtime_error("start-up test error on a thread"); }

}  // namespace

void RaiseStartupErrorForTests() {
  wchar_t kind[16] = {};
  const DWORD length = GetEnvironmentVariableW(L"VOLUMES_STARTUP_ERROR", kind, 16);
  const std::wstring what(kind, length < 16 ? length : 0);
  if (what == L"throw") throw std::runtime_error("start-up test error");
  if (what == L"fault") *null_pointer = 1;
  if (what == L"thread") {
    const HANDLE thread = CreateThread(nullptr, 0, &ThrowOnThread, nullptr, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
  }
}
