// The exception box and the bug-report window: modal dialogs built in code from
// in-memory templates, so that the reporter needs no resources of the program.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>

#include "crash/crash_win.h"
#include "crash/full/reporter_win.h"
#include "crash/guard_win.h"
#include "platform/dialog_template_win.h"
#include "platform/handles_win.h"

namespace vol::crash_detail {
namespace {

// ------------------------------------------------------------------ exception box

constexpr std::wstring_view kFont = L"MS Shell Dlg";

enum BoxControl : WORD {
  kIconId = 99,
  kTextId = 100,
  kSendId = 101,
  kShowId = 102,
  kContinueId = 103,
  kRestartId = 104,
  kCloseId = 105,
  kNoteId = 106,
};

struct BoxButton {
  WORD id;
  std::wstring_view caption;
};
constexpr BoxButton kBoxButtons[] = {
    {kSendId, L"send bug report"},          {kShowId, L"show bug report"},
    {kContinueId, L"continue application"}, {kRestartId, L"restart application"},
    {kCloseId, L"close application"},
};

constexpr std::wstring_view kHeadline = L"An error occurred in the application.";

struct BoxState {
  std::wstring text;
  const std::wstring* message = nullptr;
  const FaultingThread* faulting = nullptr;
  std::wstring report;  // gathered when first asked for, with the box already up
  bool gathered = false;
};

const std::wstring& ReportOf(BoxState& state) {
  if (!state.gathered) {
    state.report = crash::FormatBugReport(GatherBugReport(*state.message, *state.faulting));
    state.gathered = true;
  }
  return state.report;
}

// Errors come in on any thread while the box runs on the reporter's: the count is
// shared, and the box writes it on its own thread when told.
constexpr UINT kFurtherErrorMessage = WM_APP + 1;
struct OpenBox {
  std::atomic<int> further_errors{0};
  std::atomic<HWND> window{nullptr};
};
OpenBox open_box;

// A failure inside the reporter's own dialogs ends the dialog, not the reporter: the
// guard has told the handler, which shows the error plainly once the box is gone.
template <DLGPROC Proc>
INT_PTR CALLBACK Guarded(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  INT_PTR result = FALSE;
  if (GuardedCall([&] { result = Proc(dialog, message, wparam, lparam); })) return result;
  EndDialog(dialog, static_cast<INT_PTR>(BoxChoice::kFailed));
  return TRUE;
}

void ShowFurtherErrors(HWND dialog) {
  const int count = open_box.further_errors;
  if (count == 0) return;
  const std::wstring note = count == 1
                                ? std::wstring(L"1 further error occurred meanwhile.")
                                : std::to_wstring(count) + L" further errors occurred meanwhile.";
  SetDlgItemTextW(dialog, kNoteId, note.c_str());
}

RECT ChildRect(HWND dialog, int id) {
  RECT rect{};
  HWND child = GetDlgItem(dialog, id);
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void MoveChild(HWND dialog, int id, int dy, int grow) {
  const RECT rect = ChildRect(dialog, id);
  MoveWindow(GetDlgItem(dialog, id), rect.left, rect.top + dy, rect.right - rect.left,
             rect.bottom - rect.top + grow, TRUE);
}

// A long message makes the text taller, up to half the screen; the full text is in
// the report either way.
void FitText(HWND dialog, const std::wstring& text) {
  HWND label = GetDlgItem(dialog, kTextId);
  const RECT rect = ChildRect(dialog, kTextId);
  RECT needed{0, 0, rect.right - rect.left, 0};
  {
    const WindowDc dc = GetWindowDc(label);
    if (!dc) return;
    const SelectedObject font =
        Select(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    DrawTextW(dc.get(), text.c_str(), -1, &needed,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  }
  const int limit = GetSystemMetrics(SM_CYSCREEN) / 2;
  const int grow = std::min<int>(needed.bottom, limit) - (rect.bottom - rect.top);
  if (grow <= 0) return;
  MoveChild(dialog, kTextId, 0, grow);
  MoveChild(dialog, kNoteId, grow, 0);
  RECT window{};
  GetWindowRect(dialog, &window);
  SetWindowPos(dialog, nullptr, window.left, window.top - grow / 2, window.right - window.left,
               window.bottom - window.top + grow, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK BoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<BoxState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<BoxState*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      open_box.window = dialog;
      ShowFurtherErrors(dialog);
      SendDlgItemMessageW(dialog, kIconId, STM_SETICON,
                          reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_ERROR)), 0);
      SetDlgItemTextW(dialog, kTextId, state->text.c_str());
      FitText(dialog, state->text);
      SetFocus(GetDlgItem(dialog, kContinueId));
      return FALSE;
    }
    case kFurtherErrorMessage:
      ShowFurtherErrors(dialog);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wparam) != BN_CLICKED || state == nullptr) return FALSE;
      switch (LOWORD(wparam)) {
        case kSendId:
          if (!GuardedCall([&] { SendBugReport(dialog, ReportOf(*state)); })) {
            EndDialog(dialog, static_cast<INT_PTR>(BoxChoice::kFailed));
          }
          return TRUE;
        case kShowId:
          if (!ShowBugReportWindow(dialog, ReportOf(*state))) {
            EndDialog(dialog, static_cast<INT_PTR>(BoxChoice::kFailed));
          }
          return TRUE;
        case kContinueId:
        case IDCANCEL:
          EndDialog(dialog, static_cast<INT_PTR>(BoxChoice::kContinue));
          return TRUE;
        case kRestartId:
          EndDialog(dialog, static_cast<INT_PTR>(BoxChoice::kRestart));
          return TRUE;
        case kCloseId:
          EndDialog(dialog, static_cast<INT_PTR>(BoxChoice::kClose));
          return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

// ------------------------------------------------------------------ report window

constexpr WORD kReportId = 200;

struct ReportState {
  const std::wstring* report = nullptr;
  HFONT font = nullptr;
  SIZE minimum{};
};

void LayOutReport(HWND dialog) {
  RECT client{};
  GetClientRect(dialog, &client);
  RECT units{7, 7, 50, 14};  // margin, margin, button width, button height
  MapDialogRect(dialog, &units);
  const int margin = units.left, button_width = units.right, button_height = units.bottom;
  const int edit_bottom = client.bottom - 2 * margin - button_height;
  MoveWindow(GetDlgItem(dialog, kReportId), margin, margin, client.right - 2 * margin,
             std::max<int>(edit_bottom - margin, 0), TRUE);
  MoveWindow(GetDlgItem(dialog, IDCANCEL), client.right - margin - button_width,
             client.bottom - margin - button_height, button_width, button_height, TRUE);
}

INT_PTR CALLBACK ReportProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<ReportState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<ReportState*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      HWND edit = GetDlgItem(dialog, kReportId);
      if (state->font != nullptr)
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), FALSE);
      SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
      SetWindowTextW(edit, state->report->c_str());
      RECT window{};
      GetWindowRect(dialog, &window);
      state->minimum = {(window.right - window.left) / 2, (window.bottom - window.top) / 2};
      LayOutReport(dialog);
      SetFocus(edit);
      SendMessageW(edit, EM_SETSEL, 0, 0);
      return FALSE;
    }
    case WM_SIZE:
      LayOutReport(dialog);
      return TRUE;
    case WM_GETMINMAXINFO:
      if (state != nullptr) {
        reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {state->minimum.cx,
                                                                 state->minimum.cy};
      }
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDCANCEL || LOWORD(wparam) == IDOK) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

