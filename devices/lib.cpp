#include "devices/lib.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/edition.h"
#include "platform/unique_any.h"

namespace vol {
namespace {

constexpr uint32_t kVolumeNameBufferLength = 261;  // MAX_PATH + 1 bytes
constexpr uint32_t kDosNameQueryLength = 260;      // enough to tell a name is defined

}  // namespace

bool GetPartitionInfoEx(Platform& platform, Handle device, PartitionInformationEx& buffer) {
  uint32_t bytes_returned = 0;
  return platform.DeviceIoControl(device, ioctl::kDiskGetPartitionInfoEx, nullptr, 0, &buffer,
                                  sizeof buffer, &bytes_returned);
}

bool mount_vol(Platform& platform, const std::wstring& volume_name,
               const std::wstring& mount_path) {
  if (!mount_path.empty()) return platform.SetVolumeMountPoint(mount_path, volume_name);
  // A letter is free exactly when the system accepts the mount on it; A and B are left
  // to floppies.
  for (wchar_t letter = L'C'; letter <= L'Z'; ++letter) {
    if (platform.SetVolumeMountPoint(std::wstring{letter} + L":\\", volume_name)) return true;
  }
  return false;
}

bool unmount_vol(Platform& platform, const std::wstring& mount_path) {
  return platform.DeleteVolumeMountPoint(mount_path);
}

void GetMountPointVolumeName(Platform& platform, const std::wstring& mount_path,
                             std::wstring& volume_name) {
  // Looked up afresh on every call, as the export may be missing on old systems.
  const PlatformModule kernel32(platform.LoadLibrary(L"kernel32.dll", edition::kApi), {&platform});
  if (!kernel32) return;
  const ProcAddress function =
      platform.GetProcAddress(kernel32.get(), "GetVolumeNameForVolumeMountPointA");
  if (function == 0) return;
  // Zero-filled, so a path that is no mount point reads as the empty name; the call's
  // own result adds nothing to that.
  std::array<char, kVolumeNameBufferLength> buffer{};
  platform.CallGetVolumeNameForVolumeMountPoint(function, platform.ToAnsi(mount_path),
                                                buffer.data(), kVolumeNameBufferLength);
  const auto end = std::find(buffer.begin(), buffer.end(), '\0');
  volume_name = platform.FromAnsi(std::string(buffer.begin(), end));
}

bool AddDosDevice(Platform& platform, const std::wstring& device_name,
                  const std::wstring& target_path) {
  // A second definition of a name in use would stack on top of it and redirect that name
  // (C:, say) for the whole logon session: only a name the namespace does not know is
  // defined.
  std::array<wchar_t, kDosNameQueryLength> target{};
  if (platform.QueryDosDevice(&device_name, target.data(), kDosNameQueryLength, ApiForm::Ansi) !=
          0 ||
      platform.GetLastError() != win_error::kFileNotFound) {
    return false;
  }
  // A raw NT device name first; only then the target as an ordinary path.
  return platform.DefineDosDevice(ddd::kRawTargetPath, device_name, &target_path, ApiForm::Ansi) ||
         platform.DefineDosDevice(0, device_name, &target_path, ApiForm::Ansi);
}

bool RemoveDosDevice(Platform& platform, const std::wstring& device_name,
                     const std::wstring& target_path) {
  return platform.DefineDosDevice(ddd::kRemoveDefinition, device_name, &target_path,
                                  edition::kApi) ||
         platform.DefineDosDevice(ddd::kRemoveDefinition | ddd::kRawTargetPath, device_name,
                                  &target_path, edition::kApi);
}

}  // namespace vol
