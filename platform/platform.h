// The one seam between volumes and the operating system.
//
// Every operating-system function the program uses is one method here, named after
// the Win32 function it stands for. Two implementations exist: Win32Platform (the
// real one, Windows targets only) and SimMachine (tests/sim, a model machine).
//
// Text is std::wstring throughout. Where Windows has an ANSI and a wide form of a
// function, the caller says which form it means (ApiForm); the Win32 implementation
// then calls exactly that form and converts with the ANSI code page, so each build
// sees the text behaviour of the form it names. Functions that only ever use one
// form take no ApiForm; the comment says which form the real implementation calls.
//
// Last-error semantics follow Windows: a failing call sets the error that
// GetLastError() returns; a succeeding call may leave it alone.
//
// windows.h defines most of these names as macros that pick the A or W form. The
// methods carry the plain names, so this header removes those macros: a translation
// unit that needs windows.h includes it before this header and calls the Win32
// functions by their explicit A or W names.
#pragma once

#undef CreateFile
#undef DefineDosDevice
#undef DeleteVolumeMountPoint
#undef FindFirstVolume
#undef FindNextVolume
#undef FormatMessage
#undef GetDiskFreeSpace
#undef GetDriveType
#undef GetVolumeInformation
#undef GetVolumePathNamesForVolumeName
#undef LoadLibrary
#undef MessageBox
#undef QueryDosDevice
#undef SetVolumeMountPoint

#include <cstdint>
#include <string>

namespace vol {

using Handle = std::uintptr_t;
inline constexpr Handle kInvalidHandle = ~Handle{0};  // INVALID_HANDLE_VALUE
using Module = std::uintptr_t;                          // 0 = none
using ProcAddress = std::uintptr_t;                     // 0 = not found

enum class ApiForm { Ansi, Wide };

// Win32 error codes the program and its tests meet.
namespace win_error {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kPathNotFound = 3;
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr uint32_t kInvalidHandle = 6;
inline constexpr uint32_t kNotEnoughMemory = 8;
inline constexpr uint32_t kNoMoreFiles = 18;
inline constexpr uint32_t kNotReady = 21;
inline constexpr uint32_t kSharingViolation = 32;
inline constexpr uint32_t kNotSupported = 50;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kCallNotImplemented = 120;
inline constexpr uint32_t kInsufficientBuffer = 122;
inline constexpr uint32_t kInvalidName = 123;
inline constexpr uint32_t kProcNotFound = 127;
inline constexpr uint32_t kDirNotEmpty = 145;
inline constexpr uint32_t kMoreData = 234;
inline constexpr uint32_t kInvalidFunction = 1;
inline constexpr uint32_t kUnrecognizedVolume = 1005;
}  // namespace win_error

// CreateFile arguments.
namespace file_access {
inline constexpr uint32_t kNone = 0;
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
inline constexpr uint32_t kShareRead = 1, kShareWrite = 2, kShareDelete = 4;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kAttributeNormal = 0x80;
}  // namespace file_access

// DeviceIoControl codes.
namespace ioctl {
inline constexpr uint32_t kStorageGetDeviceNumber = 0x2D1080;
inline constexpr uint32_t kVolumeGetVolumeDiskExtents = 0x560000;
inline constexpr uint32_t kDiskGetPartitionInfoEx = 0x70048;
}  // namespace ioctl

// DefineDosDevice flags.
namespace ddd {
inline constexpr uint32_t kRawTargetPath = 1;
inline constexpr uint32_t kRemoveDefinition = 2;
inline constexpr uint32_t kExactMatchOnRemove = 4;
inline constexpr uint32_t kNoBroadcastSystem = 8;
}  // namespace ddd

// GetDriveType results.
namespace drive_type {
inline constexpr uint32_t kUnknown = 0, kNoRootDir = 1, kRemovable = 2, kFixed = 3, kRemote = 4,
                          kCdrom = 5, kRamdisk = 6;
}

// MessageBox flags and results (the few the program uses).
namespace mb {
inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kIconError = 0x10;
}  // namespace mb

// Date and time on the user's clock, as the window's status line needs it.
class Platform {
 public:
  virtual ~Platform() = default;

