// The least a window program does before it shows something: register a class, create
// and show one empty window, run the message loop. The start-up baseline for volumes.exe.
// Built as list_window (LIST_WINDOW defined, with the program's manifest) it also does
// what any list program does: it initialises the common controls and fills its window
// with a list view holding one row, above a status bar. That is the second baseline, for
// the time that belongs to Wine and the common controls.
#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

void AddControls(HWND window, HINSTANCE instance) {
  RECT client{};
  ::GetClientRect(window, &client);
  HWND list = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, client.right,
                                client.bottom - 19, window, nullptr, instance, nullptr);
  ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window, nullptr,
                    instance, nullptr);
  wchar_t caption[] = L"Volume";
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = 300;
  column.pszText = caption;
  ::SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  wchar_t text[] = L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\";
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.pszText = text;
  ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

#if defined(LIST_WINDOW)
constexpr bool kControls = true;
#else
constexpr bool kControls = false;
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  if (kControls) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&classes);
  }
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = Procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = L"VolumesBenchEmptyWindow";
  if (!::RegisterClassW(&window_class)) return 1;
  HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"empty window",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 300,
                                  nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  if (kControls) AddControls(window, instance);
  ::ShowWindow(window, show);
  ::UpdateWindow(window);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
