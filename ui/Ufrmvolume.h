// The main window's unit, window-free part: the list rows a scan of the machine gives,
// and the main window's handlers (class Tfrmvolumes), which act on the real window only
// through FormView.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devices/scan.h"
#include "platform/platform.h"
#include "platform/records.h"
#include "ui/edition.h"

namespace vol {

// The size of a volume by its cluster counts (one cluster more than it has); 0 when the
// system cannot tell.
int64_t get_volume_size(const std::optional<FreeSpace>& space);
// The serial number of a root path in hexadecimal; empty when the system cannot tell.
std::wstring get_volume_serial(Platform& platform, const std::wstring& path);

// The drive (E:) of the lowest of bits 0..25; empty when none is set.
std::wstring unitmask_to_drive(uint32_t unitmask);

// ---------------------------------------------------------------- list rows
// The three kinds of list row, in the order the list shows them.
enum class RowKind { Volume, DosDevice, ShadowCopy };

// What one list row shows, whatever its kind; the commands read it too. A field its kind
// has no value for stays empty (text) or absent (number), and so does the field's cell.
struct ListRecord {
  RowKind kind = RowKind::Volume;
  std::wstring volume{}, pathname{};
  std::optional<int64_t> disknumber{}, partitionnumber{};
  std::wstring dosdevice{};
  std::optional<int64_t> size{};
  std::wstring serial{};  // hexadecimal digits
};

// The column table. A column shows one field of the record, a text as it is and a number
// in decimal; it orders the rows by that field: texts as Explorer orders names, numbers
// and hexadecimal texts by their value. Each edition shows, in the table's order, the
// columns it gives a caption and a width.
enum class CellOrder { Logical, Number, Hexadecimal };
struct ColumnPlace {
  std::wstring_view caption;
  int width = 0;
};
struct ColumnRow {
  using TextField = std::wstring ListRecord::*;
  using NumberField = std::optional<int64_t> ListRecord::*;
  constexpr ColumnRow(TextField field, CellOrder order, ColumnPlace full, ColumnPlace reduced)
      : text(field), order(order), full(full), reduced(reduced) {}
  constexpr ColumnRow(NumberField field, ColumnPlace full, ColumnPlace reduced)
      : number(field), order(CellOrder::Number), full(full), reduced(reduced) {}
  constexpr ColumnPlace place() const { return edition::kFull ? full : reduced; }
  constexpr bool Shows(TextField field) const { return text == field; }
  constexpr bool Shows(NumberField field) const { return number == field; }

  TextField text = nullptr;
  NumberField number = nullptr;
  CellOrder order;
  ColumnPlace full, reduced;
};
// clang-format off
inline constexpr ColumnRow kColumnTable[] = {
    // field, order;           full edition: caption, width;  reduced edition: caption, width
    {&ListRecord::volume, CellOrder::Logical,      {L"Volume", 369},      {L"Volume", 275}},
    {&ListRecord::pathname, CellOrder::Logical,    {L"PathName", 92},     {L"PathName", 75}},
    {&ListRecord::disknumber,                      {L"Disk #", 62},       {L"DiskNumber", 100}},
    {&ListRecord::partitionnumber,                 {L"Part #", 62},       {L"PartitionNumber", 100}},
    {&ListRecord::dosdevice, CellOrder::Logical,   {L"Dos Device", 215},  {L"Dos Device", 150}},
    {&ListRecord::size,                            {L"Volume Size", 154}, {}},
    {&ListRecord::serial, CellOrder::Hexadecimal,  {L"Serial", 123},      {}},
};
// clang-format on

// The rows of a table that this edition has (a caption in its place), in table order.
template <std::size_t Count, typename Row, std::size_t N>
constexpr std::array<const Row*, Count> EditionRows(const Row (&table)[N]) {
  std::array<const Row*, Count> rows{};
  std::size_t count = 0;
  for (const Row& row : table) {
    if (!row.place().caption.empty()) rows[count++] = &row;
  }
  return rows;
}
template <typename Row, std::size_t N>
constexpr std::size_t CountInEdition(const Row (&table)[N]) {
  return std::ranges::count_if(table, [](const Row& row) { return !row.place().caption.empty(); });
}

// This edition's columns, in list order.
inline constexpr auto kColumns = EditionRows<CountInEdition(kColumnTable)>(kColumnTable);
// Commands read the volume of a row as its caption.
static_assert(kColumns[0]->Shows(&ListRecord::volume));
// A list row as text: the caption (column "Volume") and the sub-items in column order,
// and the index of the record it shows.
struct ListRow {
  std::wstring caption;
  std::vector<std::wstring> sub_items;
  std::size_t record = 0;