  // --- volume management (real implementation: the ANSI forms) ---
  // FindFirstVolumeA: the first volume GUID path, or kInvalidHandle.
  virtual Handle FindFirstVolume(std::wstring& volume_name) = 0;
  // FindNextVolumeA: false with ERROR_NO_MORE_FILES at the end.
  virtual bool FindNextVolume(Handle find, std::wstring& volume_name) = 0;
  virtual bool FindVolumeClose(Handle find) = 0;
  // GetVolumePathNamesForVolumeNameA: fills `buffer` (length in characters) with
  // a multi-string of mount paths; on a too-small buffer fails with ERROR_MORE_DATA
  // and sets *return_length to the length needed.
  virtual bool GetVolumePathNamesForVolumeName(const std::wstring& volume_name, wchar_t* buffer,
                                               uint32_t buffer_length,
                                               uint32_t* return_length) = 0;
  // SetVolumeMountPointA / DeleteVolumeMountPointA.
  virtual bool SetVolumeMountPoint(const std::wstring& mount_path,
                                   const std::wstring& volume_name) = 0;
  virtual bool DeleteVolumeMountPoint(const std::wstring& mount_path) = 0;

  // --- modules: GetVolumeNameForVolumeMountPointA is looked up at run time ---
  virtual Module LoadLibrary(const std::wstring& file_name, ApiForm form) = 0;  // 0 on failure
  virtual bool FreeLibrary(Module module) = 0;
  virtual ProcAddress GetProcAddress(Module module, const char* export_name) = 0;
  // Calls a GetVolumeNameForVolumeMountPointA found by GetProcAddress: writes the
  // single-byte volume name into buffer (buffer_length bytes) and returns its result.
  virtual bool CallGetVolumeNameForVolumeMountPoint(ProcAddress function,
                                                    const std::string& mount_path, char* buffer,
                                                    uint32_t buffer_length) = 0;

  // --- the DOS-device namespace ---
  // QueryDosDevice: with device_name null, the list of all names. Returns the count of
  // characters written (terminators included) or 0 with the last error set
  // (ERROR_INSUFFICIENT_BUFFER when the list does not fit).
  virtual uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer,
                                  uint32_t buffer_length, ApiForm form) = 0;
  virtual bool DefineDosDevice(uint32_t flags, const std::wstring& device_name,
                               const std::wstring* target_path, ApiForm form) = 0;

  // --- drives and file systems ---
  virtual uint32_t GetDriveType(const std::wstring& root_path, ApiForm form) = 0;
  virtual bool GetDiskFreeSpace(const std::wstring& root_path, uint32_t* sectors_per_cluster,
                                uint32_t* bytes_per_sector, uint32_t* free_clusters,
                                uint32_t* total_clusters, ApiForm form) = 0;
  // GetVolumeInformationA without name buffers.
  virtual bool GetVolumeInformation(const std::wstring& root_path, uint32_t* serial_number,
                                    uint32_t* max_component_length,
                                    uint32_t* file_system_flags) = 0;

  // --- devices ---
  virtual Handle CreateFile(const std::wstring& path, uint32_t access, uint32_t share_mode,
                            uint32_t creation_disposition, uint32_t flags_and_attributes,
                            ApiForm form) = 0;
  virtual bool DeviceIoControl(Handle device, uint32_t control_code, const void* in_buffer,
                               uint32_t in_size, void* out_buffer, uint32_t out_size,
                               uint32_t* bytes_returned) = 0;
  virtual bool CloseHandle(Handle handle) = 0;

  // --- errors ---
  virtual uint32_t GetLastError() = 0;
  virtual void SetLastError(uint32_t code) = 0;
  // FormatMessage for a system error code in the default language, untrimmed.
  virtual std::wstring FormatMessage(uint32_t code) = 0;

  // --- text: the system's ANSI code page (CP_ACP) ---
  virtual std::string ToAnsi(const std::wstring& text) = 0;
  virtual std::wstring FromAnsi(const std::string& text) = 0;

  // --- user-facing odds and ends ---
  virtual void Sleep(uint32_t milliseconds) = 0;
  // MessageBox with no owner window (the device layer's own boxes).
  virtual void MessageBox(const std::wstring& text, const std::wstring& caption, uint32_t type,
                          ApiForm form) = 0;
  // The window toolkit's plain message dialog: OK button, owned by the main window.
  virtual void ShowMessage(const std::wstring& text) = 0;
  // Puts text on the clipboard, emptying it first: CF_TEXT for ApiForm::Ansi,
  // CF_UNICODETEXT for ApiForm::Wide. False when the clipboard could not be had.
  virtual bool SetClipboardText(const std::wstring& text, ApiForm form) = 0;
  // The short date, a blank, and the long time of the user's locale, for "now".
  virtual std::wstring LocalDateTimeText() = 0;
  // The full path of the running executable.
  virtual std::wstring ExecutablePath() = 0;
};

}  // namespace vol
