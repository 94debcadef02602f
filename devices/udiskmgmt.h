// Device queries: device names, device numbers, the DOS-device namespace, and the
// text report on one volume or drive.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/edition.h"
#include "platform/platform.h"
#include "platform/records.h"
#include "platform/unique_any.h"

namespace vol {

// How each query opens a device: the access it asks for and the sharing it allows.
struct DeviceOpen {
  uint32_t access, share, attributes;
};
namespace device_open {
inline constexpr uint32_t kRead = file_access::kGenericRead, kWrite = file_access::kGenericWrite;
inline constexpr uint32_t kShareReadWrite = file_access::kShareRead | file_access::kShareWrite;
inline constexpr uint32_t kNormal = file_access::kAttributeNormal;
// A volume's device number (GetVolume_Storage): no access at all, any sharing.
inline constexpr DeviceOpen kVolumeNumber{file_access::kNone,
                                          kShareReadWrite | file_access::kShareDelete, 0};
// A volume's extents: read and write, others may too.
inline constexpr DeviceOpen kVolumeExtents{kRead | kWrite, kShareReadWrite, 0};
// A drive's device number: the full edition opens for queries only and shares nothing;
// the reduced one reads and lets others read and write.
inline constexpr DeviceOpen kDriveNumber = edition::kFull
                                               ? DeviceOpen{file_access::kNone, 0, kNormal}
                                               : DeviceOpen{kRead, kShareReadWrite, kNormal};
// The report's target: read, others may read and write.
inline constexpr DeviceOpen kReport{kRead, kShareReadWrite, kNormal};
}  // namespace device_open

// Opens an existing device with the build's form of CreateFile.
DeviceHandle OpenDevice(Platform& platform, const std::wstring& path, const DeviceOpen& how);
// IOCTL_STORAGE_GET_DEVICE_NUMBER; false, with the system's error, when the device is not
// open or does not answer.
bool RequestDeviceNumber(Platform& platform, const DeviceHandle& device,
                         StorageDeviceNumber& number);

// GetVolumeInformationA's serial number of a root path; nothing, with the system's
// error, when it cannot tell.
std::optional<uint32_t> VolumeSerialNumber(Platform& platform, const std::wstring& root_path);
// GetDiskFreeSpace of a root path, in the build's form.
struct FreeSpace {
  uint32_t sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
  // In 32 bits, as the system's own cluster size.
  uint32_t ClusterSize() const { return sectors_per_cluster * bytes_per_sector; }
};
std::optional<FreeSpace> DiskFreeSpace(Platform& platform, const std::wstring& root_path);

// The NT device name of a volume GUID path or a DOS name such as C:; empty when the
// namespace has no target. Never raises: an error inside is shown in a message box.
void VolumeNameToDeviceName(Platform& platform, const std::wstring& volume_name,
                            std::wstring& device_name);

// Disk and partition number of a drive-letter device path (\\.\C:); -1 each and
// false when the device cannot be opened or asked.
bool GetDeviceNumber(Platform& platform, const std::wstring& device_path, int32_t& disk_number,
                     int32_t& partition_number);

// Walks the whole DOS-device list (growing the buffer until it fits, within a limit no
// real namespace reaches; beyond it the walk gives no names) and hands each
// name to visit. The names are views into a buffer that lives for the walk only.
void ForEachDosDeviceName(Platform& platform, ApiForm form,
                          const std::function<void(std::wstring_view)>& visit);

// The drive-letter set of the DOS-device namespace (A: never included).
uint32_t GetDosDriveMask(Platform& platform);
// True when the target of a DOS name (A:) contains "floppy" in any case.
bool IsFloppyDevice(Platform& platform, const std::wstring& dos_name);

// The part of text before its first blank, or text itself when it has none.
std::wstring CutAtBlank(const std::wstring& text);
// "True" for a non-zero byte, else "False".
std::wstring BoolToText(uint8_t flag);
// Empties lines, then appends the report on target (a volume device path, a drive,
// or a shadow-copy device name).
void GetVolumeReport(Platform& platform, const std::wstring& target,
                     std::vector<std::wstring>& lines);

}  // namespace vol
