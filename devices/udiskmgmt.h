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

// How each query opens a device: the access it asks for, the sharing it allows.
struct DeviceOpen {
  uint32_t access, share, attributes;
};
namespace device_open {
using namespace file_access;
inline constexpr DeviceOpen kVolumeNumber{kNone, kShareRead | kShareWrite | kShareDelete, 0};
inline constexpr DeviceOpen kVolumeExtents{kGenericRead | kGenericWrite, kShareRead | kShareWrite,
                                           0};
// The full edition asks a drive for its number with no access and shares nothing.
inline constexpr DeviceOpen kDriveNumber =
    edition::kFull ? DeviceOpen{kNone, 0, kAttributeNormal}
                   : DeviceOpen{kGenericRead, kShareRead | kShareWrite, kAttributeNormal};
inline constexpr DeviceOpen kReport{kGenericRead, kShareRead | kShareWrite, kAttributeNormal};
}  // namespace device_open

DeviceHandle OpenDevice(Platform& platform, const std::wstring& path, const DeviceOpen& how);
// IOCTL_STORAGE_GET_DEVICE_NUMBER; false, with the system's error, when the device is not
// open or does not answer.
bool RequestDeviceNumber(Platform& platform, const DeviceHandle& device,
                         StorageDeviceNumber& number);
// The serial number and the cluster counts of a root path; nothing, with the system's
// error, when the system cannot tell.
std::optional<uint32_t> VolumeSerialNumber(Platform& platform, const std::wstring& root_path);
struct FreeSpace {
  uint32_t sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
  uint32_t ClusterSize() const { return sectors_per_cluster * bytes_per_sector; }  // 32 bits
};
std::optional<FreeSpace> DiskFreeSpace(Platform& platform, const std::wstring& root_path);

// The NT device name of a volume GUID path or a DOS name such as C:; empty when the
// namespace has no target. An error on the way is shown, and the name stays empty.
void VolumeNameToDeviceName(Platform& platform, const std::wstring& volume_name,
                            std::wstring& device_name);
// Shows an error the device layer caught: the full edition in its own message box, the
// reduced edition in the toolkit's plain message dialog.
void ShowDeviceError(Platform& platform, const std::wstring& text);

// The device number of a volume GUID path, with or without its trailing backslash;
// nothing, with the system's text in error, when it cannot be opened or asked.
std::optional<StorageDeviceNumber> GetVolume_Storage(Platform& platform,
                                                     const std::wstring& volume_name,
                                                     std::wstring& error);
// The first extent of a volume; nothing when it cannot be opened or reports no extent.
std::optional<DiskExtent> GetVolumeExtent(Platform& platform, const std::wstring& volume_name);
// The device number of a drive-letter device path (\\.\C:); nothing when the device
// cannot be opened or asked.
std::optional<StorageDeviceNumber> GetDeviceNumber(Platform& platform,
                                                   const std::wstring& device_path);

// Walks the whole DOS-device list (growing the buffer until it fits, within a limit no
// real namespace reaches; beyond it the walk gives no names) and hands each
// name to visit. The names are views into a buffer that lives for the walk only.
void ForEachDosDeviceName(Platform& platform, ApiForm form,
                          const std::function<void(std::wstring_view)>& visit);

// The drive-letter set of the DOS-device namespace (A: never included).
uint32_t GetDosDriveMask(Platform& platform);
// True when the target of a DOS name (A:) contains "floppy" in any case.
bool IsFloppyDevice(Platform& platform, const std::wstring& dos_name);
// Appends the shadow-copy device names to list, creating it when absent.
void GetShadowCopyDevices(Platform& platform, std::optional<std::vector<std::wstring>>& list);

// The part of text before its first blank, or text itself when it has none.
std::wstring CutAtBlank(const std::wstring& text);
// "True" for a non-zero byte, else "False".
std::wstring BoolToText(uint8_t flag);
// Empties lines, then appends the report on target (a volume device path, a drive,
// or a shadow-copy device name).
void GetVolumeReport(Platform& platform, const std::wstring& target,
                     std::vector<std::wstring>& lines);

}  // namespace vol