  // A sub-item by position; empty text when the row has fewer.
  const std::wstring& sub(int index) const;
  bool operator==(const ListRow&) const = default;
};

// The records of the rows a scan gives, in the scan's order: its volumes, the drive
// letters that are no listed volume's, its shadow copies.
std::vector<ListRecord> ShownRecords(const MachineScan& scan);

// The order the user chose by a column's header; no column: the scan's own order.
struct SortOrder {
  int column = -1;
  bool descending = false;
};
// The rows of the records in the order chosen: each kind of row stays in its place
// (volume rows, then DOS-device rows, then shadow copies) and is sorted within it;
// rows of equal keys keep the scan's order.
std::vector<ListRow> SortedRows(const std::vector<ListRecord>& records, const SortOrder& order);

// Rows as text for a ticket, a chat or a spreadsheet: a line of this edition's column
// captions, then one line per row in the given order with its cells whole; cells are
// separated by a tab, and every line ends with CR LF.
std::wstring ListText(const std::vector<ListRow>& rows);

// ---------------------------------------------------------------- the window's side
// The items of the context menu PopupMenu1, by their WM_COMMAND ids.
enum class Command : uint16_t {
  None = 0,  // a separator
  Unmount1 = 101,
  Mount1,
  Mount2,
  Getnonvolumedrives1,
  RemoveDosDevice1,
  AddDosDevice1,
  CopyVolumeName1,
  CopyDosDevicetoclipboard1,
  GetVolumeInformations1,
  GetSerialNumber1,
  Refresh1,
};

// What Tfrmvolumes asks of the real window (and of a test double in tests).
class PropertiesView {
 public:
  virtual ~PropertiesView() = default;
  virtual void SetLines(const std::vector<std::wstring>& lines) = 0;
};

class FormView {
 public:
  virtual ~FormView() = default;
  virtual void SetTitle(const std::wstring& title) = 0;
  // Replaces every row of lvvolumes; no row is selected afterwards. The rows are the
  // view's to keep. When it fails, the list keeps the rows it had.
  virtual void SetRows(std::vector<ListRow> rows) = 0;
  // The record of the selected row (its ListRow::record); nothing when none is selected.
  virtual std::optional<std::size_t> SelectedRecord() = 0;
  virtual void SelectRow(int index) = 0;
  // The sort arrow in the header of the order's column, and in no other.
  virtual void ShowSortOrder(const SortOrder& order) = 0;
  virtual bool IsChecked(Command item) = 0;
  virtual void SetChecked(Command item, bool checked) = 0;
  virtual void SetStatusText(const std::wstring& text) = 0;
  // The modal input box; nothing when the user cancels or closes it.
  virtual std::optional<std::wstring> InputBox(const std::wstring& caption,
                                               const std::wstring& prompt,
                                               const std::wstring& default_text) = 0;
  // Creates and shows a new properties window with the given caption.
  virtual PropertiesView& OpenProperties(const std::wstring& caption) = 0;
};

// The main window's handlers.
class Tfrmvolumes {
 public:
  Tfrmvolumes(Platform& platform, FormView& view) : platform_(platform), view_(view) {}

  void FormShow();
  void refresh_list();
  // Runs the handler of a context-menu item of this edition's menu; nothing for any other.
  void RunHandlerOf(Command command);

  void Refresh1Click();
  void Getnonvolumedrives1Click();
  void Unmount1Click();
  void Mount1Click();
  void Mount2Click();
  void RemoveDosDevice1Click();
  void AddDosDevice1Click();
  void CopyVolumeName1Click();
  void CopyDosDevicetoclipboard1Click();
  void GetVolumeInformations1Click();
  void GetSerialNumber1Click();
  void lvvolumesDblClick();
  // Ctrl+Shift+C: the whole list, as shown, on the clipboard as text; the list, its
  // selection and the status bar stay as they are.
  void CopyListAsText();
  // A click on a column's header: sorts by that column, or reverses the order when the
  // rows are sorted by it already. The selected row stays selected.
  void lvvolumesColumnClick(int column);

  // WM_DEVICECHANGE: event is wParam, record the lParam pointer (may be null).
  void WMDeviceChange(uint32_t event, const DevBroadcastHeader* record);

  // The machine as the last refresh found it.
  const MachineScan& scan() const { return scan_; }

 private:
  // A copy of the selected row's record; nothing when no row is selected. A copy,
  // because an input box or a message box lets WM_DEVICECHANGE in, and the refresh it
  // runs replaces the records while the command still needs what the user chose.
  std::optional<ListRecord> Selected();
  // Says failure unless ok, then waits and refreshes the list.
  void AfterMountChange(bool ok, const wchar_t* failure);

