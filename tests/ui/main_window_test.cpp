// The real main window with a simulated machine behind it: layout, columns, menu,
// rows, refresh, title, status bar, device-change notifications, resolution changes.
#include <windows.h>
// The common-control and device-broadcast headers build on windows.h.
#include <commctrl.h>
#include <dbt.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/ui/ui_support.h"
#include "tests/unit/fake_view.h"

namespace vol::ui_test {
namespace {

// What each edition shows: its window (left, top, client size, font height, the dpi
// these are meant at), columns and menu ("-" and id 0: a separator).
constexpr edition::WindowLayout kLayout = edition::kFull
                                              ? edition::WindowLayout{425, 123, 1094, 288, -14, 120}
                                              : edition::WindowLayout{383, 126, 714, 201, -11, 96};
constexpr int kStatusBarHeight = 19;  // at 96 dpi, in both editions
struct ShownColumn {
  std::wstring_view caption;
  int width;
};
const std::vector<ShownColumn> kColumns =
    edition::kFull
        ? std::vector<ShownColumn>{{L"Volume", 369}, {L"PathName", 92},    {L"Disk #", 62},
                                   {L"Part #", 62},  {L"Dos Device", 215}, {L"Volume Size", 154},
                                   {L"Serial", 123}}
        : std::vector<ShownColumn>{{L"Volume", 275},
                                   {L"PathName", 75},
                                   {L"DiskNumber", 100},
                                   {L"PartitionNumber", 100},
                                   {L"Dos Device", 150}};
struct ShownItem {
  std::wstring_view caption;
  UINT id;
};
const std::vector<ShownItem> kMenuItems =
    edition::kFull ? std::vector<ShownItem>{{L"Unmount Volume", 101},
                                            {L"Mount Volume (Auto assign letter)", 102},
                                            {L"Mount Volume (Specify path)", 103},
                                            {L"-", 0},
                                            {L"Get Dos Devices", 104},
                                            {L"Remove Dos Device Letter", 105},
                                            {L"Add Dos Device Letter", 106},
                                            {L"-", 0},
                                            {L"Copy Volume Name (to clipboard)", 107},
                                            {L"Copy Dos Device (to clipboard)", 108},
                                            {L"Get Volume / Dos Device Informations", 109},
                                            {L"Get Volume / Dos Device Serial Number", 110},
                                            {L"-", 0},
                                            {L"Refresh", 111}}
                   : std::vector<ShownItem>{{L"Unmount", 101},
                                            {L"Mount (Auto assign letter)", 102},
                                            {L"Mount (Specify path)", 103},
                                            {L"-", 0},
                                            {L"Remove DosDevice", 105},
                                            {L"-", 0},
                                            {L"Copy VolumeName", 107},
                                            {L"-", 0},
                                            {L"Get Volume Informations", 109},
                                            {L"-", 0},
                                            {L"Refresh", 111},
                                            {L"Get non-volume drives", 104}};

int ScaleMain(int value, UINT dpi) {
  return MulDiv(value, static_cast<int>(dpi), kLayout.design_dpi);
}

TEST_F(MainWindowTest, WindowHasTheLayoutOfItsEdition) {
  EXPECT_EQ(ClassOf(main()), L"Tfrmvolumes");
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(main(), GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
            DWORD{WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX});
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u) << "fixed single border, no maximize";

  RECT outer{};
  GetWindowRect(main(), &outer);
  EXPECT_EQ(outer.left, kLayout.left);
  EXPECT_EQ(outer.top, kLayout.top);
  const RECT client = ClientRectOf(main());
  EXPECT_EQ(client.right, ScaleMain(kLayout.client_width, dpi()));
  EXPECT_EQ(client.bottom, ScaleMain(kLayout.client_height, dpi()));

