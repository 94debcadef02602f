// The main window's unit, window-free part. Everything a command decides lives here;
// the real window only shows what FormView is told.
#include "ui/Ufrmvolume.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>
#include <string_view>
#include <utility>

#include "devices/device_error.h"
#include "devices/lib.h"
#include "devices/text_forms.h"
#include "devices/ubits.h"
#include "devices/udiskmgmt.h"
#include "platform/text.h"
#include "platform/unique_any.h"

namespace vol {

std::vector<volumes> volume_table(kVolumeTableRows);
std::array<dosdevices, 26> dosdevice_table;

namespace {

constexpr std::wstring_view kShadowCopyPrefix = L"harddiskvolumeshadowcopy";
constexpr uint32_t kMountPathChars = 260;  // MAX_PATH, the first try of the path-name list
constexpr std::size_t kExtentsBufferBytes = 260;
constexpr uint32_t kRefreshDelayMs = 500;
constexpr std::wstring_view kInputCaption = L"Lindquay";

// The bit of the drive a path begins with (C: gives 2); -1 when it begins with none.
int DriveBit(std::wstring_view path) {
  if (path.size() < 2 || path[1] != L':') return -1;
  const wchar_t letter = LowerAscii(path[0]);
  return letter >= L'a' && letter <= L'z' ? letter - L'a' : -1;
}

// A row always carries every sub-item its edition's list has, empty where unknown.
ListRow MakeRow(std::wstring caption, std::vector<std::wstring> sub_items) {
  sub_items.resize(edition::kColumns.size() - 1);
  return ListRow{std::move(caption), std::move(sub_items)};
}

// The first entry of a volume's mount-path list. The list of a volume mounted in many
// folders can outgrow MAX_PATH; then the call says how much it needs and is asked once more.
std::wstring FirstMountPath(Platform& platform, const std::wstring& volume_name) {
  std::vector<wchar_t> buffer(std::size_t{kMountPathChars} + 1, L'\0');
  uint32_t needed = 0;
  if (!platform.GetVolumePathNamesForVolumeName(volume_name, buffer.data(), kMountPathChars,
                                                &needed) &&
      platform.GetLastError() == win_error::kMoreData && needed > kMountPathChars) {
    buffer.assign(std::size_t{needed} + 1, L'\0');
    platform.GetVolumePathNamesForVolumeName(volume_name, buffer.data(), needed, &needed);
  }
  return std::wstring(buffer.data());
}

// Disk and partition number, first success wins: the device number, then the first
// extent's disk (partition unknown), else both unknown.
void FillDiskNumbers(Platform& platform, volumes& row) {
  try {
    const StorageDeviceNumber number = GetVolume_Storage(platform, row.volume);
    row.disknumber = static_cast<uint8_t>(number.DeviceNumber);
    row.partitionnumber = static_cast<uint8_t>(number.PartitionNumber);
    return;
  } catch (const DeviceError&) {
  }
  row.disknumber = 255;
  row.partitionnumber = 255;
  try {
    if (const auto extent = GetVolumeExtent(platform, row.volume)) {
      row.disknumber = static_cast<uint8_t>(extent->DiskNumber);
    }
  } catch (const DeviceError&) {
  }
}

bool Qualifies(const std::wstring& device_name) {
  const std::wstring lower = LowerAscii(device_name);
  return lower.find(L"cdrom") == std::wstring::npos && lower.find(L"floppy") == std::wstring::npos;
}

void EnumerateVolumes(Platform& platform) {
  std::wstring name;
  VolumeSearch search(platform.FindFirstVolume(name), {&platform});
  if (!search) throw DeviceError(L"invalid handle");
  std::size_t count = 0;
  do {
    std::wstring device;
    VolumeNameToDeviceName(platform, name, device);
    if (!Qualifies(device)) continue;
    if (count == volume_table.size()) volume_table.emplace_back();
    volumes& row = volume_table[count];
    row.volume = name;
    row.dosdevice = device;
    row.pathname = FirstMountPath(platform, name);
    FillDiskNumbers(platform, row);
    if constexpr (edition::kVolumeSizeAndSerial) {
      row.size = get_volume_size(platform, name);
      row.serial = get_volume_serial(platform, name);
    }
    ++count;
  } while (platform.FindNextVolume(search.get(), name));
}

bool KeepsDriveType(uint32_t type) {
  switch (type) {
    case drive_type::kRemovable:
    case drive_type::kFixed:
    case drive_type::kRamdisk:
      return true;
    case drive_type::kNoRootDir:
      return edition::kListNoRootDir;
    default:
      return false;
  }
}

// The file name of a path, without its folder. Only the reduced edition asks for it.
[[maybe_unused]] std::wstring_view FileNameOf(std::wstring_view path) {
  const std::size_t cut = path.find_last_of(L"\\/:");
  return cut == std::wstring_view::npos ? path : path.substr(cut + 1);
}

bool Offered(Command command) {
  return command != Command::None && std::ranges::any_of(kMenu, [command](const MenuItem& item) {
           return item.command == command;
         });
}

}  // namespace

// ---------------------------------------------------------------- device queries

StorageDeviceNumber GetVolume_Storage(Platform& platform, const std::wstring& volume_name) {
  try {
    StorageDeviceNumber number{};
    bool ok = false;
    {  // the error code is read once the handle is closed again
      const DeviceHandle device(
          platform.CreateFile(
              WithoutTrailingBackslash(volume_name), file_access::kNone,
              file_access::kShareRead | file_access::kShareWrite | file_access::kShareDelete,
              file_access::kOpenExisting, 0, edition::kApi),
          {&platform});
      if (device) {
        uint32_t returned = 0;
        ok = platform.DeviceIoControl(device.get(), ioctl::kStorageGetDeviceNumber, nullptr, 0,
                                      &number, sizeof number, &returned);
      }
    }
    if (!ok) throw DeviceError(SystemErrorText(platform, platform.GetLastError()));
    return number;
  } catch (const std::exception& error) {
    throw DeviceError(L"GetVolume_Storage:" + ErrorText(error));
  }
}

std::optional<VolumeExtent> GetVolumeExtent(Platform& platform, const std::wstring& volume_name) {
  std::optional<VolumeExtent> extent;
  try {
    const DeviceHandle device(
        platform.CreateFile(WithoutTrailingBackslash(volume_name),
                            file_access::kGenericRead | file_access::kGenericWrite,
                            file_access::kShareRead | file_access::kShareWrite,
                            file_access::kOpenExisting, 0, edition::kApi),
        {&platform});
    if (!device) return extent;
    std::vector<unsigned char> buffer(kExtentsBufferBytes, 0);
    uint32_t returned = 0;
    if (!platform.DeviceIoControl(device.get(), ioctl::kVolumeGetVolumeDiskExtents, nullptr, 0,
                                  buffer.data(), static_cast<uint32_t>(buffer.size()), &returned)) {
      return extent;
    }
    VolumeDiskExtentsHeader header;
    std::memcpy(&header, buffer.data(), sizeof header);
    // Only the first extent is read, and it always lies inside the buffer, whatever
    // count the header claims.
    static_assert(kFirstExtentOffset + sizeof(DiskExtent) <= kExtentsBufferBytes);
    // An extent the reply did not reach is not there, whatever the header claims.
    if (header.NumberOfDiskExtents > 0 && returned >= kFirstExtentOffset + sizeof(DiskExtent)) {
      DiskExtent first;
      std::memcpy(&first, buffer.data() + kFirstExtentOffset, sizeof first);
      extent = VolumeExtent{first.DiskNumber, first.StartingOffset, first.ExtentLength};
    }
    return extent;
  } catch (const std::exception& error) {
    throw DeviceError(L"_GetVolumeExtent:" + ErrorText(error));
  }
}

void GetShadowCopyDevices(Platform& platform, std::optional<std::vector<std::wstring>>& list) {
  if (!list) list.emplace();
  ForEachDosDeviceName(platform, edition::kApi, [&list](std::wstring_view name) {
    if (EqualsIgnoringAsciiCase(name.substr(0, kShadowCopyPrefix.size()), kShadowCopyPrefix)) {
      list->emplace_back(name);
    }
  });
}

// ---------------------------------------------------------------- volume table

void list_volumes(Platform& platform) {
  volume_table.assign(kVolumeTableRows, volumes{});
  try {
    EnumerateVolumes(platform);
  } catch (const std::exception& error) {
    platform.ShowMessage(L"list_volumes:" + ErrorText(error));
  }
}

int64_t get_volume_size(Platform& platform, const std::wstring& path) {
  uint32_t sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
  if (!platform.GetDiskFreeSpace(path, &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                                 &total_clusters, edition::kApi)) {
    return 0;
  }
  const uint32_t cluster_size = sectors_per_cluster * bytes_per_sector;
  return static_cast<int64_t>(cluster_size) * (static_cast<int64_t>(total_clusters) + 1);
}

std::wstring get_volume_serial(Platform& platform, const std::wstring& path) {
  uint32_t serial = 0, max_component_length = 0, flags = 0;
  if (!platform.GetVolumeInformation(path, &serial, &max_component_length, &flags)) return {};
  return HexText(serial);
}

// ---------------------------------------------------------------- DOS-device table

void list_dosdevices(Platform& platform) {
  dosdevice_table.fill(dosdevices{});
  const uint32_t mask = GetDosDriveMask(platform);
  std::size_t count = 0;
  for (int i = 0; i < 26; ++i) {
    const std::wstring drive{static_cast<wchar_t>(L'A' + i), L':'};
    const uint32_t type = platform.GetDriveType(drive + L"\\", edition::kApi);
    if (!IsBitSet(mask, i) || !KeepsDriveType(type)) continue;
    if (type == drive_type::kRemovable && IsFloppyDevice(platform, drive)) continue;
    int32_t disk = -1, partition = -1;
    GetDeviceNumber(platform, L"\\\\.\\" + drive, disk, partition);
    dosdevices& row = dosdevice_table[count++];
    row.disknumber = static_cast<uint8_t>(disk);
    row.partitionnumber = static_cast<uint8_t>(partition);
    row.drive = drive;
    VolumeNameToDeviceName(platform, drive, row.dosdevice);
  }
}

bool is_volume_drive(const std::wstring& drive) {
  const std::wstring_view letter = std::wstring_view(drive).substr(0, 2);
  return std::ranges::any_of(volume_table, [letter](const volumes& row) {
    return !row.pathname.empty() &&
           EqualsIgnoringAsciiCase(std::wstring_view(row.pathname).substr(0, 2), letter);
  });
}

bool is_dosdevice_target(const std::wstring& name) {
  return std::ranges::any_of(dosdevice_table, [&name](const dosdevices& row) {
    return !row.drive.empty() && EqualsIgnoringAsciiCase(row.dosdevice, name);
  });
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

std::vector<ListRow> VolumeRows() {
  std::vector<ListRow> rows;
  rows.reserve(volume_table.size());
  for (const volumes& v : volume_table) {
    if (v.volume.empty()) continue;
    std::vector<std::wstring> cells;
    cells.reserve(edition::kColumns.size() - 1);
    cells.push_back(v.pathname);
    cells.push_back(Decimal(v.disknumber));
    cells.push_back(Decimal(v.partitionnumber));
    cells.push_back(v.dosdevice);
    if constexpr (edition::kVolumeSizeAndSerial) {
      cells.push_back(Decimal(v.size));
      cells.push_back(v.serial);
    }
    rows.push_back(MakeRow(v.volume, std::move(cells)));
  }
  return rows;
}

std::vector<ListRow> DosDeviceRows() {
  // is_volume_drive for every letter at once: one pass over the volume table, not one a row.
  uint32_t volume_letters = 0;
  for (const volumes& v : volume_table) {
    if (const int bit = DriveBit(v.pathname); bit >= 0)
      volume_letters = SetBit(volume_letters, bit);
  }
  const auto on_volume = [volume_letters](const std::wstring& drive) {
    const int bit = DriveBit(drive);
    return bit >= 0 ? IsBitSet(volume_letters, bit) : is_volume_drive(drive);
  };
  std::vector<ListRow> rows;
  for (const dosdevices& d : dosdevice_table) {
    if (d.drive.empty() || on_volume(d.drive)) continue;
    const std::wstring path = edition::kDosRowBackslash ? d.drive + L"\\" : d.drive;
    rows.push_back(
        MakeRow({}, {path, Decimal(d.disknumber), Decimal(d.partitionnumber), d.dosdevice}));
  }
  return rows;
}

std::vector<ListRow> ShadowCopyRows(Platform& platform) {
  std::vector<ListRow> rows;
  if (!edition::kShadowCopies) return rows;
  std::optional<std::vector<std::wstring>> names;
  GetShadowCopyDevices(platform, names);
  for (const std::wstring& name : *names) {
    const std::wstring target = L"\\??\\" + LowerAscii(name);
    // The target is lower case already; the test stays case-blind so that it can
    // never reject a name the shadow-copy list accepted.
    if (LowerAscii(target).find(kShadowCopyPrefix) == std::wstring::npos) continue;
    if (is_dosdevice_target(target)) continue;
    rows.push_back(MakeRow({}, {{},
                                {},
                                {},
                                target,
                                Decimal(get_volume_size(platform, target + L"\\")),
                                get_volume_serial(platform, target + L"\\")}));
  }
  return rows;
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

void Tfrmvolumes::refresh_list() {
  list_volumes(platform_);
  std::vector<ListRow> rows = VolumeRows();
  if (view_.IsChecked(Command::Getnonvolumedrives1)) {
    list_dosdevices(platform_);
    std::ranges::move(DosDeviceRows(), std::back_inserter(rows));
    std::ranges::move(ShadowCopyRows(platform_), std::back_inserter(rows));
  }
  view_.SetRows(rows);
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
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row || row->caption.empty()) return;
  AfterMountChange(unmount_vol(platform_, row->sub(edition::kSubPathName)), L"unmount failed");
}

void Tfrmvolumes::Mount1Click() {
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row || row->caption.empty()) return;
  AfterMountChange(mount_vol(platform_, row->caption, L""), L"mount failed");
}

void Tfrmvolumes::Mount2Click() {
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row || row->caption.empty()) return;
  const std::optional<std::wstring> path =
      view_.InputBox(std::wstring(kInputCaption), L"Enter Path : x:\\, c:\\mount\\", L"x:\\");
  // Cancel means the user changed their mind: nothing is mounted.
  if (!path) return;
  AfterMountChange(mount_vol(platform_, row->caption, *path), L"mount failed");
}