BoxChoice ShowExceptionBox(HWND owner, const std::wstring& message,
                           const FaultingThread& faulting) {
  DialogTemplate box(
      WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND, 330, 98,
      kCaption, kFont, 8);
  box.Add(DialogTemplate::kStatic, SS_ICON, 7, 7, 21, 20, kIconId, L"");
  box.Add(DialogTemplate::kStatic, SS_LEFT | SS_NOPREFIX, 35, 9, 190, 68, kTextId, L"");
  box.Add(DialogTemplate::kStatic, SS_LEFT | SS_NOPREFIX, 35, 80, 190, 10, kNoteId, L"");
  short top = 7;
  for (const BoxButton& button : kBoxButtons) {
    const DWORD style = WS_TABSTOP | (button.id == kContinueId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    box.Add(DialogTemplate::kButton, style, 233, top, 90, 14, button.id, button.caption);
    top = static_cast<short>(top + 17);
  }

  BoxState state;
  state.text = std::wstring(kHeadline) + L"\r\n" + message;
  state.message = &message;
  state.faulting = &faulting;
  const INT_PTR choice =
      DialogBoxIndirectParamW(GetModuleHandleW(nullptr), box.get(), owner, &Guarded<BoxProc>,
                              reinterpret_cast<LPARAM>(&state));
  open_box.window = nullptr;
  open_box.further_errors = 0;
  switch (choice) {
    case static_cast<INT_PTR>(BoxChoice::kContinue):
      return BoxChoice::kContinue;
    case static_cast<INT_PTR>(BoxChoice::kRestart):
      return BoxChoice::kRestart;
    case static_cast<INT_PTR>(BoxChoice::kClose):
      return BoxChoice::kClose;
    default:
      return BoxChoice::kFailed;
  }
}

void NoteFurtherError() {
  ++open_box.further_errors;
  // Sent, not posted: once this returns, the box says so. A box that does not answer
  // must not hold up the thread of the error.
  if (HWND box = open_box.window) {
    SendMessageTimeoutW(box, kFurtherErrorMessage, 0, 0, SMTO_NORMAL, 5000, nullptr);
  }
}

bool ShowBugReportWindow(HWND owner, const std::wstring& report) {
  DialogTemplate window(
      WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME | DS_CENTER, 420, 260,
      L"bug report", kFont, 8);
  window.Add(DialogTemplate::kEdit,
             WS_BORDER | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                 ES_AUTOVSCROLL | ES_AUTOHSCROLL,
             7, 7, 406, 225, kReportId, L"");
  window.Add(DialogTemplate::kButton, WS_TABSTOP | BS_DEFPUSHBUTTON, 363, 239, 50, 14, IDCANCEL,
             L"close");

  // A fixed-pitch font keeps the columns of frames and modules aligned.
  int dpi = USER_DEFAULT_SCREEN_DPI;
  if (const WindowDc screen = GetWindowDc(nullptr)) dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
  const UniqueFont font(CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New"));
  ReportState state;
  state.report = &report;
  state.font = font.get();
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), window.get(), owner,
                                 &Guarded<ReportProc>, reinterpret_cast<LPARAM>(&state)) == 0;
}

}  // namespace vol::crash_detail