  const LOGFONTW font = FontOf(list());
  EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");
  EXPECT_EQ(font.lfHeight, ScaleMain(kLayout.font_height, dpi()));
  EXPECT_EQ(FontOf(status()).lfHeight, font.lfHeight);
}

TEST_F(MainWindowTest, ListFillsTheClientAreaAboveTheStatusBar) {
  const RECT client = ClientRectOf(main());
  const RECT list_rect = RectInParent(list());
  const RECT bar = RectInParent(status());
  const int bar_height = MulDiv(kStatusBarHeight, static_cast<int>(dpi()), 96);
  EXPECT_EQ(bar.bottom - bar.top, bar_height);
  EXPECT_EQ(bar.bottom, client.bottom);
  EXPECT_EQ(bar.left, 0);
  EXPECT_EQ(bar.right, client.right);
  EXPECT_EQ(list_rect.left, 0);
  EXPECT_EQ(list_rect.top, 0);
  EXPECT_EQ(list_rect.right, client.right);
  EXPECT_EQ(list_rect.bottom, bar.top);
}

TEST_F(MainWindowTest, ListIsAReadOnlySingleSelectionReport) {
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(list(), GWL_STYLE));
  EXPECT_EQ(style & LVS_TYPEMASK, DWORD{LVS_REPORT});
  EXPECT_NE(style & LVS_SINGLESEL, 0u);
  EXPECT_NE(style & LVS_SHOWSELALWAYS, 0u);
  EXPECT_EQ(style & LVS_EDITLABELS, 0u);
  const auto extended =
      static_cast<DWORD>(SendMessageW(list(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  EXPECT_NE(extended & LVS_EX_FULLROWSELECT, 0u);
  EXPECT_NE(extended & LVS_EX_GRIDLINES, 0u);
  // Wine's list view draws no label tips; Windows' shows a cell's whole text in one.
  EXPECT_NE(extended & LVS_EX_LABELTIP, 0u);
  EXPECT_NE(SendMessageW(status(), SB_ISSIMPLE, 0, 0), 0) << "one simple text, no panels";
}

TEST_F(MainWindowTest, ColumnsHaveTheCaptionsAndScaledWidthsOfTheEdition) {
  const auto columns = Columns(list());
  ASSERT_EQ(columns.size(), kColumns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(columns[i].caption, kColumns[i].caption);
    EXPECT_EQ(columns[i].width, ScaleMain(kColumns[i].width, dpi()));
  }
}

TEST_F(MainWindowTest, PopupMenuHoldsTheEditionsItemsInOrder) {
  const auto entries = MenuEntries(window->PopupMenu1());
  ASSERT_EQ(entries.size(), kMenuItems.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& expected = kMenuItems[i];
    SCOPED_TRACE(i);
    const bool separator = expected.id == 0;
    EXPECT_EQ(entries[i].separator, separator);
    if (separator) continue;
    EXPECT_EQ(entries[i].caption, expected.caption);
    EXPECT_EQ(entries[i].id, expected.id);
    EXPECT_FALSE(entries[i].checked) << "nothing is checked at start";
  }
}

TEST_F(MainWindowTest, CheckMarkItemTogglesTheDosDeviceView) {
  machine.DefineDosName(L"Q:", L"\\Device\\Extra7");
  machine.SetDriveType(L'Q', drive_type::kRamdisk);  // listed by both editions
  const std::size_t volume_rows = Cells(list()).size();
  const auto checked = [&] {
    for (const auto& entry : MenuEntries(window->PopupMenu1())) {
      if (entry.id == static_cast<UINT>(Command::Getnonvolumedrives1)) return entry.checked;
    }
    ADD_FAILURE() << "no check-mark item";
    return false;
  };

  Choose(Command::Getnonvolumedrives1);
  EXPECT_TRUE(checked());
  EXPECT_TRUE(window->IsChecked(Command::Getnonvolumedrives1));
  EXPECT_GT(Cells(list()).size(), volume_rows) << "the DOS-device rows follow the volumes";

  Choose(Command::Refresh1);
  EXPECT_TRUE(checked()) << "a refresh keeps the view on";
  EXPECT_GT(Cells(list()).size(), volume_rows);

  Choose(Command::Getnonvolumedrives1);
  EXPECT_FALSE(checked());
  EXPECT_EQ(Cells(list()).size(), volume_rows);
}

TEST_F(MainWindowTest, RowsAfterStartUpAreTheMachinesListedVolumes) {
  // The first mount path only; sizes count 4096-byte clusters, one more than the volume
  // has. The reduced edition shows neither size nor serial.
  std::vector<std::vector<std::wstring>> expected = {
      {SimMachine::VolumeGuidPath(1), L"C:\\", L"0", L"1", HddName(1), L"4100096", L"1234A001"},
      {SimMachine::VolumeGuidPath(2), L"D:\\", L"0", L"2", HddName(2), L"8196096", L"1234A002"},
      {SimMachine::VolumeGuidPath(3), L"", L"1", L"1", HddName(3), L"0", L""}};
  for (auto& row : expected) row.resize(kColumns.size());
  EXPECT_EQ(Cells(list()), expected) << "the CD-ROM volume is left out";
  EXPECT_EQ(SelectedIndex(list()), -1);
}

TEST_F(MainWindowTest, StatusBarIsEmptyAtStart) { EXPECT_EQ(StatusText(status()), L""); }

TEST_F(MainWindowTest, RefreshShowsNewVolumesAndLeavesNoRowSelected) {
  SelectRow(list(), 1);
  ASSERT_EQ(SelectedIndex(list()), 1);
  AddDiskVolume(5, 2, 1, {L"G:\\"});
  const int enumerations = Calls(SimMachine::Call::FindFirstVolume);

  Choose(Command::Refresh1);

  EXPECT_EQ(Calls(SimMachine::Call::FindFirstVolume), enumerations + 1);
  EXPECT_NE(FindRow(list(), SimMachine::VolumeGuidPath(5)), -1);
  EXPECT_EQ(Cells(list()).size(), 4u);
  EXPECT_EQ(SelectedIndex(list()), -1);
}

TEST_F(MainWindowTest, CommandsOutsideTheEditionsMenuDoNothing) {
  std::vector<WORD> ids = {0, 1, 100, 999};
  for (Command command :
       {Command::AddDosDevice1, Command::CopyDosDevicetoclipboard1, Command::GetSerialNumber1}) {
    bool offered = false;
    for (const auto& item : kMenuItems) offered = offered || item.id == static_cast<UINT>(command);
    if (!offered) ids.push_back(static_cast<WORD>(command));
  }
  SelectRow(list(), 0);
  machine.ClearCalls();
  ModalDriver no_box(
      [] {
        const auto boxes = ThreadWindows(L"#32770");
        if (boxes.empty()) return false;
        PostMessageW(boxes.front(), WM_COMMAND, IDCANCEL, 0);
        return true;
      },
      10);
  for (WORD id : ids) {
    SCOPED_TRACE(id);
    PostMessageW(main(), WM_COMMAND, id, 0);
    Pump();
  }
  EXPECT_FALSE(no_box.done()) << "no input box was shown";
  EXPECT_TRUE(machine.calls().empty());
  EXPECT_TRUE(machine.messages().empty());
  EXPECT_FALSE(machine.clipboard().has_value());
}

// ---------------------------------------------------------------- title

// Which executable names keep the caption is the window logic's table; here, that the
// window shows the title, or keeps its caption, once.
TEST(MainWindowTitle, TheFirstShowSetsTheTitleUnlessTheQuietExecutableRuleApplies) {
  InitControls();
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet);
    SimMachine machine;
    if (quiet) machine.SetExecutablePath(L"D:\\tools\\LINDQUAY.EXE");
    MainWindow window(machine, false);
    ASSERT_TRUE(window.Create());
    EXPECT_EQ(WindowText(window.hwnd()), L"Volumes") << "the layout caption until shown";
    ShowWindow(window.hwnd(), SW_SHOWNORMAL);
    Pump();
    const bool keeps_caption = quiet && !edition::kFull;
    EXPECT_EQ(WindowText(window.hwnd()),
              keeps_caption ? L"Volumes" : L"Karrowin 0.3 by " VOLUMES_CONTACT);
    EXPECT_EQ(machine.CountCalls(SimMachine::Call::FindFirstVolume), 1) << "FormShow refreshes";
    ShowWindow(window.hwnd(), SW_HIDE);
    ShowWindow(window.hwnd(), SW_SHOW);
    Pump();
    EXPECT_EQ(machine.CountCalls(SimMachine::Call::FindFirstVolume), 1)
        << "only the first show runs FormShow";
  }
}

TEST(MainWindowClose, ClosingTheProgramsWindowEndsTheMessageLoop) {
  InitControls();
  SimMachine machine;
  MSG message{};
  while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  {
    MainWindow window(machine);
    ASSERT_TRUE(window.Create());
    ShowWindow(window.hwnd(), SW_SHOWNORMAL);
    Pump();
    SendMessageW(window.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(window.hwnd(), nullptr) << "closed means destroyed";
  }
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(machine.open_handles(), 0);
}

// ---------------------------------------------------------------- WM_DEVICECHANGE

LRESULT SendVolumeEvent(HWND window, WPARAM event, uint32_t unitmask,
                        uint32_t device_type = DBT_DEVTYP_VOLUME) {
  DEV_BROADCAST_VOLUME record{};
  record.dbcv_size = sizeof record;
  record.dbcv_devicetype = device_type;
  record.dbcv_unitmask = unitmask;
  return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record));
}

