// What the parts of the crash reporter share among themselves.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "crash/guard_win.h"
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

// ------------------------------------------------------------------ the box

// What the user chose in the box; kFailed when the box itself failed.
enum class BoxChoice { kContinue = 1, kRestart, kClose, kFailed };

// One error as the box shows it.
struct BoxError {
  std::wstring text;     // what the box says
  std::wstring message;  // the error's own words, which the report begins with
  FaultingThread thread;
  bool can_continue = true;  // false: going on could resume into a lock the system holds
  std::wstring report;       // the full edition's, gathered when first asked for
  bool gathered = false;
};

inline constexpr const wchar_t* kDialogFont = L"MS Shell Dlg";

// Made hidden on the reporter's thread at start-up; false when it could not be made.
bool PrepareBox();
// Shows the prepared box, modal to owner (or to none), and serves the reporter's thread
// until the user chooses; shown is set once the box is on the screen.
BoxChoice ShowBox(HWND owner, BoxError& error, HANDLE shown);
// Takes the box off the screen, once the error has its answer: hiding a window may take
// a while (Windows animates it, Wine may wait for a window manager), and a further error
// meanwhile gets a box of its own.
void HideBox();
// Serves the reporter's thread, for dialog, while open holds; false when handling a
// message failed, the reporter's own error.
bool ServeUntil(HWND dialog, const bool& open);

// A dialog procedure's failure (guarded by Guarded) ends the dialog it served.
inline bool guarded_dialog_failed = false;
template <DLGPROC Proc>
INT_PTR CALLBACK Guarded(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  INT_PTR result = FALSE;
  if (GuardedCall([&] { result = Proc(dialog, message, wparam, lparam); })) return result;
  guarded_dialog_failed = true;
  return TRUE;
}

// The full edition's report behind the box (crash/full); the reduced edition has none
// and never calls these.
constexpr WORD kSendButton = 101, kShowButton = 102;
// Made on the reporter's thread at start-up: the report's window, hidden.
void PrepareReport();
// "send bug report" or "show bug report" was pressed in box.
void ReportButtonClicked(HWND box, WORD button, BoxError& error);

// Sets the process-wide handlers again: a DLL that the reporter's work loaded (the
// user's mail client) may have put its own in their place.
void ReinstallUncaughtErrorHandlers();

}  // namespace vol::crash_detail
