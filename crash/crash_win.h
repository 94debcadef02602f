// What the parts of the crash reporter share among themselves.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/edition.h"

namespace vol::crash_detail {

// The caption of the reporter's boxes: the program's name, as the toolkit's own
// message dialogs show it.
inline constexpr const wchar_t* kCaption = edition::kProgramName;

// GCC's own C++ exceptions travel as structured exceptions on x86-64; catch clauses,
// or std::terminate, take them.
inline bool IsCxxException(DWORD code) {
  return code == 0x20474343 || code == 0x21474343 || code == 0x22474343;
}

// Informational and success codes (debug output, thread names) are not failures.
inline bool IsFailure(DWORD code) { return (code >> 30) >= 2; }

// Reports a structured exception that no handler inside a guarded call took; runs in
// the faulting thread, outside the exception dispatcher, with the faulting stack intact.
void ReportStructuredError(const EXCEPTION_POINTERS& pointers);

// The thread of an error and its registers at the error, which stay where the error
// left them while it waits; its frames whose stack lies below floor are the error
// handling's own and stay out of the report.
struct FaultingThread {
  DWORD id = 0;
  const CONTEXT* context = nullptr;
  uint64_t floor = 0;
};

// Sets the process-wide handlers again: a DLL that the reporter's work loaded (the
// user's mail client) may have put its own in their place.
void ReinstallUncaughtErrorHandlers();

}  // namespace vol::crash_detail
