#include "ui/Ufrmvolume_win.h"

#include <commctrl.h>
#include <dbt.h>
#include <windowsx.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/startup_trace_win.h"
#include "ui/inputbox_win.h"
#include "ui/layout_win.h"
#include "ui/ufrmproperties_win.h"

namespace vol {

namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = 0;
constexpr UINT_PTR kListSubclassId = 1;
// The program's icon in app/volumes.rc.
constexpr WORD kIconId = 1;

int ScaleLayout(int value, UINT dpi) {
  return ScaleToDpi(value, edition::kMainWindow.design_dpi, dpi);
}

// StatusBar1's 19 pixels are those of a 96-dpi screen, whatever the form's design
// resolution: the bar must hold one line of the form's font.
int StatusBarHeight(UINT dpi) {
  return ScaleToDpi(edition::kStatusBarHeight, USER_DEFAULT_SCREEN_DPI, dpi);
}

// Keeps a control from repainting while it is rebuilt, also when the rebuild throws.
class RedrawOff {
 public:
  explicit RedrawOff(HWND control) : control_(control) {
    SendMessageW(control_, WM_SETREDRAW, FALSE, 0);
  }
  ~RedrawOff() {
    SendMessageW(control_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(control_, nullptr, TRUE);
  }
  RedrawOff(const RedrawOff&) = delete;
  RedrawOff& operator=(const RedrawOff&) = delete;

 private:
  HWND control_;
};

}  // namespace

MainWindow::MainWindow(Platform& platform, bool quit_on_close)
    : form_(platform, *this), quit_on_close_(quit_on_close) {}

MainWindow::~MainWindow() {
  if (hwnd() != nullptr) DestroyWindow(hwnd());
}

template <typename Handler>
void MainWindow::RunHandler(Handler&& handler) {
  struct Depth {
    MainWindow& window;
    explicit Depth(MainWindow& w) : window(w) { ++window.handler_depth_; }
    ~Depth() {
      if (--window.handler_depth_ == 0) window.properties_links_.clear();
    }
  } depth(*this);
  handler();
}

bool MainWindow::Create() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.lpszClassName = kClassName;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  // The system takes the small icon from the same resource.
  window_class.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId),
                                                     IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  if (!RegisterWindowClass(window_class)) return false;

  // Made at its size for the system's resolution; WM_CREATE sizes it again only when its
  // screen has another.
  const auto& layout = edition::kMainWindow;
  const std::wstring caption(edition::kLayoutCaption);
  const SIZE size = WindowSize(GetDpiForSystem());
  return CreateFor(kExStyle, kClassName, caption.c_str(), kStyle,
                   RECT{layout.left, layout.top, layout.left + size.cx, layout.top + size.cy},
                   nullptr) != nullptr;
}

// The outer size of the main window at a resolution.
SIZE MainWindow::WindowSize(UINT dpi) {
  return WindowSizeForClient(ScaleLayout(edition::kMainWindow.client_width, dpi),
                             ScaleLayout(edition::kMainWindow.client_height, dpi), kStyle, kExStyle,
                             dpi);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate() ? 0 : -1;
    case WM_SIZE:
      OnSize();
      return 0;
    case WM_SETFOCUS:
      SetFocus(list_);
      return 0;
    case WM_SHOWWINDOW:
      OnShowWindow(wparam != FALSE);
      break;
    case WM_COMMAND:
      if (lparam == 0) OnCommand(LOWORD(wparam));  // menu items and keys, not controls
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_CONTEXTMENU:
      OnContextMenu(reinterpret_cast<HWND>(wparam), lparam);
      return 0;
    case WM_DEVICECHANGE:
      return OnDeviceChange(wparam, lparam);
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      break;
  }
  return DefaultHandling(message, wparam, lparam);
}

