#include "ui/inputbox_win.h"

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "ui/guard_win.h"

namespace vol {
namespace {

// An in-memory dialog template (DLGTEMPLATE and its DLGITEMTEMPLATEs), written as the
// sequence of 16-bit words the dialog manager reads.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, std::wstring_view caption, short width, short height,
                 std::wstring_view font, WORD point_size) {
    AddDword(style | DS_SETFONT);
    AddDword(0);  // extended style
    count_at_ = words_.size();
    words_.push_back(0);  // item count, filled in as items are added
    AddShorts({0, 0, width, height});
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the standard dialog class
    AddText(caption);
    words_.push_back(point_size);
    AddText(font);
  }

  // class_atom: 0x80 button, 0x81 edit, 0x82 static.
  void AddItem(WORD class_atom, int id, DWORD style, short x, short y, short width, short height,
               std::wstring_view text) {
    if (words_.size() % 2 != 0) words_.push_back(0);  // items start on a DWORD boundary
    AddDword(style | WS_CHILD | WS_VISIBLE);
    AddDword(0);
    AddShorts({x, y, width, height});
    words_.push_back(static_cast<WORD>(id));
    words_.push_back(0xFFFF);
    words_.push_back(class_atom);
    AddText(text);
    words_.push_back(0);  // no creation data
    ++words_[count_at_];
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void AddDword(DWORD value) {
    words_.push_back(LOWORD(value));
    words_.push_back(HIWORD(value));
  }
  void AddShorts(std::initializer_list<short> values) {
    for (short value : values) words_.push_back(static_cast<WORD>(value));
  }
  void AddText(std::wstring_view text) {
    words_.insert(words_.end(), text.begin(), text.end());
    words_.push_back(0);
  }

  std::vector<WORD> words_;
  std::size_t count_at_ = 0;
};

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
  DialogTemplate box(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, caption, 200,
                     66, L"MS Sans Serif", 8);
  box.AddItem(0x82, kInputBoxPromptId, SS_LEFT | SS_NOPREFIX, 8, 7, 184, 9, prompt);
  box.AddItem(0x81, kInputBoxEditId, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 8, 19, 184,
              12, default_text);
  box.AddItem(0x80, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 88, 43, 50, 14, L"OK");
  box.AddItem(0x80, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 142, 43, 50, 14, L"Cancel");

  InputBoxState state;
  const INT_PTR outcome = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), box.get(), owner,
                                                  &InputBoxProc, reinterpret_cast<LPARAM>(&state));
  if (outcome != IDOK) return std::nullopt;
  return state.result;
}

}  // namespace vol
