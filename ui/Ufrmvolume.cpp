// The main window's unit, window-free part. Everything a command decides lives here;
// the real window only shows what FormView is told.
#include "ui/Ufrmvolume.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>
#include <utility>

#include "devices/lib.h"
#include "devices/text_forms.h"
#include "devices/ubits.h"
#include "devices/udiskmgmt.h"

namespace vol {
namespace {

constexpr uint32_t kRefreshDelayMs = 500;
constexpr std::wstring_view kInputCaption = L"Lindquay";

// The bit of the drive a path begins with (C: gives 2); -1 when it begins with none.
int DriveBit(std::wstring_view path) {
  if (path.size() < 2 || path[1] != L':') return -1;
  const wchar_t letter = LowerAscii(path[0]);
  return letter >= L'a' && letter <= L'z' ? letter - L'a' : -1;
}

// Disk and partition number, of which only the low 8 bits are shown; 255 when unknown.
using Numbers = std::pair<uint8_t, uint8_t>;
constexpr uint8_t kUnknownNumber = 255;
constexpr Numbers kUnknownNumbers{kUnknownNumber, kUnknownNumber};

Numbers Low8(const StorageDeviceNumber& number) {
  return {static_cast<uint8_t>(number.DeviceNumber), static_cast<uint8_t>(number.PartitionNumber)};
}

// The device number, else the first extent's disk with the partition unknown.
Numbers DiskNumbers(const VolumeRecord& volume) {
  if (volume.device_number) return Low8(*volume.device_number);
  if (volume.first_extent)
    return {static_cast<uint8_t>(volume.first_extent->DiskNumber), kUnknownNumber};
  return kUnknownNumbers;
}

std::wstring SerialText(const std::optional<uint32_t>& serial) {
  return serial ? HexText(*serial) : std::wstring();
}

// The file name of a path, without its folder. Only the reduced edition asks for it.
[[maybe_unused]] std::wstring_view FileNameOf(std::wstring_view path) {
  const std::size_t cut = path.find_last_of(L"\\/:");
  return cut == std::wstring_view::npos ? path : path.substr(cut + 1);
}

// Negative, zero or positive as a's cell in the column comes before, with or after b's.
int CompareCells(const ColumnRow& column, const ListRecord& a, const ListRecord& b) {
  if (column.number) {
    const std::optional<int64_t>&x = a.*column.number, &y = b.*column.number;
    return x == y ? 0 : x < y ? -1 : 1;  // a row without a value first
  }
  const std::wstring &x = a.*column.text, &y = b.*column.text;
  return column.order == CellOrder::Hexadecimal ? CompareHexValue(x, y) : CompareLogical(x, y);
}

// A record's cell in a column, written as the column says: a text as it is, a number in
// decimal, an absent number as empty text.
std::wstring CellText(const ColumnRow& column, const ListRecord& record) {
  if (column.text) return record.*column.text;
  const std::optional<int64_t>& number = record.*column.number;
  return number ? Decimal(*number) : std::wstring();
}

// The list row of a record, each cell written once where the row keeps it.
ListRow RowOf(const ListRecord& record, std::size_t index) {
  ListRow row{CellText(*kColumns.front(), record), {}, index};
  row.sub_items.reserve(kColumns.size() - 1);
  for (auto column = kColumns.begin() + 1; column != kColumns.end(); ++column) {
    row.sub_items.push_back(CellText(**column, record));
  }
  return row;
}

bool Offered(Command command) {
  return command != Command::None && std::ranges::any_of(kMenu, [command](const MenuItem& item) {
           return item.command == command;
         });
}

}  // namespace

int64_t get_volume_size(const std::optional<FreeSpace>& space) {
  if (!space) return 0;
  return static_cast<int64_t>(space->ClusterSize()) * (int64_t{space->total_clusters} + 1);
}

std::wstring get_volume_serial(Platform& platform, const std::wstring& path) {
  return SerialText(VolumeSerialNumber(platform, path));
}

std::wstring unitmask_to_drive(uint32_t unitmask) {
  for (int bit = 0; bit < 26; ++bit) {
    if (IsBitSet(unitmask, bit)) return {static_cast<wchar_t>(L'A' + bit), L':'};
  }
  return {};
}

// ---------------------------------------------------------------- list rows

const std::wstring& ListRow::sub(int index) const {
  static const std::wstring kEmpty;
  if (index < 0 || static_cast<std::size_t>(index) >= sub_items.size()) return kEmpty;
  return sub_items[static_cast<std::size_t>(index)];
}

std::vector<ListRecord> ShownRecords(const MachineScan& scan) {
  std::vector<ListRecord> rows;
  rows.reserve(scan.volumes.size() + scan.drives.size() + scan.shadows.size());
  uint32_t volume_letters = 0;  // a letter is a volume's when its first mount path is on it
  for (const VolumeRecord& volume : scan.volumes) {
    const std::wstring_view path =
        volume.mount_paths.empty() ? std::wstring_view() : volume.mount_paths.front();
    if (const int bit = DriveBit(path); bit >= 0) volume_letters = SetBit(volume_letters, bit);
    if (volume.guid_path.empty()) continue;
    const Numbers numbers = DiskNumbers(volume);
    rows.push_back({.volume = volume.guid_path,
                    .pathname = std::wstring(path),
                    .disknumber = numbers.first,
                    .partitionnumber = numbers.second,
                    .dosdevice = volume.nt_name,
                    .size = get_volume_size(volume.free_space),
                    .serial = SerialText(volume.serial)});
  }
  for (const DriveRecord& drive : scan.drives) {
    if (IsBitSet(volume_letters, drive.letter - L'A')) continue;
    const Numbers numbers = drive.device_number ? Low8(*drive.device_number) : kUnknownNumbers;
    rows.push_back({.kind = RowKind::DosDevice,
                    .pathname = edition::kDosRowBackslash ? drive.drive() + L"\\" : drive.drive(),
                    .disknumber = numbers.first,
                    .partitionnumber = numbers.second,
                    .dosdevice = drive.nt_name});
  }
  for (const ShadowRecord& shadow : scan.shadows) {
    rows.push_back({.kind = RowKind::ShadowCopy,
                    .dosdevice = shadow.target,
                    .size = get_volume_size(shadow.free_space),
                    .serial = SerialText(shadow.serial)});
  }
  return rows;
}

std::vector<ListRow> SortedRows(const std::vector<ListRecord>& records, const SortOrder& order) {
  std::vector<std::size_t> shown(records.size());
  std::iota(shown.begin(), shown.end(), std::size_t{0});
  if (order.column >= 0 && static_cast<std::size_t>(order.column) < kColumns.size()) {
    const ColumnRow& column = *kColumns[static_cast<std::size_t>(order.column)];
    std::ranges::stable_sort(shown, [&](std::size_t i, std::size_t j) {
      const ListRecord &a = records[i], &b = records[j];
      if (a.kind != b.kind) return a.kind < b.kind;
      const int difference = CompareCells(column, a, b);
      return order.descending ? difference > 0 : difference < 0;
    });
  }
  std::vector<ListRow> rows;
  rows.reserve(records.size());
  for (const std::size_t record : shown) rows.push_back(RowOf(records[record], record));
  return rows;
}

std::wstring ListText(const std::vector<ListRow>& rows) {
  constexpr wchar_t kCellEnd = L'\t';
  constexpr std::wstring_view kLineEnd = L"\r\n";
  std::wstring text;
  for (const ColumnRow* column : kColumns) {
    if (column != kColumns.front()) text += kCellEnd;
    text += column->place().caption;
  }
  text += kLineEnd;
  for (const ListRow& row : rows) {
    text += row.caption;
    // As the list shows a row: a cell for every column, empty where the row has none.
    for (int sub = 0; sub + 1 < static_cast<int>(kColumns.size()); ++sub) {
      text += kCellEnd;
      text += row.sub(sub);
    }
    text += kLineEnd;
  }
  return text;
}

// ---------------------------------------------------------------- the window's handlers

void Tfrmvolumes::FormShow() {
  bool set_title = true;
  if constexpr (edition::kQuietExecutableRule) {
    set_title = LowerAscii(FileNameOf(platform_.ExecutablePath())) != edition::kQuietExecutable;
  }
  if (set_title) view_.SetTitle(std::wstring(edition::kTitle));
  refresh_list();
}

// The list and the records its rows point at change together or not at all: a refresh
// that fails on the way leaves the previous ones agreeing, and a box the scan shows
// may run a refresh of its own, which this one then replaces whole.
void Tfrmvolumes::refresh_list() {
  MachineScan scan = Scan(platform_, {.dos_devices = view_.IsChecked(Command::Getnonvolumedrives1),
                                      .search_failed = [this](const std::wstring& reason) {
                                        platform_.ShowMessage(L"list_volumes:" + reason);
                                      }});
  std::vector<ListRecord> records = ShownRecords(scan);
  view_.SetRows(SortedRows(records, order_));
  records_ = std::move(records);
  scan_ = std::move(scan);
}

std::optional<ListRecord> Tfrmvolumes::Selected() {
  const std::optional<std::size_t> record = view_.SelectedRecord();
  if (!record || *record >= records_.size()) return std::nullopt;
  return records_[*record];
}

void Tfrmvolumes::lvvolumesColumnClick(int column) {
  if (column < 0 || static_cast<std::size_t>(column) >= kColumns.size()) return;
  order_ = {column, order_.column == column && !order_.descending};
  const std::optional<std::size_t> selected = view_.SelectedRecord();
  std::vector<ListRow> rows = SortedRows(records_, order_);
  const auto row = selected ? std::ranges::find(rows, *selected, &ListRow::record) : rows.end();
  const std::ptrdiff_t selected_row = row == rows.end() ? -1 : row - rows.begin();
  view_.SetRows(std::move(rows));
  view_.ShowSortOrder(order_);
  if (selected_row >= 0) view_.SelectRow(static_cast<int>(selected_row));
}

void Tfrmvolumes::RunHandlerOf(Command command) {
  if (!Offered(command)) return;
  for (const CommandRow& row : kCommands) {
    if (row.id == command) return (this->*row.handler)();
  }
}

void Tfrmvolumes::Refresh1Click() { refresh_list(); }

void Tfrmvolumes::Getnonvolumedrives1Click() {
  const auto item = Command::Getnonvolumedrives1;
  view_.SetChecked(item, !view_.IsChecked(item));
  refresh_list();
}

void Tfrmvolumes::Unmount1Click() {
  const std::optional<ListRecord> row = Selected();
  if (!row || row->volume.empty()) return;
  AfterMountChange(unmount_vol(platform_, row->pathname), L"unmount failed");
}

void Tfrmvolumes::Mount1Click() {
  const std::optional<ListRecord> row = Selected();
  if (!row || row->volume.empty()) return;
  AfterMountChange(mount_vol(platform_, row->volume, L""), L"mount failed");
}

void Tfrmvolumes::Mount2Click() {
  const std::optional<ListRecord> row = Selected();
  if (!row || row->volume.empty()) return;
  const std::optional<std::wstring> path =
      view_.InputBox(std::wstring(kInputCaption), L"Enter Path : x:\\, c:\\mount\\", L"x:\\");
  // Cancel means the user changed their mind: nothing is mounted.
  if (!path) return;
  AfterMountChange(mount_vol(platform_, row->volume, *path), L"mount failed");
}

// The system announces a changed mount a moment later; the list waits for it.
void Tfrmvolumes::AfterMountChange(bool ok, const wchar_t* failure) {
  if (!ok) platform_.ShowMessage(failure);
  platform_.Sleep(kRefreshDelayMs);
  refresh_list();
}

void Tfrmvolumes::RemoveDosDevice1Click() {
  const std::optional<ListRecord> row = Selected();
  if (!row) return;
  // A drive root such as C:\ names the DOS device C:.
  std::wstring name = row->pathname;
  if (const std::size_t slash = name.find(L'\\'); slash != std::wstring::npos) {
    name.erase(slash, 1);
  }
  if (!RemoveDosDevice(platform_, name, row->dosdevice)) {
    platform_.ShowMessage(L"failed");
  }
}

void Tfrmvolumes::AddDosDevice1Click() {
  if (!Offered(Command::AddDosDevice1)) return;
  const std::optional<ListRecord> row = Selected();
  if (!row) return;
  const std::optional<std::wstring> name =
      view_.InputBox(std::wstring(kInputCaption), L"Enter Path : x:", L"x:");
  if (!name) return;
  const bool ok = AddDosDevice(platform_, *name, row->dosdevice);
  view_.SetStatusText(ok ? L"Add Device OK" : L"Cannot DefineDosDevice.");
  refresh_list();
}

void Tfrmvolumes::CopyVolumeName1Click() {
  const std::optional<ListRecord> row = Selected();
  if (!row) return;
  platform_.SetClipboardText(row->volume, edition::kClipboardForm);
}

void Tfrmvolumes::CopyDosDevicetoclipboard1Click() {
  if (!Offered(Command::CopyDosDevicetoclipboard1)) return;
  const std::optional<ListRecord> row = Selected();
  if (!row) return;
  platform_.SetClipboardText(row->dosdevice, edition::kClipboardForm);
}

void Tfrmvolumes::GetVolumeInformations1Click() {
  const std::optional<ListRecord> row = Selected();
  if (!row) {
    platform_.ShowMessage(L"pick a volume");
    return;
  }
  std::wstring target = WithoutTrailingBackslash(row->volume);
  if (target.empty()) target = row->pathname;
  if (target.empty()) target = row->dosdevice;
  PropertiesView& properties = view_.OpenProperties(L"Properties for " + target);
  std::vector<std::wstring> lines;
  GetVolumeReport(platform_, CutAtBlank(target), lines);
  properties.SetLines(lines);
}

void Tfrmvolumes::GetSerialNumber1Click() {
  if (!Offered(Command::GetSerialNumber1)) return;
  const std::optional<ListRecord> row = Selected();
  if (!row) {
    platform_.ShowMessage(L"pick a volume");
    return;
  }
  std::wstring path = row->volume;
  if (path.empty()) path = row->pathname;
  if (path.empty()) path = row->dosdevice + L"\\";
  platform_.ShowMessage(get_volume_serial(platform_, path));
}

void Tfrmvolumes::lvvolumesDblClick() { GetVolumeInformations1Click(); }

void Tfrmvolumes::WMDeviceChange(uint32_t event, const DevBroadcastHeader* record) {
  const wchar_t* what = event == dbt::kDeviceArrival          ? L" : device inserted "
                        : event == dbt::kDeviceRemoveComplete ? L" : device removed "
                                                              : nullptr;
  if (what == nullptr || record == nullptr) return;
  // A record too short to hold the unit mask is not a volume record we can read.
  constexpr std::size_t kMaskEnd = offsetof(DevBroadcastVolume, dbcv_unitmask) + sizeof(uint32_t);
  if (record->dbch_devicetype != dbt::kDevTypVolume || record->dbch_size < kMaskEnd) return;
  uint32_t unitmask = 0;
  std::memcpy(
      &unitmask,
      reinterpret_cast<const unsigned char*>(record) + offsetof(DevBroadcastVolume, dbcv_unitmask),
      sizeof unitmask);
  view_.SetStatusText(platform_.LocalDateTimeText() + what + unitmask_to_drive(unitmask));
  refresh_list();
}

void Tfrmvolumes::CopyListAsText() {
  // The list holds the rows of these records in this order: refresh_list and the header
  // clicks hand it no others. Unicode text in both editions; the system offers it as
  // ANSI text to programs that ask for that.
  platform_.SetClipboardText(ListText(SortedRows(records_, order_)), ApiForm::Wide);
}

}  // namespace vol