bool MainWindow::OnCreate() {
  StartupMark("main window created");
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  dpi_ = GetDpiForWindow(hwnd());
  // The window has its size before it has controls, so that each control is made at its
  // place with its font, and nothing is laid out or measured a second time.
  if (dpi_ != GetDpiForSystem()) {
    const SIZE size = WindowSize(dpi_);
    SetWindowPos(hwnd(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const ControlPlaces places = PlaceControls();
  font_ = CreateLayoutFont(edition::kFontName, edition::kMainWindow.font_height,
                           edition::kMainWindow.design_dpi, dpi_);

  list_ = CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
      places.list.left, places.list.top, places.list.right, places.list.bottom, hwnd(), nullptr,
      instance, nullptr);
  status_bar_ = CreateWindowExW(
      0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN,
      places.status_bar.left, places.status_bar.top, places.status_bar.right,
      places.status_bar.bottom, hwnd(), nullptr, instance, nullptr);
  popup_menu_.reset(CreatePopupMenu());
  if (list_ == nullptr || status_bar_ == nullptr || !popup_menu_) return false;
  for (HWND control : {list_, status_bar_}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  }

  // Label tips show the whole text of a cell too narrow for it.
  constexpr DWORD kListExStyle = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_LABELTIP;
  SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, kListExStyle, kListExStyle);
  int index = 0;
  for (const ColumnRow* column : kColumns) {
    std::wstring caption(column->place().caption);
    LVCOLUMNW lv_column{};
    lv_column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    lv_column.fmt = LVCFMT_LEFT;
    lv_column.cx = ScaleLayout(column->place().width, dpi_);
    lv_column.pszText = caption.data();
    lv_column.iSubItem = index;
    SendMessageW(list_, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&lv_column));
    ++index;
  }
  SetWindowSubclass(list_, &MainWindow::ListProc, kListSubclassId,
                    reinterpret_cast<DWORD_PTR>(this));

  SendMessageW(status_bar_, SB_SIMPLE, TRUE, 0);

  for (const auto& item : kMenu) {
    if (item.command == Command::None) {
      AppendMenuW(popup_menu_.get(), MF_SEPARATOR, 0, nullptr);
    } else {
      const std::wstring caption(item.caption);
      AppendMenuW(popup_menu_.get(), MF_STRING | MF_UNCHECKED, static_cast<UINT_PTR>(item.command),
                  caption.c_str());
    }
  }

  StartupMark("list view, status bar and menu created");
  return true;
}

void MainWindow::ApplyFont(UINT dpi) {
  // The controls let go of the old font before it is deleted.
  UniqueFont font = CreateLayoutFont(edition::kFontName, edition::kMainWindow.font_height,
                                     edition::kMainWindow.design_dpi, dpi);
  for (HWND control : {list_, status_bar_}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  }
  font_ = std::move(font);
}

// The list fills the client area above the status bar. Each place is a left, top, width
// and height.
MainWindow::ControlPlaces MainWindow::PlaceControls() const {
  RECT client{};
  GetClientRect(hwnd(), &client);
  const int status_height = StatusBarHeight(dpi_);
  const int list_height = std::max(0, static_cast<int>(client.bottom) - status_height);
  return {RECT{0, 0, client.right, list_height}, RECT{0, list_height, client.right, status_height}};
}

void MainWindow::OnSize() {
  if (list_ == nullptr || status_bar_ == nullptr) return;  // WM_CREATE sizes before it has them
  const ControlPlaces places = PlaceControls();
  const RECT& list = places.list;
  const RECT& bar = places.status_bar;
  MoveWindow(list_, list.left, list.top, list.right, list.bottom, TRUE);
  MoveWindow(status_bar_, bar.left, bar.top, bar.right, bar.bottom, TRUE);
}

void MainWindow::OnShowWindow(bool showing) {
  if (!showing || shown_) return;
  shown_ = true;
  RunHandler([this] { form_.FormShow(); });
  StartupMark("first refresh done");
}

void MainWindow::OnCommand(WORD id) {
  RunHandler([this, id] { form_.RunHandlerOf(static_cast<Command>(id)); });
}

void MainWindow::SendMenuCommand(Command command) {
  SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(command), 1), 0);
}

