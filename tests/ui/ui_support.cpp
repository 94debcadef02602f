#include "tests/ui/ui_support.h"

#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace vol::ui_test {

ModalDriver* ModalDriver::current_ = nullptr;

void InitControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)done;
}

void Pump() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      std::max(0, GetWindowTextW(window, text.data(), static_cast<int>(text.size())))));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font{};
  auto* handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  if (handle != nullptr) GetObjectW(handle, sizeof font, &font);
  return font;
}

RECT ClientRectOf(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return rect;
}

RECT RectInParent(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

namespace {

struct WindowSearch {
  const wchar_t* class_name;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  if (ClassOf(window) == search->class_name) search->found.push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> ThreadWindows(const wchar_t* class_name) {
  WindowSearch search{class_name, {}};
  EnumThreadWindows(GetCurrentThreadId(), &CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<ColumnInfo> Columns(HWND list) {
  std::vector<ColumnInfo> columns;
  const auto count = static_cast<int>(SendMessageW(
      reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t caption[256] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = caption;
    column.cchTextMax = 256;
    SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    columns.push_back({caption, column.cx});
  }
  return columns;
}

std::vector<std::vector<std::wstring>> Cells(HWND list) {
  const std::size_t columns = Columns(list).size();
  const auto rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  std::vector<std::vector<std::wstring>> cells;
  for (int row = 0; row < rows; ++row) {
    std::vector<std::wstring>& line = cells.emplace_back();
    for (std::size_t column = 0; column < columns; ++column) {
      std::wstring text(4096, L'\0');
      LVITEMW item{};
      item.iSubItem = static_cast<int>(column);
      item.pszText = text.data();
      item.cchTextMax = static_cast<int>(text.size());
      text.resize(static_cast<std::size_t>(
          SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item))));
      line.push_back(text);
    }
  }
  return cells;
}

int SelectedIndex(HWND list) {
  return static_cast<int>(
      SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SelectRow(HWND list, int index) {
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

int FindRow(HWND list, const std::wstring& caption) {
  const auto cells = Cells(list);
  for (std::size_t row = 0; row < cells.size(); ++row) {
    if (cells[row][0] == caption) return static_cast<int>(row);
  }
  return -1;
}

std::wstring StatusText(HWND status_bar) {
  const auto length = LOWORD(SendMessageW(status_bar, SB_GETTEXTLENGTHW, 0, 0));
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(status_bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
  text.resize(length);
  return text;
}

std::vector<MenuEntry> MenuEntries(HMENU menu) {
  std::vector<MenuEntry> entries;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t caption[256] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
    info.dwTypeData = caption;
    info.cch = 256;
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
    entries.push_back(
        {(info.fType & MFT_SEPARATOR) != 0, info.wID, caption, (info.fState & MFS_CHECKED) != 0});
  }
  return entries;
}

HeldKeys::HeldKeys(std::initializer_list<int> keys) {
  GetKeyboardState(saved_);
  BYTE state[256];
  std::memcpy(state, saved_, sizeof state);
  for (int key : keys) state[key] |= 0x80;
  SetKeyboardState(state);
}

HeldKeys::~HeldKeys() { SetKeyboardState(saved_); }

ModalDriver::ModalDriver(std::function<bool()> poll, int limit)
    : poll_(std::move(poll)), ticks_left_(limit) {
  current_ = this;
  timer_ = SetTimer(nullptr, 0, 20, &ModalDriver::Tick);
}

ModalDriver::~ModalDriver() {
  Stop();
  if (current_ == this) current_ = nullptr;
}

void ModalDriver::Stop() {
  if (timer_ != 0) KillTimer(nullptr, timer_);
  timer_ = 0;
}

void CALLBACK ModalDriver::Tick(HWND, UINT, UINT_PTR, DWORD) {
  ModalDriver* self = current_;
  if (self == nullptr || self->timer_ == 0) return;
  if (self->poll_()) {
    self->done_ = true;
    self->Stop();
    return;
  }
  if (--self->ticks_left_ > 0) return;
  self->timed_out_ = true;
  self->Stop();
  EndMenu();
  for (HWND dialog : ThreadWindows(L"#32770")) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

std::wstring HddName(int n) { return L"\\Device\\HarddiskVolume" + std::to_wstring(n); }

void MainWindowTest::SetUp() {
  InitControls();
  AddDiskVolume(1, 0, 1, {L"C:\\"});
  AddDiskVolume(2, 0, 2, {L"D:\\", L"C:\\mnt\\"});
  AddDiskVolume(3, 1, 1, {}).file_system.reset();  // no file system it can read
  machine.AddVolume(SimMachine::Guid(4), L"\\Device\\CdRom0").drive_type = drive_type::kCdrom;
  machine.AddMountPath(SimMachine::VolumeGuidPath(4), L"E:\\");
  Start();
}

void MainWindowTest::TearDown() {
  window.reset();
  Pump();
  EXPECT_TRUE(ThreadWindows(L"Tfrmproperties").empty());
  EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
  EXPECT_EQ(machine.bad_closes(), 0);
}

SimDevice& MainWindowTest::AddDiskVolume(int n, uint32_t disk, uint32_t part,
                                         const std::vector<std::wstring>& mounts) {
  SimDevice& device = machine.AddVolume(SimMachine::Guid(n), HddName(n));
  device.device_number = StorageDeviceNumber{7, disk, part};
  device.file_system = SimFileSystem{.serial = 0x1234A000u + static_cast<uint32_t>(n),
                                     .free_clusters = 10,
                                     .total_clusters = 1000u * static_cast<uint32_t>(n)};
  for (const std::wstring& mount : mounts) {
    machine.AddMountPath(SimMachine::VolumeGuidPath(n), mount);
  }
  return device;
}

void MainWindowTest::Start() {
  window = std::make_unique<MainWindow>(machine, /*quit_on_close=*/false);
  ASSERT_TRUE(window->Create());
  ShowWindow(main(), SW_SHOWNORMAL);
  UpdateWindow(main());
  Pump();
}

void MainWindowTest::Choose(Command command) {
  PostMessageW(main(), WM_COMMAND, static_cast<WPARAM>(command), 0);
  Pump();
}

}  // namespace vol::ui_test
