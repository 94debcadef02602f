#include "devices/udiskmgmt.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>

#include "devices/lib.h"
#include "devices/text_forms.h"
#include "devices/ubits.h"
#include "platform/edition.h"
#include "platform/grow_buffer.h"
#include "platform/records.h"
#include "platform/text.h"
#include "platform/unique_any.h"

namespace vol {
namespace {

constexpr uint32_t kDeviceNameLength = 260;  // QueryDosDeviceW for one volume or DOS name
constexpr uint32_t kFloppyQueryLength = 1024;
constexpr std::size_t kDosListStartLength = 65535;
constexpr std::size_t kExtentsBufferBytes = 260;
constexpr std::wstring_view kShadowCopyPrefix = L"harddiskvolumeshadowcopy";
constexpr int64_t kMegabyte = 1048576;

// The text at the start of a buffer up to its first NUL, never past limit characters:
// a platform reply need not be terminated.
template <typename Char>
std::wstring TextUpToNul(const Char* buffer, std::size_t limit) {
  const Char* end = std::find(buffer, buffer + limit, Char{0});
  return std::wstring(buffer, end);
}

// The full edition works on ANSI text: whatever the code page cannot hold is lost the
// way the ANSI build loses it.
std::wstring InBuildText(Platform& platform, std::wstring text) {
  if constexpr (edition::kFull) return platform.FromAnsi(platform.ToAnsi(text));
  return text;
}

// A volume GUID path loses its \\?\ prefix and trailing backslash; a DOS name (it has a
// colon) is asked as it stands. Names too short to slice name no device.
std::wstring DeviceQueryName(const std::wstring& volume_name) {
  if (volume_name.find(L':') != std::wstring::npos) return volume_name;
  if (volume_name.size() <= 5) return {};
  return volume_name.substr(4, volume_name.size() - 5);
}

// Opens path, asks its device number and closes it again.
std::optional<StorageDeviceNumber> DeviceNumberOf(Platform& platform, const std::wstring& path,
                                                  const DeviceOpen& how) {
  StorageDeviceNumber number{};
  if (!RequestDeviceNumber(platform, OpenDevice(platform, path, how), number)) return std::nullopt;
  return number;
}

// --- the report ---

constexpr std::array<std::wstring_view, 3> kStyleLines{L"Style: MBR", L"Style: GPT", L"Style: RAW"};

void AddDeviceNumberLine(Platform& platform, const DeviceHandle& device,
                         std::vector<std::wstring>& lines) {
  const std::wstring label(edition::kReportSteps.device_number_label);
  StorageDeviceNumber number{};
  if (RequestDeviceNumber(platform, device, number)) {
    lines.push_back(label + Decimal(number.DeviceNumber));
  } else {
    lines.push_back(label + L"NONE");
  }
}

std::wstring GptName(Platform& platform, const PartitionInformationGpt& gpt) {
  return InBuildText(platform, TextUpToNul(gpt.Name, std::size(gpt.Name)));
}

void AddPartitionLines(Platform& platform, const DeviceHandle& device,
                       std::vector<std::wstring>& lines) {
  PartitionInformationEx info{};
  if (!device || !GetPartitionInfoEx(platform, device.get(), info)) {
    if (edition::kReportSteps.partition_none_line) lines.push_back(L"->Partition_Info: NONE");
    return;
  }
  lines.push_back(L"->Partition_Info");
  lines.emplace_back(info.PartitionStyle < kStyleLines.size() ? kStyleLines[info.PartitionStyle]
                                                              : L"???");
  lines.push_back(L"StartingOffset: " + Decimal(info.StartingOffset));
  lines.push_back(L"PartitionLength: " + Decimal(info.PartitionLength) + L" bytes, " +
                  Decimal(info.PartitionLength / kMegabyte) + L" Mbytes");
  lines.push_back(L"PartitionNumber: " + Decimal(info.PartitionNumber));
  if (info.PartitionStyle == kPartitionStyleMbr) {
    lines.push_back(L"PartitionType: " + Decimal(info.Mbr.PartitionType));
    lines.push_back(L"HiddenSectors: " + Decimal(info.Mbr.HiddenSectors));
    lines.push_back(L"BootIndicator: " + BoolToText(info.Mbr.BootIndicator));
    lines.push_back(L"RecognizedPartition: " + BoolToText(info.Mbr.RecognizedPartition));
  } else if (info.PartitionStyle == kPartitionStyleGpt) {
    lines.push_back(L"PartitionType: " + GuidText(info.Gpt.PartitionType));
    lines.push_back(L"PartitionId: " + GuidText(info.Gpt.PartitionId));
    lines.push_back(L"Attributes: " + Decimal(static_cast<int64_t>(info.Gpt.Attributes)));
    lines.push_back(L"Name: " + GptName(platform, info.Gpt));
  }
}

// Every "\\.\" goes, one backslash is added: \\.\C: gives C:\, a volume device path
// gives its volume GUID path.
std::wstring RootPathOf(std::wstring_view target) {
  constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";
  std::wstring root;
  std::size_t from = 0;
  for (std::size_t hit; (hit = target.find(kDevicePrefix, from)) != std::wstring_view::npos;
       from = hit + kDevicePrefix.size()) {
    root.append(target.substr(from, hit - from));
  }
  root.append(target.substr(from));
  root += L'\\';
  return root;
}

void AddSerialLine(Platform& platform, const std::wstring& root, std::vector<std::wstring>& lines) {
  if (const std::optional<uint32_t> serial = VolumeSerialNumber(platform, root)) {
    lines.push_back(L"->Serial:" + HexText(*serial));
  } else {
    const uint32_t error = platform.GetLastError();
    lines.push_back(L"GetVolumeInformation failed:" + SystemErrorText(platform, error));
  }
}

void AddFreeSpaceLines(Platform& platform, const std::wstring& root,
                       std::vector<std::wstring>& lines) {
  const std::optional<FreeSpace> space = DiskFreeSpace(platform, root);
  if (!space) {
    const uint32_t error = platform.GetLastError();
    lines.push_back(L"GetDiskFreeSpace failed:" + SystemErrorText(platform, error));
    return;
  }
  const uint32_t cluster_size = space->ClusterSize();
  // Unsigned 64 bits hold any cluster size times any cluster count.
  const auto megabytes = [cluster_size](uint32_t clusters) {
    return static_cast<int64_t>(uint64_t{cluster_size} * clusters / kMegabyte);
  };
  const int64_t total_mb = megabytes(space->total_clusters);
  const int64_t free_mb = megabytes(space->free_clusters);
  const int64_t used_clusters = int64_t{space->total_clusters} - int64_t{space->free_clusters};
  lines.push_back(L"->GetDiskFreeSpace");
  lines.push_back(L"Sectors per cluster: " + Decimal(space->sectors_per_cluster));
  lines.push_back(L"Bytes per sector: " + Decimal(space->bytes_per_sector));
  lines.push_back(L"ClusterSize: " + Decimal(cluster_size));
  lines.push_back(L"Total clusters: " + Decimal(space->total_clusters) + L" (" + Decimal(total_mb) +
                  L" MB)");
  lines.push_back(L"Free Clusters: " + Decimal(space->free_clusters) + L" (" + Decimal(free_mb) +
                  L" MB) / Used Clusters: " + Decimal(used_clusters) + L" (" +
                  Decimal(total_mb - free_mb) + L" MB)");
}

}  // namespace

DeviceHandle OpenDevice(Platform& platform, const std::wstring& path, const DeviceOpen& how) {
  return DeviceHandle(platform.CreateFile(path, how.access, how.share, file_access::kOpenExisting,
                                          how.attributes, edition::kApi),
                      {&platform});
}

bool RequestDeviceNumber(Platform& platform, const DeviceHandle& device,
                         StorageDeviceNumber& number) {
  uint32_t bytes_returned = 0;
  return device && platform.DeviceIoControl(device.get(), ioctl::kStorageGetDeviceNumber, nullptr,
                                            0, &number, sizeof number, &bytes_returned);
}

std::optional<uint32_t> VolumeSerialNumber(Platform& platform, const std::wstring& root_path) {
  uint32_t serial = 0, max_component_length = 0, file_system_flags = 0;
  if (!platform.GetVolumeInformation(root_path, &serial, &max_component_length,
                                     &file_system_flags)) {
    return std::nullopt;
  }
  return serial;
}

std::optional<FreeSpace> DiskFreeSpace(Platform& platform, const std::wstring& root_path) {
  FreeSpace space;
  if (!platform.GetDiskFreeSpace(root_path, &space.sectors_per_cluster, &space.bytes_per_sector,
                                 &space.free_clusters, &space.total_clusters, edition::kApi)) {
    return std::nullopt;
  }
  return space;
}

void VolumeNameToDeviceName(Platform& platform, const std::wstring& volume_name,
                            std::wstring& device_name) {
  device_name.clear();
  try {
    const std::wstring query_name = DeviceQueryName(volume_name);
    if (query_name.empty()) return;
    std::array<wchar_t, kDeviceNameLength> buffer{};  // asked once a volume: not from the heap
    if (platform.QueryDosDevice(&query_name, buffer.data(), kDeviceNameLength, ApiForm::Wide) !=
        0) {
      device_name = InBuildText(platform, TextUpToNul(buffer.data(), buffer.size()));
    }
  } catch (const std::exception& error) {
    // The name stays empty and the caller goes on, whatever the box can show.
    device_name.clear();
    try {
      ShowDeviceError(platform, L"VolumeNameToDeviceName:" + ErrorText(error));
    } catch (const std::exception&) {
    }
  }
}

void ShowDeviceError(Platform& platform, const std::wstring& text) {
  if constexpr (edition::kDeviceErrorBox) {
    platform.MessageBox(text, L"lindquay", mb::kOk, edition::kApi);
  } else {
    platform.ShowMessage(text);
  }
}

std::optional<StorageDeviceNumber> GetVolume_Storage(Platform& platform,
                                                     const std::wstring& volume_name,
                                                     std::wstring& error) {
  // The error code is read once the handle is closed again.
  const std::optional<StorageDeviceNumber> number =
      DeviceNumberOf(platform, WithoutTrailingBackslash(volume_name), device_open::kVolumeNumber);
  if (!number) error = SystemErrorText(platform, platform.GetLastError());
  return number;
}

std::optional<DiskExtent> GetVolumeExtent(Platform& platform, const std::wstring& volume_name) {
  const DeviceHandle device =
      OpenDevice(platform, WithoutTrailingBackslash(volume_name), device_open::kVolumeExtents);
  std::vector<unsigned char> buffer(kExtentsBufferBytes, 0);
  uint32_t returned = 0;
  if (!device ||
      !platform.DeviceIoControl(device.get(), ioctl::kVolumeGetVolumeDiskExtents, nullptr, 0,
                                buffer.data(), static_cast<uint32_t>(buffer.size()), &returned)) {
    return std::nullopt;
  }
  VolumeDiskExtentsHeader header;
  std::memcpy(&header, buffer.data(), sizeof header);
  // Only the first extent is read, and it always lies inside the buffer, whatever
  // count the header claims.
  static_assert(kFirstExtentOffset + sizeof(DiskExtent) <= kExtentsBufferBytes);
  // An extent the reply did not reach is not there, whatever the header claims.
  if (header.NumberOfDiskExtents == 0 || returned < kFirstExtentOffset + sizeof(DiskExtent)) {
    return std::nullopt;
  }
  DiskExtent first;
  std::memcpy(&first, buffer.data() + kFirstExtentOffset, sizeof first);
  return first;
}

std::optional<StorageDeviceNumber> GetDeviceNumber(Platform& platform,
                                                   const std::wstring& device_path) {
  return DeviceNumberOf(platform, device_path, device_open::kDriveNumber);
}

void ForEachDosDeviceName(Platform& platform, ApiForm form,
                          const std::function<void(std::wstring_view)>& visit) {
  // Zeroed at each size: a reply shorter than the count it claims reads as empty names.
  std::vector<wchar_t> buffer;
  uint32_t count = 0;
  GrowAndRetry(buffer, kDosListStartLength, kListLengthLimit,
               [&](std::vector<wchar_t>& names) -> std::optional<std::size_t> {
                 count = platform.QueryDosDevice(nullptr, names.data(),
                                                 static_cast<uint32_t>(names.size() - 1), form);
                 // ERROR_INSUFFICIENT_BUFFER is Windows' documented answer for a list too
                 // long. ERROR_MORE_DATA is seen in the field too (a pywin32 report;
                 // Windows XP with a 64 KB buffer), some machines saying it however large
                 // the buffer: the growing stops at the limit, and the walk ends as a
                 // failed query does.
                 const uint32_t error = count != 0 ? win_error::kSuccess : platform.GetLastError();
                 if (error != win_error::kInsufficientBuffer && error != win_error::kMoreData) {
                   return std::nullopt;
                 }
                 return names.size() * 2;
               });
  // A count beyond what was handed over cannot be true; the spare last character keeps
  // the final name terminated either way.
  const std::size_t end = std::min<std::size_t>(count, buffer.size() - 1);
  buffer[end] = L'\0';
  for (std::size_t at = 0; at < end;) {
    const std::wstring_view name(buffer.data() + at);
    if (!name.empty()) visit(name);
    at += name.size() + 1;
  }
}

uint32_t GetDosDriveMask(Platform& platform) {
  uint32_t mask = 0;
  ForEachDosDeviceName(platform, edition::kApi, [&mask](std::wstring_view name) {
    if (name.size() != 2 || name[1] != L':') return;
    const wchar_t letter = LowerAscii(name[0]);
    if (letter > L'a' && letter <= L'z') mask = SetBit(mask, letter - L'a');
  });
  return mask;
}

bool IsFloppyDevice(Platform& platform, const std::wstring& dos_name) {
  std::vector<wchar_t> buffer(kFloppyQueryLength);
  std::wstring target;
  if (platform.QueryDosDevice(&dos_name, buffer.data(), kFloppyQueryLength, edition::kApi) != 0) {
    target = TextUpToNul(buffer.data(), buffer.size());
  }
  return LowerAscii(target).find(L"floppy") != std::wstring::npos;
}

void GetShadowCopyDevices(Platform& platform, std::optional<std::vector<std::wstring>>& list) {
  if (!list) list.emplace();
  ForEachDosDeviceName(platform, edition::kApi, [&list](std::wstring_view name) {
    if (EqualsIgnoringAsciiCase(name.substr(0, kShadowCopyPrefix.size()), kShadowCopyPrefix)) {
      list->emplace_back(name);
    }
  });
}

std::wstring CutAtBlank(const std::wstring& text) { return text.substr(0, text.find(L' ')); }

std::wstring BoolToText(uint8_t flag) { return flag != 0 ? L"True" : L"False"; }

void GetVolumeReport(Platform& platform, const std::wstring& target,
                     std::vector<std::wstring>& lines) {
  lines.clear();
  DeviceHandle device = OpenDevice(platform, target, device_open::kReport);
  if (edition::kReportSteps.device_number_first) {
    AddDeviceNumberLine(platform, device, lines);
    AddPartitionLines(platform, device, lines);
  } else {
    AddPartitionLines(platform, device, lines);
    AddDeviceNumberLine(platform, device, lines);
  }
  const std::wstring root = RootPathOf(target);
  std::wstring volume_guid;
  GetMountPointVolumeName(platform, root, volume_guid);
  lines.push_back(L"->VolumeGUID: " + volume_guid);
  if (edition::kReportSteps.serial) AddSerialLine(platform, root, lines);
  device.reset();
  AddFreeSpaceLines(platform, root, lines);
}

}  // namespace vol