// The system announces a changed mount a moment later; the list waits for it.
void Tfrmvolumes::AfterMountChange(bool ok, const wchar_t* failure) {
  if (!ok) platform_.ShowMessage(failure);
  platform_.Sleep(kRefreshDelayMs);
  refresh_list();
}

void Tfrmvolumes::RemoveDosDevice1Click() {
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row) return;
  // A drive root such as C:\ names the DOS device C:.
  std::wstring name = row->sub(edition::kSubPathName);
  if (const std::size_t slash = name.find(L'\\'); slash != std::wstring::npos) {
    name.erase(slash, 1);
  }
  if (!RemoveDosDevice(platform_, name, row->sub(edition::kSubDosDevice))) {
    platform_.ShowMessage(L"failed");
  }
}

void Tfrmvolumes::AddDosDevice1Click() {
  if (!Offered(Command::AddDosDevice1)) return;
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row) return;
  const std::optional<std::wstring> name =
      view_.InputBox(std::wstring(kInputCaption), L"Enter Path : x:", L"x:");
  if (!name) return;
  const bool ok = AddDosDevice(platform_, *name, row->sub(edition::kSubDosDevice));
  view_.SetStatusText(ok ? L"Add Device OK" : L"Cannot DefineDosDevice.");
  refresh_list();
}

