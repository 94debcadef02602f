// The real platform: every method is one call of the Win32 function it is named
// after, in the form (ANSI or wide) that its declaration in platform.h names.
#pragma once

#include "platform/platform.h"

namespace vol {

// The full path of the running executable; empty when the system does not say.
std::wstring ProcessExecutablePath();

// Keeps the system from raising its own error boxes ("There is no disk in the drive")
// for the program's queries, keeping whatever error mode the process had besides.
void QuietSystemErrorBoxes();

class Win32Platform final : public Platform {
 public:
  // The window (an HWND) that owns ShowMessage's boxes and the clipboard; null for none.
  void SetMessageOwner(void* hwnd) { message_owner_ = hwnd; }

  Handle FindFirstVolume(std::wstring& volume_name) override;
  bool FindNextVolume(Handle find, std::wstring& volume_name) override;
  bool FindVolumeClose(Handle find) override;
  bool GetVolumePathNamesForVolumeName(const std::wstring& volume_name, wchar_t* buffer,
                                       uint32_t buffer_length, uint32_t* return_length) override;
  bool SetVolumeMountPoint(const std::wstring& mount_path,
                           const std::wstring& volume_name) override;
  bool DeleteVolumeMountPoint(const std::wstring& mount_path) override;

  Module LoadLibrary(const std::wstring& file_name, ApiForm form) override;
  bool FreeLibrary(Module module) override;
  ProcAddress GetProcAddress(Module module, const char* export_name) override;
  bool CallGetVolumeNameForVolumeMountPoint(ProcAddress function, const std::string& mount_path,
                                            char* buffer, uint32_t buffer_length) override;

  uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer, uint32_t buffer_length,
                          ApiForm form) override;
  bool DefineDosDevice(uint32_t flags, const std::wstring& device_name,
                       const std::wstring* target_path, ApiForm form) override;

  uint32_t GetDriveType(const std::wstring& root_path, ApiForm form) override;
  bool GetDiskFreeSpace(const std::wstring& root_path, uint32_t* sectors_per_cluster,
                        uint32_t* bytes_per_sector, uint32_t* free_clusters,
                        uint32_t* total_clusters, ApiForm form) override;
  bool GetVolumeInformation(const std::wstring& root_path, uint32_t* serial_number,
                            uint32_t* max_component_length, uint32_t* file_system_flags) override;

  Handle CreateFile(const std::wstring& path, uint32_t access, uint32_t share_mode,
                    uint32_t creation_disposition, uint32_t flags_and_attributes,
                    ApiForm form) override;
  bool DeviceIoControl(Handle device, uint32_t control_code, const void* in_buffer,
                       uint32_t in_size, void* out_buffer, uint32_t out_size,
                       uint32_t* bytes_returned) override;
  bool CloseHandle(Handle handle) override;

  uint32_t GetLastError() override;
  void SetLastError(uint32_t code) override;
  std::wstring FormatMessage(uint32_t code) override;

  std::string ToAnsi(const std::wstring& text) override;
  std::wstring FromAnsi(const std::string& text) override;

  void Sleep(uint32_t milliseconds) override;
  void MessageBox(const std::wstring& text, const std::wstring& caption, uint32_t type,
                  ApiForm form) override;
  void ShowMessage(const std::wstring& text) override;
  bool SetClipboardText(const std::wstring& text, ApiForm form) override;
  std::wstring LocalDateTimeText() override;
  std::wstring ExecutablePath() override;

 private:
  void* message_owner_ = nullptr;
};

}  // namespace vol