TEST_F(MainWindowTest, ArrivalAndRemovalWriteTheStatusLineAndRefresh) {
  machine.SetLocalDateTimeText(L"09.12.2026 07:08:09");
  AddDiskVolume(6, 3, 1, {L"F:\\"});
  SendVolumeEvent(main(), DBT_DEVICEARRIVAL, 1u << 5 | 1u << 7);
  EXPECT_EQ(StatusText(status()), L"09.12.2026 07:08:09 : device inserted F:");
  EXPECT_NE(FindRow(list(), SimMachine::VolumeGuidPath(6)), -1);

  machine.RemoveVolume(SimMachine::VolumeGuidPath(6));
  machine.SetLocalDateTimeText(L"09.12.2026 07:10:00");
  SendVolumeEvent(main(), DBT_DEVICEREMOVECOMPLETE, 1u << 5);
  EXPECT_EQ(StatusText(status()), L"09.12.2026 07:10:00 : device removed F:");
  EXPECT_EQ(FindRow(list(), SimMachine::VolumeGuidPath(6)), -1);

  SendVolumeEvent(main(), DBT_DEVICEARRIVAL, 0);
  EXPECT_EQ(StatusText(status()), L"09.12.2026 07:10:00 : device inserted ")
      << "no letter: the line ends in the blank";
}

