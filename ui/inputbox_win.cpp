#include "ui/inputbox_win.h"

#include <string_view>

#include "crash/guard_win.h"
#include "platform/dialog_template_win.h"
#include "ui/edition.h"

namespace vol {
namespace {

struct InputBoxState {
  std::optional<std::wstring> result;
};

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return text;
}

INT_PTR CALLBACK InputBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  INT_PTR handled = FALSE;
  GuardedCall([&] {
    switch (message) {
      case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        HWND field = GetDlgItem(dialog, kInputBoxEditId);
        SetFocus(field);
        SendMessageW(field, EM_SETSEL, 0, -1);
        handled = FALSE;  // the focus is set
        return;
      }
      case WM_COMMAND: {
        const int id = LOWORD(wparam);
        if (id != IDOK && id != IDCANCEL) return;
        auto* state = reinterpret_cast<InputBoxState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (id == IDOK && state != nullptr) {
          state->result = WindowText(GetDlgItem(dialog, kInputBoxEditId));
        }
        EndDialog(dialog, id);
        handled = TRUE;
        return;
      }
      default:
        return;
    }
  });
  return handled;
}

}  // namespace

std::optional<std::wstring> ShowInputBox(HWND owner, const std::wstring& caption,
                                         const std::wstring& prompt,
                                         const std::wstring& default_text) {
  // Dialog units; the box grows with its font and the screen's resolution.
  DialogTemplate box(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 200, 66,
                     caption, edition::kFontName, 8);
  box.Add(DialogTemplate::kStatic, SS_LEFT | SS_NOPREFIX, 8, 7, 184, 9, kInputBoxPromptId, prompt);
  box.Add(DialogTemplate::kEdit, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 8, 19, 184, 12,
          kInputBoxEditId, default_text);
  box.Add(DialogTemplate::kButton, BS_DEFPUSHBUTTON | WS_TABSTOP, 88, 43, 50, 14, IDOK, L"OK");
  box.Add(DialogTemplate::kButton, BS_PUSHBUTTON | WS_TABSTOP, 142, 43, 50, 14, IDCANCEL,
          L"Cancel");

  InputBoxState state;
  const INT_PTR outcome = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), box.get(), owner,
                                                  &InputBoxProc, reinterpret_cast<LPARAM>(&state));
  if (outcome != IDOK) return std::nullopt;
  return state.result;
}

}  // namespace vol