LRESULT MainWindow::OnNotify(const NMHDR& header) {
  if (header.hwndFrom != list_) return 0;
  switch (header.code) {
    case NM_DBLCLK:
      RunHandler([this] { form_.lvvolumesDblClick(); });
      break;
    case NM_RETURN:
      SendMenuCommand(Command::GetVolumeInformations1);
      break;
    case LVN_COLUMNCLICK: {
      const int column = reinterpret_cast<const NMLISTVIEW&>(header).iSubItem;
      RunHandler([this, column] { form_.lvvolumesColumnClick(column); });
      break;
    }
    default:
      break;
  }
  return 0;
}

void MainWindow::OnContextMenu(HWND source, LPARAM position) {
  if (source != list_ && GetParent(source) != list_) return;  // lvvolumes or its header
  POINT at{};
  // From the keyboard both coordinates are -1 (the 32 bits of lParam, whatever its width):
  // the menu opens at the selected row, or at the list's top-left corner.
  if (GET_X_LPARAM(position) == -1 && GET_Y_LPARAM(position) == -1) {
    const int item = static_cast<int>(
        SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (item >= 0) {
      SendMessageW(list_, LVM_ENSUREVISIBLE, item, FALSE);
      RECT bounds{};
      bounds.left = LVIR_BOUNDS;
      if (SendMessageW(list_, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&bounds))) {
        at = POINT{std::max(0L, static_cast<long>(bounds.left)), bounds.bottom};
      }
    }
    ClientToScreen(list_, &at);
  } else {
    at = POINT{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
  }
  TrackPopupMenuEx(popup_menu_.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y,
                   hwnd(), nullptr);
}

LRESULT MainWindow::OnDeviceChange(WPARAM event, LPARAM record) {
  const LRESULT result = DefaultHandling(WM_DEVICECHANGE, event, record);
  // Only these two events carry a device-broadcast record in lParam.
  if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) {
    RunHandler([&] {
      form_.WMDeviceChange(static_cast<uint32_t>(event),
                           reinterpret_cast<const DevBroadcastHeader*>(record));
    });
  }
  return result;
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
  // Column widths keep any width the user gave them, in the new pixels.
  const int columns = static_cast<int>(kColumns.size());
  for (int column = 0; column < columns; ++column) {
    const int width = static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, column, 0));
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, column,
                 MAKELPARAM(MulDiv(width, static_cast<int>(dpi), static_cast<int>(dpi_)), 0));
  }
  ApplyFont(dpi);
  dpi_ = dpi;
  SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  OnSize();
}

void MainWindow::OnDestroy() {
  if (quit_on_close_) PostQuitMessage(0);
}

void MainWindow::OnNcDestroy() {
  list_ = nullptr;
  status_bar_ = nullptr;
}

bool MainWindow::OnListKey(UINT message, WPARAM key) {
  const bool control = GetKeyState(VK_CONTROL) < 0;
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool alt = GetKeyState(VK_MENU) < 0;
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (key == VK_APPS || (key == VK_F10 && shift && !control && !alt)) {
        menu_key_down_ = key;
        SendMessageW(hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list_), -1);
        if (GetKeyState(static_cast<int>(key)) >= 0) menu_key_down_ = 0;  // released meanwhile
        return true;
      }
      if (message == WM_KEYDOWN && key == VK_F5 && !control && !shift && !alt) {
        SendMenuCommand(Command::Refresh1);
        return true;
      }
      if (message == WM_KEYDOWN && key == 'C' && control && !shift && !alt) {
        SendMenuCommand(Command::CopyVolumeName1);
        return true;
      }
      if (message == WM_KEYDOWN && key == 'C' && control && shift && !alt) {
        RunHandler([this] { form_.CopyListAsText(); });
        return true;
      }
      return false;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      // The release of a key that opened the menu: the system's default handling
      // would open it a second time (context-menu key) or enter menu mode (F10).
      if (menu_key_down_ != 0 && key == menu_key_down_) {
        menu_key_down_ = 0;
        return true;
      }
      return false;
    case WM_CHAR:
      return key == 0x03;  // Ctrl+C's (and Ctrl+Shift+C's) character; the key has done its work
    default:
      return false;
  }
}

