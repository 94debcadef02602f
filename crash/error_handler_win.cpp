#include <windows.h>

#include "app/error_handler.h"
#include "crash/bug_report.h"
#include "crash/crash_win.h"

namespace vol {

void HandleUncaughtError(const std::wstring& message, const void* /*exception_pointers*/) {
  MessageBoxW(GetActiveWindow(), message.c_str(), L"volumes", MB_OK | MB_ICONERROR);
}

namespace crash_detail {

void ReportStructuredError(const EXCEPTION_POINTERS& pointers) {
  const EXCEPTION_RECORD& record = *pointers.ExceptionRecord;
  crash::StructuredError error;
  error.code = record.ExceptionCode;
  error.address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  error.pointer_bits = sizeof(void*) * 8;
  for (DWORD i = 0; i < record.NumberParameters && i < EXCEPTION_MAXIMUM_PARAMETERS; ++i) {
    error.information.push_back(record.ExceptionInformation[i]);
  }
  HandleUncaughtError(crash::StructuredErrorText(error), &pointers);
}

}  // namespace crash_detail
}  // namespace vol
