// The box that shows an error: made on the reporter's thread at start-up and kept
// hidden, so that showing it needs no new window, no control class and no DLL, none of
// which may be had while another thread holds the loader's lock.
#include <windows.h>

#include <span>
#include <stdexcept>
#include <string_view>

#include "crash/crash_win.h"
#include "crash/guard_win.h"
#include "platform/dialog_template_win.h"
#include "platform/edition.h"

namespace vol::crash_detail {
namespace {

constexpr WORD kIconId = 99, kTextId = 100;
constexpr WORD kContinueId = 103, kRestartId = 104,
               kCloseId = 105;  // beside kSendButton, kShowButton

// A button either ends the box with a choice or, with none, leaves it open and hands
// the click to the full edition's report.
struct BoxButton {
  WORD id;
  std::wstring_view caption;
  BoxChoice choice;
};
constexpr BoxChoice kStays = BoxChoice::kFailed;
constexpr BoxButton kFullButtons[] = {
    {kSendButton, L"send bug report", kStays},
    {kShowButton, L"show bug report", kStays},
    {kContinueId, L"continue application", BoxChoice::kContinue},
    {kRestartId, L"restart application", BoxChoice::kRestart},
    {kCloseId, L"close application", BoxChoice::kClose},
};
constexpr BoxButton kReducedButtons[] = {{IDOK, L"OK", BoxChoice::kContinue}};
constexpr std::span<const BoxButton> kButtons = edition::kFull
                                                    ? std::span<const BoxButton>(kFullButtons)
                                                    : std::span<const BoxButton>(kReducedButtons);
// The reduced edition's one button both goes on and closes the box.
constexpr WORD kContinueButton = edition::kFull ? kContinueId : IDOK;
constexpr WORD kCloseButton = edition::kFull ? kCloseId : IDOK;

struct Box {
  HWND dialog = nullptr;
  bool open = false;
  BoxChoice choice = BoxChoice::kFailed;
  BoxError* error = nullptr;
};
Box box;

INT_PTR CALLBACK BoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    // The window's own icons too: asked for when it is first shown, a default one would
    // be loaded from the system's resources then, under the loader's lock.
    const auto icon = reinterpret_cast<LPARAM>(LoadIconW(nullptr, IDI_ERROR));
    SendDlgItemMessageW(dialog, kIconId, STM_SETICON, static_cast<WPARAM>(icon), 0);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, icon);
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, icon);
    return FALSE;
  }
  if (message != WM_COMMAND || HIWORD(wparam) != BN_CLICKED || !box.open) return FALSE;
  WORD id = LOWORD(wparam);
  // Escape and the close box choose what the default button does, where it may.
  if (id == IDCANCEL) {
    if (!IsWindowEnabled(GetDlgItem(dialog, kContinueButton))) return TRUE;
    id = kContinueButton;
  }
  // A disabled button does nothing, whoever clicks it.
  if (!IsWindowEnabled(GetDlgItem(dialog, id))) return TRUE;
  for (const BoxButton& button : kButtons) {
    if (button.id != id) continue;
    if (button.choice != kStays) {
      box.choice = button.choice;
      box.open = false;
    } else if constexpr (edition::kFull) {
      ReportButtonClicked(dialog, id, *box.error);
    }
    return TRUE;
  }
  return FALSE;
}

// Enables the owner again however the box ends.
class DisabledOwner {
 public:
  explicit DisabledOwner(HWND owner) : owner_(owner) {
    if (owner_ != nullptr) EnableWindow(owner_, FALSE);
  }
  ~DisabledOwner() {
    if (owner_ != nullptr) EnableWindow(owner_, TRUE);
  }
  DisabledOwner(const DisabledOwner&) = delete;
  DisabledOwner& operator=(const DisabledOwner&) = delete;

 private:
  HWND owner_;
};

}  // namespace

bool PrepareBox() {
  constexpr short kWidth = edition::kFull ? 330 : 290;
  DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, kWidth,
                        edition::kFull ? 92 : 60, kCaption, kDialogFont, 8);
  layout.Add(DialogTemplate::kStatic, SS_ICON, 7, 7, 21, 20, kIconId, L"");
  layout.Add(DialogTemplate::kStatic, SS_LEFT | SS_NOPREFIX, 35, 9, 190, 76, kTextId, L"");
  short top = 7;
  for (const BoxButton& button : kButtons) {
    const DWORD style = WS_TABSTOP | (button.id == kContinueButton ? BS_DEFPUSHBUTTON : 0);
    layout.Add(DialogTemplate::kButton, style, kWidth - 97, top, 90, 14, button.id, button.caption);
    top = static_cast<short>(top + 17);
  }
  box.dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), layout.get(), nullptr,
                                          &Guarded<BoxProc>, 0);
  return box.dialog != nullptr;
}

// Each message is guarded from its wait on: a message sent from another thread is
// handled inside GetMessage itself.
bool ServeUntil(HWND dialog, const bool& open) {
  bool served = true;
  while (open && served && !guarded_dialog_failed) {
    served = GuardedCall([&] {
      MSG message{};
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      if (got <= 0) throw std::runtime_error("the reporter's message queue failed");
      if (!IsDialogMessageW(dialog, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    });
  }
  return served && !guarded_dialog_failed;
}

BoxChoice ShowBox(HWND owner, BoxError& error, HANDLE shown) {
  if (box.dialog == nullptr) return BoxChoice::kFailed;
  SetDlgItemTextW(box.dialog, kTextId, error.text.c_str());
  const bool can_continue = !edition::kFull || error.can_continue;
  EnableWindow(GetDlgItem(box.dialog, kContinueButton), can_continue);
  const WORD first = can_continue ? kContinueButton : kCloseButton;
  SendMessageW(box.dialog, DM_SETDEFID, first, 0);
  // What was meant for the box while it was hidden, an earlier error's, is not this one's.
  for (MSG stale{}; PeekMessageW(&stale, box.dialog, 0, 0, PM_REMOVE);) {
  }
  box.error = &error;
  box.choice = BoxChoice::kFailed;
  box.open = true;
  guarded_dialog_failed = false;
  {
    const DisabledOwner disabled(owner);
    SetWindowLongPtrW(box.dialog, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    ShowWindow(box.dialog, SW_SHOW);
    SetForegroundWindow(box.dialog);
    SetFocus(GetDlgItem(box.dialog, first));
    SetEvent(shown);
    if (!ServeUntil(box.dialog, box.open)) box.choice = BoxChoice::kFailed;
    box.open = false;
  }
  // As a dialog ends: the owner, enabled again, is made active before the box goes, or
  // the system would hand the activation to some other program's window. The box goes
  // once the error has its answer (HideBox).
  if (owner != nullptr) SetForegroundWindow(owner);
  box.error = nullptr;
  return box.choice;
}

void HideBox() {
  if (box.dialog != nullptr) {
    SetWindowPos(box.dialog, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
  }
}

}  // namespace vol::crash_detail
