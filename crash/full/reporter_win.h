// The full edition's crash reporter as the error handler sees it: the exception box
// and, behind its buttons, the bug report and its mail.
#pragma once

#include <windows.h>

#include <string>

#include "crash/crash_win.h"
#include "crash/full/bug_report.h"

namespace vol::crash_detail {

// Loads what the report needs (dbghelp, version) on the reporter's own thread, before
// any error: after one, a load would wait for the loader lock that the failed thread
// may hold.
void PrepareBugReport();

// The report on the process as it stands: the faulting thread first, then every other
// thread but the caller's.
crash::BugReport GatherBugReport(const std::wstring& error, const FaultingThread& faulting);

// Hands the report to the system's mail interface (Simple MAPI), or says why it cannot.
void SendBugReport(HWND owner, const std::wstring& report);

// What the user chose in the exception box; kFailed when the box itself failed.
enum class BoxChoice { kContinue = 1, kRestart, kClose, kFailed };

// The full edition's exception box: the headline, the message and the five buttons.
// Modal to owner (or to none); "send bug report" and "show bug report" keep it open
// and gather the report when first asked for.
BoxChoice ShowExceptionBox(HWND owner, const std::wstring& message, const FaultingThread& faulting);

// Tells the open exception box, from any thread, that one more error came in while it
// was shown; the count starts again with the next box.
void NoteFurtherError();

// The modal window with the report as read-only, selectable text; false when it failed.
bool ShowBugReportWindow(HWND owner, const std::wstring& report);

}  // namespace vol::crash_detail
