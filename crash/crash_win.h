// What the parts of the crash reporter share among themselves.
#pragma once

#include <windows.h>

#include <string>

#include "crash/bug_report.h"

namespace vol::crash_detail {

// The caption of the reporter's boxes: the program's name, as the toolkit's own
// message dialogs show it.
inline constexpr wchar_t kCaption[] = L"volumes";

// Reports a structured exception that no handler inside a guarded call took; runs in
// the faulting thread, outside the exception dispatcher, with the faulting stack intact.
void ReportStructuredError(const EXCEPTION_POINTERS& pointers);

// The report on the process as it stands. fault_context: the registers of the
// current thread at the error; null to walk the current thread from the caller, leaving
// out the frames whose stack lies below floor (the reporter's own).
crash::BugReport GatherBugReport(const std::wstring& error, const CONTEXT* fault_context,
                                 uint64_t floor = 0);

// Hands the report to the system's mail interface (Simple MAPI), or says why it cannot.
void SendBugReport(HWND owner, const std::wstring& report);

// What the user chose in the exception box.
enum class BoxChoice { kContinue = 1, kRestart, kClose };

// The full edition's exception box: the headline, the message and the five buttons.
// Modal to owner; "send bug report" and "show bug report" keep it open.
BoxChoice ShowExceptionBox(HWND owner, const std::wstring& message, const std::wstring& report);

// Tells the open exception box that one more error came in while it was shown.
void NoteFurtherError();

// The modal window with the report as read-only, selectable text.
void ShowBugReportWindow(HWND owner, const std::wstring& report);

}  // namespace vol::crash_detail
