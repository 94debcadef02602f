// Low-level operations: the partition entry of an open volume, mount points and
// DOS device definitions.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/records.h"

namespace vol {

// IOCTL_DISK_GET_PARTITION_INFO_EX on the caller's handle into the caller's
// 144-byte record, which is not cleared first.
bool GetPartitionInfoEx(Platform& platform, Handle device, PartitionInformationEx& buffer);

// Mounts volume_name (a volume GUID path with its trailing backslash) at mount_path;
// an empty mount_path tries C:\ to Z:\ in order and takes the first the system accepts.
bool mount_vol(Platform& platform, const std::wstring& volume_name, const std::wstring& mount_path);
bool unmount_vol(Platform& platform, const std::wstring& mount_path);

// The volume GUID path mounted at mount_path, through GetVolumeNameForVolumeMountPointA
// looked up at run time. volume_name is left as it was when the lookup is unavailable.
void GetMountPointVolumeName(Platform& platform, const std::wstring& mount_path,
                             std::wstring& volume_name);

// DefineDosDevice with flags 1, then 0; false without defining anything when the name
// is already defined (or the namespace cannot say that it is not).
bool AddDosDevice(Platform& platform, const std::wstring& device_name,
                  const std::wstring& target_path);
// DefineDosDevice with flags 2, then 3.
bool RemoveDosDevice(Platform& platform, const std::wstring& device_name,
                     const std::wstring& target_path);

}  // namespace vol
