#include "devices/scan.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <utility>

#include "devices/text_forms.h"
#include "devices/ubits.h"
#include "platform/edition.h"
#include "platform/grow_buffer.h"
#include "platform/text.h"
#include "platform/unique_any.h"

namespace vol {
namespace {

constexpr uint32_t kMountPathChars = 260;  // MAX_PATH, the first try of the path-name list

// A volume mounted in many folders can outgrow MAX_PATH; then the call says how much it
// needs. Whatever a failed call left in the buffer is taken as it stands. The buffer is
// the caller's, so that one serves every volume of a scan.
std::vector<std::wstring> MountPaths(Platform& platform, const std::wstring& volume_name,
                                     std::vector<wchar_t>& buffer) {
  // Its spare last character ends the list.
  GrowAndRetry(
      buffer, std::size_t{kMountPathChars} + 1, kListLengthLimit,
      [&](std::vector<wchar_t>& paths) -> std::optional<std::size_t> {
        uint32_t needed = 0;
        if (platform.GetVolumePathNamesForVolumeName(
                volume_name, paths.data(), static_cast<uint32_t>(paths.size() - 1), &needed) ||
            platform.GetLastError() != win_error::kMoreData) {
          return std::nullopt;
        }
        return std::size_t{needed} + 1;
      });
  std::vector<std::wstring> paths;
  for (std::size_t at = 0; at < buffer.size() && buffer[at] != L'\0';
       at += paths.back().size() + 1) {
    paths.emplace_back(buffer.data() + at);
  }
  return paths;
}

// Optical and floppy volumes are not listed, and nothing more is asked of them.
bool Qualifies(std::wstring_view device_name) {
  return !ContainsIgnoringAsciiCase(device_name, L"cdrom") &&
         !ContainsIgnoringAsciiCase(device_name, L"floppy");
}

constexpr std::size_t kUsualVolumes = 16;  // room made at once; a machine with more grows it

// The device number, else the first extent's disk: an error in either query only
// leads on to the next fallback, as a failed request does.
void AskDiskNumbers(Platform& platform, VolumeRecord& volume) {
  try {
    volume.device_number =
        GetVolume_Storage(platform, volume.guid_path, volume.device_number_error);
  } catch (const std::exception& error) {
    volume.device_number.reset();
    volume.device_number_error = ErrorText(error);
  }
  if (volume.device_number) return;
  // The extents name the disk of a volume that has no device number, as a volume
  // spanning disks has not.
  try {
    volume.first_extent = GetVolumeExtent(platform, volume.guid_path);
  } catch (const std::exception&) {
    volume.first_extent.reset();
  }
}

void AddVolumes(Platform& platform, VolumeSearch& search, std::wstring& name,
                std::vector<VolumeRecord>& volumes) {
  std::vector<wchar_t> mount_paths;
  do {
    std::wstring device;
    VolumeNameToDeviceName(platform, name, device);
    if (!Qualifies(device)) continue;
    // Made whole before it is listed: an error half-way leaves no half a volume.
    VolumeRecord volume{.guid_path = name, .nt_name = std::move(device)};
    volume.mount_paths = MountPaths(platform, name, mount_paths);
    AskDiskNumbers(platform, volume);
    if constexpr (edition::kVolumeSizeAndSerial) {
      volume.free_space = DiskFreeSpace(platform, name);
      volume.serial = VolumeSerialNumber(platform, name);
    }
    volumes.push_back(std::move(volume));
  } while (platform.FindNextVolume(search.get(), name));
}

// An error that no volume's own fallbacks take ends the search the way a refused search
// does: it is told, and the volumes found before it stay.
std::vector<VolumeRecord> list_volumes(Platform& platform, const ScanRequest& request) {
  std::vector<VolumeRecord> volumes;
  const auto told = [&request](const std::wstring& reason) {
    if (request.search_failed) request.search_failed(reason);
  };
  try {
    volumes.reserve(kUsualVolumes);
    std::wstring name;
    VolumeSearch search(platform.FindFirstVolume(name), {&platform});
    if (!search) {
      told(L"invalid handle");
      return volumes;
    }
    AddVolumes(platform, search, name, volumes);
  } catch (const std::exception& error) {
    told(ErrorText(error));
  }
  return volumes;
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

std::vector<DriveRecord> list_dosdevices(Platform& platform) {
  std::vector<DriveRecord> drives;
  drives.reserve(26);
  std::wstring device_path = L"\\\\.\\";  // and a drive: one text for every letter
  const uint32_t mask = GetDosDriveMask(platform);
  for (int i = 0; i < 26; ++i) {
    const wchar_t letter = static_cast<wchar_t>(L'A' + i);
    const std::wstring drive{letter, L':'};
    const uint32_t type = platform.GetDriveType(drive + L"\\", edition::kApi);
    if (!IsBitSet(mask, i) || !KeepsDriveType(type)) continue;
    if (type == drive_type::kRemovable && IsFloppyDevice(platform, drive)) continue;
    device_path.replace(4, std::wstring::npos, drive);
    DriveRecord& record =
        drives.emplace_back(DriveRecord{letter, type, GetDeviceNumber(platform, device_path), {}});
    VolumeNameToDeviceName(platform, drive, record.nt_name);
  }
  return drives;
}

// A shadow copy that a listed letter points at is that letter's row already. The
// reduced edition lists none, and its build leaves this out.
[[maybe_unused]] std::vector<ShadowRecord> list_shadowcopies(
    Platform& platform, const std::vector<DriveRecord>& drives) {
  std::vector<ShadowRecord> shadows;
  std::optional<std::vector<std::wstring>> names;
  GetShadowCopyDevices(platform, names);
  for (const std::wstring& name : *names) {
    const std::wstring target = L"\\??\\" + LowerAscii(name);
    if (is_dosdevice_target(drives, target)) continue;
    shadows.push_back({target, DiskFreeSpace(platform, target + L"\\"),
                       VolumeSerialNumber(platform, target + L"\\")});
  }
  return shadows;
}

}  // namespace

MachineScan Scan(Platform& platform, const ScanRequest& request) {
  MachineScan scan;
  scan.volumes = list_volumes(platform, request);
  if (!request.dos_devices) return scan;
  scan.drives = list_dosdevices(platform);
  if constexpr (edition::kShadowCopies) scan.shadows = list_shadowcopies(platform, scan.drives);
  return scan;
}

bool is_dosdevice_target(const std::vector<DriveRecord>& drives, const std::wstring& target) {
  return std::ranges::any_of(drives, [&target](const DriveRecord& drive) {
    return EqualsIgnoringAsciiCase(drive.nt_name, target);
  });
}

}  // namespace vol