void Tfrmvolumes::CopyVolumeName1Click() {
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row) return;
  platform_.SetClipboardText(row->caption, edition::kClipboardForm);
}

void Tfrmvolumes::CopyDosDevicetoclipboard1Click() {
  if (!Offered(Command::CopyDosDevicetoclipboard1)) return;
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row) return;
  platform_.SetClipboardText(row->sub(edition::kSubDosDevice), edition::kClipboardForm);
}

void Tfrmvolumes::GetVolumeInformations1Click() {
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row) {
    platform_.ShowMessage(L"pick a volume");
    return;
  }
  std::wstring target = WithoutTrailingBackslash(row->caption);
  if (target.empty()) target = row->sub(edition::kSubPathName);
  if (target.empty()) target = row->sub(edition::kSubDosDevice);
  PropertiesView& properties = view_.OpenProperties(L"Properties for " + target);
  std::vector<std::wstring> lines;
  GetVolumeReport(platform_, CutAtBlank(target), lines);
  properties.SetLines(lines);
}

void Tfrmvolumes::GetSerialNumber1Click() {
  if (!Offered(Command::GetSerialNumber1)) return;
  const std::optional<ListRow> row = view_.SelectedRow();
  if (!row) {
    platform_.ShowMessage(L"pick a volume");
    return;
  }
  std::wstring path = row->caption;
  if (path.empty()) path = row->sub(edition::kSubPathName);
  if (path.empty()) path = row->sub(edition::kSubDosDevice) + L"\\";
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

}  // namespace vol
