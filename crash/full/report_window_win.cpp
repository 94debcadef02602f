// "show bug report" and "send bug report": the report, gathered when first asked for,
// in a window made hidden at start-up beside the box.
#include <windows.h>

#include <algorithm>
#include <string>

#include "crash/crash_win.h"
#include "crash/full/reporter_win.h"
#include "platform/dialog_template_win.h"
#include "platform/handles_win.h"

namespace vol::crash_detail {
namespace {

constexpr WORD kReportId = 200;

struct ReportWindow {
  HWND dialog = nullptr;
  UniqueFont font;  // fixed pitch keeps the columns of frames and modules aligned
  bool open = false;
};
ReportWindow window;

void LayOut(HWND dialog) {
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

INT_PTR CALLBACK ReportProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_SIZE) {
    LayOut(dialog);
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wparam) == IDCANCEL || LOWORD(wparam) == IDOK)) {
    window.open = false;
    return TRUE;
  }
  return FALSE;
}

// The report, modal to the box; false when serving it failed.
bool ShowReport(HWND box, const std::wstring& report) {
  if (window.dialog == nullptr) return false;
  HWND edit = GetDlgItem(window.dialog, kReportId);
  SetWindowTextW(edit, report.c_str());
  EnableWindow(box, FALSE);
  SetWindowLongPtrW(window.dialog, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(box));
  window.open = true;
  ShowWindow(window.dialog, SW_SHOW);
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, 0);
  const bool served = ServeUntil(window.dialog, window.open);
  window.open = false;
  EnableWindow(box, TRUE);
  SetForegroundWindow(box);  // before it goes, as the box does
  SetWindowPos(window.dialog, nullptr, 0, 0, 0, 0,
               SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
  return served;
}

}  // namespace

void PrepareReport() {
  PrepareBugReport();
  DialogTemplate layout(
      WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME | DS_CENTER, 420, 260,
      L"bug report", kDialogFont, 8);
  layout.Add(DialogTemplate::kEdit,
             WS_BORDER | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                 ES_AUTOVSCROLL | ES_AUTOHSCROLL,
             7, 7, 406, 225, kReportId, L"");
  layout.Add(DialogTemplate::kButton, WS_TABSTOP | BS_DEFPUSHBUTTON, 363, 239, 50, 14, IDCANCEL,
             L"close");
  window.dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), layout.get(), nullptr,
                                             &Guarded<ReportProc>, 0);
  if (window.dialog == nullptr) return;
  int dpi = USER_DEFAULT_SCREEN_DPI;
  if (const WindowDc screen = GetWindowDc(nullptr)) dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
  window.font.reset(CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New"));
  // Its own icon, as the box has (see there).
  const auto icon = reinterpret_cast<LPARAM>(LoadIconW(nullptr, IDI_ERROR));
  SendMessageW(window.dialog, WM_SETICON, ICON_BIG, icon);
  SendMessageW(window.dialog, WM_SETICON, ICON_SMALL, icon);
  HWND edit = GetDlgItem(window.dialog, kReportId);
  if (window.font) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(window.font.get()), 0);
  SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
  LayOut(window.dialog);
}

void ReportButtonClicked(HWND box, WORD button, BoxError& error) {
  if (!error.gathered) {
    error.report = crash::FormatBugReport(GatherBugReport(error.message, error.thread));
    error.gathered = true;
  }
  if (button == kSendButton) {
    SendBugReport(box, error.report);
  } else if (!ShowReport(box, error.report)) {
    guarded_dialog_failed = true;
  }
}

}  // namespace vol::crash_detail