  Platform& platform_;
  FormView& view_;
  MachineScan scan_;
  // The records of the rows it gave, in the scan's order, and the order the user chose.
  std::vector<ListRecord> records_;
  SortOrder order_;
};

// ---------------------------------------------------------------- the command registry
// One row per item of PopupMenu1: its id (named after the item), its handler, and its
// place and caption in each edition's menu (no caption: the edition has no such item).
struct MenuPlace {
  int order;                  // the item's place in the edition's menu, ascending
  std::wstring_view caption;  // "-" for a separator; empty where the edition lacks it
};
// A command's row names its handler; there is no way to write one without it. A
// separator has neither id nor handler.
struct CommandRow {
  using Handler = void (Tfrmvolumes::*)();
  constexpr CommandRow(Command id, Handler handler, MenuPlace full, MenuPlace reduced)
      : id(id), handler(handler), full(full), reduced(reduced) {}
  static constexpr CommandRow Separator(MenuPlace full, MenuPlace reduced) {
    return CommandRow(Command::None, nullptr, full, reduced);
  }

  constexpr MenuPlace place() const { return edition::kFull ? full : reduced; }

  Command id;
  Handler handler;
  MenuPlace full, reduced;
};
// clang-format off
inline constexpr CommandRow kCommands[] = {
    // id, handler;
    //   full edition: place, caption        reduced edition: place, caption
    {Command::Unmount1, &Tfrmvolumes::Unmount1Click, {10, L"Unmount Volume"}, {10, L"Unmount"}},
    {Command::Mount1, &Tfrmvolumes::Mount1Click,
     {20, L"Mount Volume (Auto assign letter)"}, {20, L"Mount (Auto assign letter)"}},
    {Command::Mount2, &Tfrmvolumes::Mount2Click,
     {30, L"Mount Volume (Specify path)"}, {30, L"Mount (Specify path)"}},
    CommandRow::Separator({40, L"-"}, {40, L"-"}),
    {Command::Getnonvolumedrives1, &Tfrmvolumes::Getnonvolumedrives1Click,
     {50, L"Get Dos Devices"}, {150, L"Get non-volume drives"}},
    {Command::RemoveDosDevice1, &Tfrmvolumes::RemoveDosDevice1Click,
     {60, L"Remove Dos Device Letter"}, {60, L"Remove DosDevice"}},
    {Command::AddDosDevice1, &Tfrmvolumes::AddDosDevice1Click, {70, L"Add Dos Device Letter"}, {}},
    CommandRow::Separator({80, L"-"}, {80, L"-"}),
    {Command::CopyVolumeName1, &Tfrmvolumes::CopyVolumeName1Click,
     {90, L"Copy Volume Name (to clipboard)"}, {90, L"Copy VolumeName"}},
    {Command::CopyDosDevicetoclipboard1, &Tfrmvolumes::CopyDosDevicetoclipboard1Click,
     {100, L"Copy Dos Device (to clipboard)"}, {}},
    CommandRow::Separator({}, {100, L"-"}),
    {Command::GetVolumeInformations1, &Tfrmvolumes::GetVolumeInformations1Click,
     {110, L"Get Volume / Dos Device Informations"}, {110, L"Get Volume Informations"}},
    {Command::GetSerialNumber1, &Tfrmvolumes::GetSerialNumber1Click,
     {120, L"Get Volume / Dos Device Serial Number"}, {}},
    CommandRow::Separator({130, L"-"}, {130, L"-"}),
    {Command::Refresh1, &Tfrmvolumes::Refresh1Click, {140, L"Refresh"}, {140, L"Refresh"}},
};
// clang-format on

// An item of this edition's menu.
struct MenuItem {
  std::wstring_view caption;  // "-" for a separator
  Command command;            // Command::None for a separator
};

namespace registry_detail {
constexpr std::size_t kMenuSize = CountInEdition(kCommands);
constexpr std::array<MenuItem, kMenuSize> MenuInOrder() {
  std::array<const CommandRow*, kMenuSize> rows = EditionRows<kMenuSize>(kCommands);
  std::ranges::sort(rows, {}, [](const CommandRow* row) { return row->place().order; });
  std::array<MenuItem, kMenuSize> menu{};
  for (std::size_t i = 0; i < kMenuSize; ++i) menu[i] = {rows[i]->place().caption, rows[i]->id};
  return menu;
}
}  // namespace registry_detail

// This edition's PopupMenu1, in menu order.
inline constexpr std::array<MenuItem, registry_detail::kMenuSize> kMenu =
    registry_detail::MenuInOrder();

}  // namespace vol
