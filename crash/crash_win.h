// What the parts of the crash reporter share among themselves.
#pragma once

#include <windows.h>

#include <string>

#include "crash/bug_report.h"
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

// The thread of an error and its registers at the error; its frames whose stack lies
// below floor are the error handling's own and stay out of the report.
struct FaultingThread {
  DWORD id = 0;
  CONTEXT context{};
  uint64_t floor = 0;
};

// The report on the process as it stands: the faulting thread first, then every other
// thread but the caller's.
crash::BugReport GatherBugReport(const std::wstring& error, const FaultingThread& faulting);

// Hands the report to the system's mail interface (Simple MAPI), or says why it cannot.
void SendBugReport(HWND owner, const std::wstring& report);

// What the user chose in the exception box.
enum class BoxChoice { kContinue = 1, kRestart, kClose };

// The full edition's exception box: the headline, the message and the five buttons.
// Modal to owner; "send bug report" and "show bug report" keep it open.
BoxChoice ShowExceptionBox(HWND owner, const std::wstring& message, const std::wstring& report);

// Tells the open exception box, from any thread, that one more error came in while it
// was shown; the count starts again with the next box.
void NoteFurtherError();

// The modal window with the report as read-only, selectable text.
void ShowBugReportWindow(HWND owner, const std::wstring& report);

}  // namespace vol::crash_detail
