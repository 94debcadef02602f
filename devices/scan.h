// One scan of the machine: the volumes, drive letters and shadow copies a refresh finds,
// as typed records. The scan decides which questions are worth asking; how the records
// are shown is the list's business.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "devices/udiskmgmt.h"
#include "platform/platform.h"
#include "platform/records.h"

namespace vol {

struct VolumeRecord {
  std::wstring guid_path{};                 // as enumerated, trailing backslash kept
  std::wstring nt_name{};                   // empty when the namespace has none
  std::vector<std::wstring> mount_paths{};  // in the system's order
  std::optional<StorageDeviceNumber> device_number{};
  std::wstring device_number_error{};        // the system's text, when the number is missing
  std::optional<DiskExtent> first_extent{};  // asked only when the number is missing
  std::optional<FreeSpace> free_space{};     // these two in the full edition only
  std::optional<uint32_t> serial{};
};

struct DriveRecord {
  wchar_t letter = L'A';
  uint32_t type = drive_type::kUnknown;
  std::optional<StorageDeviceNumber> device_number{};
  std::wstring nt_name{};
  std::wstring drive() const { return {letter, L':'}; }
};

// A shadow copy that no listed drive letter points at.
struct ShadowRecord {
  std::wstring target{};  // \??\ and the name in lower case, as a letter defined to it names it
  std::optional<FreeSpace> free_space{};
  std::optional<uint32_t> serial{};
};

struct MachineScan {
  std::vector<VolumeRecord> volumes;  // optical and floppy volumes left out
  // Only when asked for: the letters the DOS-device view keeps, from A to Z, and the
  // shadow copies in the namespace's order (full edition).
  std::vector<DriveRecord> drives;
  std::vector<ShadowRecord> shadows;
};

struct ScanRequest {
  bool dos_devices = false;
  // Told at once, before the scan goes on, why the volume search could not start or
  // ended early.
  std::function<void(const std::wstring& reason)> search_failed{};
};

MachineScan Scan(Platform& platform, const ScanRequest& request);

// Whether a listed drive letter names target (compared without case).
bool is_dosdevice_target(const std::vector<DriveRecord>& drives, const std::wstring& target);

}  // namespace vol