TEST_F(MainWindowTest, RefreshKeepsTheStatusLine) {
  SendVolumeEvent(main(), DBT_DEVICEARRIVAL, 1u << 2);
  const std::wstring line = StatusText(status());
  ASSERT_NE(line, L"");
  Choose(Command::Refresh1);
  EXPECT_EQ(StatusText(status()), line);
}

// ---------------------------------------------------------------- sorting by a header

// A click on a column's header, as the mouse gives it.
void ClickHeader(HWND list, int column) {
  const auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  RECT item{};
  SendMessageW(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(header, WM_LBUTTONUP, 0, at);
  Pump();
}

// The header's sort arrow of each column: 1 up, -1 down, 0 none.
std::vector<int> SortArrows(HWND list) {
  const auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  std::vector<int> arrows;
  for (int column = 0; column < Header_GetItemCount(header); ++column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
    arrows.push_back((item.fmt & HDF_SORTUP) ? 1 : (item.fmt & HDF_SORTDOWN) ? -1 : 0);
  }
  return arrows;
}

class SortedListTest : public MainWindowTest {
 protected:
  // Disks 10 and 9 beside the disks 0, 0 and 1: as text, 10 would sort before 9.
  void SetUp() override {
    MainWindowTest::SetUp();
    AddDiskVolume(5, 10, 1, {L"F:\\"});
    AddDiskVolume(6, 9, 1, {});
    Choose(Command::Refresh1);
  }
  // The volumes of the rows, top to bottom, as the numbers of their GUID paths.
  std::vector<int> Shown() {
    std::vector<int> shown;
    for (const auto& row : Cells(list())) {
      for (int n = 1; n <= 9; ++n) {
        if (row[0] == SimMachine::VolumeGuidPath(n)) shown.push_back(n);
      }
    }
    return shown;
  }
  static constexpr int kDisk = kSubDiskNumber + 1;
};

TEST_F(SortedListTest, AHeaderClickSortsAndASecondReversesWithTheSystemsArrow) {
  EXPECT_EQ(Shown(), (std::vector<int>{1, 2, 3, 5, 6})) << "the tables' order until a click";
  EXPECT_EQ(SortArrows(list()), std::vector<int>(kColumns.size(), 0));

  ClickHeader(list(), kDisk);
  EXPECT_EQ(Shown(), (std::vector<int>{1, 2, 3, 6, 5}));
  std::vector<int> arrows(kColumns.size(), 0);
  arrows[kDisk] = 1;
  EXPECT_EQ(SortArrows(list()), arrows);

  ClickHeader(list(), kDisk);
  EXPECT_EQ(Shown(), (std::vector<int>{5, 6, 3, 1, 2})) << "equal disks keep their order";
  arrows[kDisk] = -1;
  EXPECT_EQ(SortArrows(list()), arrows);

  ClickHeader(list(), 0);  // another column starts ascending
  EXPECT_EQ(SortArrows(list())[kDisk], 0);
  EXPECT_EQ(SortArrows(list())[0], 1);
}

TEST_F(SortedListTest, EveryRefreshKeepsTheOrderAndLeavesNoRowSelected) {
  ClickHeader(list(), kDisk);
  ClickHeader(list(), kDisk);
  AddDiskVolume(7, 100, 1, {});
  const std::vector<int> descending{7, 5, 6, 3, 1, 2};
  const std::vector<int> arrows = SortArrows(list());
  const std::function<void()> refreshes[] = {
      [&] { SendMessageW(list(), WM_KEYDOWN, VK_F5, 0); },
      [&] { Choose(Command::Refresh1); },
      [&] { SendVolumeEvent(main(), DBT_DEVICEARRIVAL, 1u << 6); },
      [&] { Choose(Command::Unmount1); },  // unmounts F: of the selected volume 5
      [&] { Choose(Command::Mount1); },    // and mounts it again
  };
  for (const auto& refresh : refreshes) {
    SelectRow(list(), 1);
    refresh();
    Pump();
    EXPECT_EQ(Shown(), descending);
    EXPECT_EQ(SelectedIndex(list()), -1);
    EXPECT_EQ(SortArrows(list()), arrows);
  }
  EXPECT_EQ(Calls(SimMachine::Call::DeleteVolumeMountPoint), 1);
  EXPECT_EQ(machine.MountPaths(SimMachine::VolumeGuidPath(5)).size(), 1u) << "mounted again";
  EXPECT_TRUE(machine.messages().empty());
}

TEST_F(SortedListTest, CommandsActOnTheSelectedRowWhereverTheOrderPutIt) {
  SelectRow(list(), FindRow(list(), SimMachine::VolumeGuidPath(6)));
  ClickHeader(list(), kDisk);
  ClickHeader(list(), kDisk);
  const int moved = FindRow(list(), SimMachine::VolumeGuidPath(6));
  EXPECT_EQ(moved, 1) << "the last row in the tables' order";
  EXPECT_EQ(SelectedIndex(list()), moved) << "the selection follows its row";

  Choose(Command::CopyVolumeName1);
  ASSERT_TRUE(machine.clipboard().has_value());
  EXPECT_EQ(machine.clipboard()->text, SimMachine::VolumeGuidPath(6));
  SelectRow(list(), 0);  // volume 5, mounted at F:
  Choose(Command::Unmount1);
  EXPECT_TRUE(machine.MountPaths(SimMachine::VolumeGuidPath(5)).empty());
  EXPECT_EQ(machine.MountPaths(SimMachine::VolumeGuidPath(1)), std::vector<std::wstring>{L"C:\\"});
}

// Ctrl+Shift+C as the keyboard gives it: the list's captions and cells as the control holds
// them, in the order the header chose; the selection and the status bar stay.
TEST_F(SortedListTest, CtrlShiftCCopiesTheListAsShown) {
  ClickHeader(list(), kDisk);
  SelectRow(list(), 1);
  std::vector<std::vector<std::wstring>> lines{{}};
  for (const auto& column : Columns(list())) lines[0].push_back(column.caption);
  for (const auto& row : Cells(list())) lines.push_back(row);
  std::wstring shown;  // each line's cells joined by tabs, ended by CR LF
  for (const auto& line : lines) {
    for (const auto& cell : line) shown += cell + (&cell == &line.back() ? L"\r\n" : L"\t");
  }
  SetForegroundWindow(main());
  SetFocus(list());
  INPUT keys[6]{};
  const WORD order[] = {VK_CONTROL, VK_SHIFT, 'C', 'C', VK_SHIFT, VK_CONTROL};
  for (int i = 0; i < 6; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki = {order[i], 0, i < 3 ? 0u : KEYEVENTF_KEYUP, 0, 0};
  }
  ASSERT_EQ(SendInput(6, keys, sizeof(INPUT)), 6u);
  Pump();
  ASSERT_TRUE(machine.clipboard().has_value());
  EXPECT_EQ(machine.clipboard()->text, shown);
  EXPECT_EQ(machine.clipboard()->form, ApiForm::Wide);
  EXPECT_EQ(SelectedIndex(list()), 1);
  EXPECT_EQ(StatusText(status()), L"");
}

// ---------------------------------------------------------------- resolution changes

TEST_F(MainWindowTest, DpiChangeRescalesFontColumnsAndWindow) {
  const UINT old_dpi = dpi();
  RECT before{};
  GetWindowRect(main(), &before);
  // 125 %, 150 % and 200 % of the system's DPI, each from the window as it started. The
  // window takes the suggested rectangle where the test screen lets it be that large.
  for (const int percent : {125, 150, 200}) {
    SCOPED_TRACE(percent);
    const UINT new_dpi = old_dpi * percent / 100;
    const RECT suggested{10, 20, 10 + MulDiv(before.right - before.left, percent, 100),
                         20 + MulDiv(before.bottom - before.top, percent, 100)};
    SendMessageW(main(), WM_DPICHANGED, MAKEWPARAM(new_dpi, new_dpi),
                 reinterpret_cast<LPARAM>(&suggested));

    RECT after{};
    GetWindowRect(main(), &after);
    EXPECT_EQ(after.left, suggested.left);
    EXPECT_EQ(after.top, suggested.top);
    if (suggested.right - suggested.left <= GetSystemMetrics(SM_CXMAXTRACK) &&
        suggested.bottom - suggested.top <= GetSystemMetrics(SM_CYMAXTRACK)) {
      EXPECT_EQ(after.right, suggested.right);
      EXPECT_EQ(after.bottom, suggested.bottom);
    }
    EXPECT_EQ(FontOf(list()).lfHeight, ScaleMain(kLayout.font_height, new_dpi));
    const auto columns = Columns(list());
    ASSERT_EQ(columns.size(), kColumns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      SCOPED_TRACE(i);
      const int old_width = ScaleMain(kColumns[i].width, old_dpi);
      EXPECT_EQ(columns[i].width,
                MulDiv(old_width, static_cast<int>(new_dpi), static_cast<int>(old_dpi)));
    }
    const RECT bar = RectInParent(status());
    EXPECT_EQ(bar.bottom - bar.top, MulDiv(kStatusBarHeight, static_cast<int>(new_dpi), 96));
    EXPECT_EQ(RectInParent(list()).bottom, bar.top);
    EXPECT_EQ(bar.bottom, ClientRectOf(main()).bottom);

    SendMessageW(main(), WM_DPICHANGED, MAKEWPARAM(old_dpi, old_dpi),
                 reinterpret_cast<LPARAM>(&before));
    EXPECT_EQ(FontOf(list()).lfHeight, ScaleMain(kLayout.font_height, old_dpi));
  }
}

// ---------------------------------------------------------------- FormView

TEST_F(MainWindowTest, SetRowsFillsMissingCellsDropsCellsWithoutAColumnAndKeepsRecords) {
  std::vector<std::wstring> too_many(kColumns.size() + 3, L"cell");
  window->SetRows({ListRow{L"short", {L"P"}, 7}, ListRow{L"long", too_many, 3}});
  EXPECT_FALSE(window->SelectedRecord().has_value()) << "no row is selected after SetRows";
  const auto cells = Cells(list());
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0][0], L"short");
  EXPECT_EQ(cells[0][1], L"P");
  for (std::size_t column = 2; column < cells[0].size(); ++column) EXPECT_EQ(cells[0][column], L"");
  SelectRow(list(), 1);
  EXPECT_EQ(window->SelectedRecord(), 3u) << "the row's record, not its place";

  window->SetRows({});
  EXPECT_TRUE(Cells(list()).empty());
  EXPECT_FALSE(window->SelectedRecord().has_value());
}

}  // namespace
}  // namespace vol::ui_test
