// A platform that passes every call on to another one. Test doubles and benchmarks
// derive from it and override only the calls they watch.
//
// Where windows.h is in, include this after platform/win32_platform.h, which takes the
// plain names back from windows.h's macros.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace vol::test {

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& next) : next_(next) {}

  Handle FindFirstVolume(std::wstring& volume_name) override {
    return next_.FindFirstVolume(volume_name);
  }
  bool FindNextVolume(Handle find, std::wstring& volume_name) override {
    return next_.FindNextVolume(find, volume_name);
  }
  bool FindVolumeClose(Handle find) override { return next_.FindVolumeClose(find); }
  bool GetVolumePathNamesForVolumeName(const std::wstring& volume_name, wchar_t* buffer,
                                       uint32_t buffer_length, uint32_t* return_length) override {
    return next_.GetVolumePathNamesForVolumeName(volume_name, buffer, buffer_length,
                                                 return_length);
  }
  bool SetVolumeMountPoint(const std::wstring& mount_path,
                           const std::wstring& volume_name) override {
    return next_.SetVolumeMountPoint(mount_path, volume_name);
  }
  bool DeleteVolumeMountPoint(const std::wstring& mount_path) override {
    return next_.DeleteVolumeMountPoint(mount_path);
  }
  Module LoadLibrary(const std::wstring& file_name, ApiForm form) override {
    return next_.LoadLibrary(file_name, form);
  }
  bool FreeLibrary(Module module) override { return next_.FreeLibrary(module); }
  ProcAddress GetProcAddress(Module module, const char* export_name) override {
    return next_.GetProcAddress(module, export_name);
  }
  bool CallGetVolumeNameForVolumeMountPoint(ProcAddress function, const std::string& mount_path,
                                            char* buffer, uint32_t buffer_length) override {
    return next_.CallGetVolumeNameForVolumeMountPoint(function, mount_path, buffer, buffer_length);
  }
  uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer, uint32_t buffer_length,
                          ApiForm form) override {
    return next_.QueryDosDevice(device_name, buffer, buffer_length, form);
  }
  bool DefineDosDevice(uint32_t flags, const std::wstring& device_name,
                       const std::wstring* target_path, ApiForm form) override {
    return next_.DefineDosDevice(flags, device_name, target_path, form);
  }
  uint32_t GetDriveType(const std::wstring& root_path, ApiForm form) override {
    return next_.GetDriveType(root_path, form);
  }
  bool GetDiskFreeSpace(const std::wstring& root_path, uint32_t* sectors_per_cluster,
                        uint32_t* bytes_per_sector, uint32_t* free_clusters,
                        uint32_t* total_clusters, ApiForm form) override {
    return next_.GetDiskFreeSpace(root_path, sectors_per_cluster, bytes_per_sector, free_clusters,
                                  total_clusters, form);
  }
  bool GetVolumeInformation(const std::wstring& root_path, uint32_t* serial_number,
                            uint32_t* max_component_length, uint32_t* file_system_flags) override {
    return next_.GetVolumeInformation(root_path, serial_number, max_component_length,
                                      file_system_flags);
  }
  Handle CreateFile(const std::wstring& path, uint32_t access, uint32_t share_mode,
                    uint32_t creation_disposition, uint32_t flags_and_attributes,
                    ApiForm form) override {
    return next_.CreateFile(path, access, share_mode, creation_disposition, flags_and_attributes,
                            form);
  }
  bool DeviceIoControl(Handle device, uint32_t control_code, const void* in_buffer,
                       uint32_t in_size, void* out_buffer, uint32_t out_size,
                       uint32_t* bytes_returned) override {
    return next_.DeviceIoControl(device, control_code, in_buffer, in_size, out_buffer, out_size,
                                 bytes_returned);
  }
  bool CloseHandle(Handle handle) override { return next_.CloseHandle(handle); }
  uint32_t GetLastError() override { return next_.GetLastError(); }
  void SetLastError(uint32_t code) override { next_.SetLastError(code); }
  std::wstring FormatMessage(uint32_t code) override { return next_.FormatMessage(code); }
  std::string ToAnsi(const std::wstring& text) override { return next_.ToAnsi(text); }
  std::wstring FromAnsi(const std::string& text) override { return next_.FromAnsi(text); }
  void Sleep(uint32_t milliseconds) override { next_.Sleep(milliseconds); }
  void MessageBox(const std::wstring& text, const std::wstring& caption, uint32_t type,
                  ApiForm form) override {
    next_.MessageBox(text, caption, type, form);
  }
  void ShowMessage(const std::wstring& text) override { next_.ShowMessage(text); }
  bool SetClipboardText(const std::wstring& text, ApiForm form) override {
    return next_.SetClipboardText(text, form);
  }
  std::wstring LocalDateTimeText() override { return next_.LocalDateTimeText(); }
  std::wstring ExecutablePath() override { return next_.ExecutablePath(); }

 private:
  Platform& next_;
};

}  // namespace vol::test