LRESULT CALLBACK MainWindow::ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR id, DWORD_PTR self) {
  switch (message) {
    case WM_NCDESTROY:
      RemoveWindowSubclass(list, &MainWindow::ListProc, id);
      break;
    case WM_PAINT: {
      const LRESULT result = DefSubclassProc(list, message, wparam, lparam);
      StartupDone("first paint");
      return result;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_CHAR: {
      bool used = false;
      GuardedCall([&] { used = reinterpret_cast<MainWindow*>(self)->OnListKey(message, wparam); });
      if (used) return 0;
      break;
    }
    default:
      break;
  }
  return DefSubclassProc(list, message, wparam, lparam);
}

// ---------------------------------------------------------------- FormView

void MainWindow::SetTitle(const std::wstring& title) { SetWindowTextW(hwnd(), title.c_str()); }

void MainWindow::SetRows(std::vector<ListRow> rows) {
  RedrawOff quiet(list_);
  SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
  SendMessageW(list_, LVM_SETITEMCOUNT, rows.size(), LVSICF_NOINVALIDATEALL);  // room at once
  const std::size_t columns = kColumns.size();
  int next = 0;
  for (ListRow& row : rows) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = next;
    item.pszText = row.caption.data();
    item.lParam = static_cast<LPARAM>(row.record);
    const int index =
        static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) continue;
    ++next;
    for (std::size_t sub = 0; sub < row.sub_items.size() && sub + 1 < columns; ++sub) {
      LVITEMW cell{};
      cell.iSubItem = static_cast<int>(sub + 1);
      cell.pszText = row.sub_items[sub].data();
      SendMessageW(list_, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&cell));
    }
  }
}

std::optional<std::size_t> MainWindow::SelectedRecord() {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = static_cast<int>(
      SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (item.iItem < 0 || !SendMessageW(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(item.lParam);
}

void MainWindow::SelectRow(int index) {
  LVITEMW state{};
  state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list_, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&state));
  SendMessageW(list_, LVM_ENSUREVISIBLE, index, FALSE);
}

void MainWindow::ShowSortOrder(const SortOrder& order) {
  const HWND header = reinterpret_cast<HWND>(SendMessageW(list_, LVM_GETHEADER, 0, 0));
  const int columns = static_cast<int>(kColumns.size());
  for (int column = 0; column < columns; ++column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (column == order.column) item.fmt |= order.descending ? HDF_SORTDOWN : HDF_SORTUP;
    SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item));
  }
}

bool MainWindow::IsChecked(Command item) {
  const UINT state = GetMenuState(popup_menu_.get(), static_cast<UINT>(item), MF_BYCOMMAND);
  return state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
}

void MainWindow::SetChecked(Command item, bool checked) {
  CheckMenuItem(popup_menu_.get(), static_cast<UINT>(item),
                MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void MainWindow::SetStatusText(const std::wstring& text) {
  SendMessageW(status_bar_, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

std::optional<std::wstring> MainWindow::InputBox(const std::wstring& caption,
                                                 const std::wstring& prompt,
                                                 const std::wstring& default_text) {
  return ShowInputBox(hwnd(), caption, prompt, default_text);
}

PropertiesView& MainWindow::OpenProperties(const std::wstring& caption) {
  Tfrmproperties* window = Tfrmproperties::Create(hwnd(), caption);
  if (window == nullptr) throw std::runtime_error("The properties window could not be created");
  window->Show();
  return properties_links_.emplace_back(window->hwnd());
}

void MainWindow::PropertiesLink::SetLines(const std::vector<std::wstring>& lines) {
  if (Tfrmproperties* window = Tfrmproperties::FromHandle(window_)) window->SetLines(lines);
}

}  // namespace vol
