// The full edition's report behind the box's buttons: its gathering and its mail.
#pragma once

#include <windows.h>

#include <string>

#include "crash/crash_win.h"
#include "crash/full/bug_report.h"

namespace vol::crash_detail {

// Makes what the report needs on the reporter's own thread, before any error.
void PrepareBugReport();

// The report on the process as it stands: the faulting thread first, then every other
// thread but the caller's.
crash::BugReport GatherBugReport(const std::wstring& error, const FaultingThread& faulting);

// Hands the report to the system's mail interface (Simple MAPI), or says why it cannot.
void SendBugReport(HWND owner, const std::wstring& report);

}  // namespace vol::crash_detail
