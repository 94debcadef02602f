#include "ui/ufrmproperties_win.h"

#include <commctrl.h>

#include <utility>

#include "ui/edition.h"
#include "ui/layout_win.h"

namespace vol {

namespace {

// No WS_CLIPCHILDREN: the parent paints the inside of GroupBox1, which a group box leaves
// to it.
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW;
constexpr UINT_PTR kMemoSubclassId = 1;

// Memo1 inside GroupBox1, in design pixels.
constexpr RECT kMemoBounds{2, 15, 2 + 486, 15 + 312};

int Scale(int value, UINT dpi) { return ScaleToDpi(value, edition::kPropertiesDesignDpi, dpi); }

}  // namespace

Tfrmproperties* Tfrmproperties::Create(HWND owner, const std::wstring& caption) {
  WNDCLASSEXW window_class{};
  window_class.lpszClassName = kClassName;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  if (!RegisterWindowClass(window_class)) return nullptr;

  auto* window = new Tfrmproperties();
  if (window->CreateFor(kExStyle, kClassName, caption.c_str(), kStyle, RECT{0, 0, 0, 0}, owner) ==
      nullptr) {
    delete window;  // a window that failed in WM_CREATE is gone, but did not own the object
    return nullptr;
  }
  // From here on the window owns the object (see OnNcDestroy).
  window->owned_by_window_ = true;
  return window;
}

void Tfrmproperties::OnNcDestroy() {
  if (owned_by_window_) delete this;
}

LRESULT Tfrmproperties::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate() ? 0 : -1;
    case WM_SETFOCUS:
      SetFocus(memo_);
      return 0;
    case WM_KEYDOWN:
    case WM_CHAR:
      if (OnKey(message, wparam)) return 0;
      break;
    case WM_CTLCOLORSTATIC:
      // A read-only edit asks for the static colours; the report reads better on the
      // window colour, like any other text field.
      if (reinterpret_cast<HWND>(lparam) == memo_) {
        auto* dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_CLOSE:
      FormClose();
      return 0;
    default:
      break;
  }
  return DefaultHandling(message, wparam, lparam);
}

bool Tfrmproperties::OnCreate() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  // Memo1 first: it stays above GroupBox1, whose frame surrounds it.
  memo_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                          WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | ES_MULTILINE |
                              ES_READONLY | ES_AUTOVSCROLL | ES_LEFT,
                          0, 0, 0, 0, hwnd(), nullptr, instance, nullptr);
  group_box_ =
      CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, 0,
                      0, 0, 0, hwnd(), nullptr, instance, nullptr);
  if (memo_ == nullptr || group_box_ == nullptr) return false;
  SetWindowSubclass(memo_, &Tfrmproperties::MemoProc, kMemoSubclassId,
                    reinterpret_cast<DWORD_PTR>(this));

  const UINT dpi = GetDpiForWindow(hwnd());
  ApplyLayout(dpi);
  // Centred on the screen that holds the owner (the main window).
  const HWND owner = GetWindow(hwnd(), GW_OWNER);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(owner ? owner : hwnd(), MONITOR_DEFAULTTOPRIMARY), &monitor);
  const SIZE size =
      WindowSizeForClient(Scale(edition::kPropertiesWidth, dpi),
                          Scale(edition::kPropertiesHeight, dpi), kStyle, kExStyle, dpi);
  const RECT& screen = monitor.rcMonitor;
  SetWindowPos(hwnd(), nullptr, screen.left + (screen.right - screen.left - size.cx) / 2,
               screen.top + (screen.bottom - screen.top - size.cy) / 2, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
}

void Tfrmproperties::ApplyLayout(UINT dpi) {
  // The controls let go of the old font before it is deleted.
  UniqueFont font = CreateLayoutFont(edition::kFontName, edition::kPropertiesFontHeight,
                                     edition::kPropertiesDesignDpi, dpi);
  for (HWND control : {group_box_, memo_}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  }
  font_ = std::move(font);
  MoveWindow(group_box_, 0, 0, Scale(edition::kPropertiesWidth, dpi),
             Scale(edition::kPropertiesHeight, dpi), TRUE);
  MoveWindow(memo_, Scale(kMemoBounds.left, dpi), Scale(kMemoBounds.top, dpi),
             Scale(kMemoBounds.right - kMemoBounds.left, dpi),
             Scale(kMemoBounds.bottom - kMemoBounds.top, dpi), TRUE);
}

void Tfrmproperties::OnDpiChanged(UINT dpi, const RECT& suggested) {
  ApplyLayout(dpi);
  SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Tfrmproperties::Show() {
  ShowWindow(hwnd(), SW_SHOW);
  FormShow();
}

void Tfrmproperties::FormShow() {
  SetForegroundWindow(hwnd());
  SetFocus(hwnd());
}

void Tfrmproperties::FormClose() { DestroyWindow(hwnd()); }

void Tfrmproperties::SetLines(const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += L"\r\n";
    text += lines[i];
  }
  SetWindowTextW(memo_, text.c_str());
}

bool Tfrmproperties::OnKey(UINT message, WPARAM key) {
  if (message == WM_KEYDOWN && key == VK_ESCAPE) {
    // Posted: the memo that saw the key is destroyed with the window.
    PostMessageW(hwnd(), WM_CLOSE, 0, 0);
    return true;
  }
  if (message != WM_CHAR) return false;
  switch (key) {
    case 0x01:  // Ctrl+A; the edit control has no select-all key of its own
      SendMessageW(memo_, EM_SETSEL, 0, -1);
      return true;
    case 0x03:  // Ctrl+C
      SendMessageW(memo_, WM_COPY, 0, 0);
      return true;
    case 0x1B:  // the Escape character: already handled as a key, no beep
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK Tfrmproperties::MemoProc(HWND memo, UINT message, WPARAM wparam, LPARAM lparam,
                                          UINT_PTR id, DWORD_PTR self) {
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(memo, &Tfrmproperties::MemoProc, id);
  } else if (message == WM_KEYDOWN || message == WM_CHAR) {
    bool used = false;
    GuardedCall([&] { used = reinterpret_cast<Tfrmproperties*>(self)->OnKey(message, wparam); });
    if (used) return 0;
  }
  return DefSubclassProc(memo, message, wparam, lparam);
}

}  // namespace vol
