#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/handles_win.h"
#include "platform/text.h"
#include "platform/win32_platform.h"

namespace vol {
namespace {

constexpr wchar_t kApplicationTitle[] = L"volumes";

// Another program may hold the clipboard for a moment (clipboard viewers, remote
// desktop); waiting longer than this would only freeze the window.
constexpr int kClipboardOpenAttempts = 10;
constexpr DWORD kClipboardRetryMilliseconds = 20;

HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }
HMODULE ToModule(Module module) { return reinterpret_cast<HMODULE>(module); }

// The last error of the call that failed, put back when the function returns, after
// every buffer and converted argument has been released.
class ErrorKeeper {
 public:
  ErrorKeeper() = default;
  ErrorKeeper(const ErrorKeeper&) = delete;
  ErrorKeeper& operator=(const ErrorKeeper&) = delete;
  ~ErrorKeeper() {
    if (kept_) ::SetLastError(error_);
  }
  // Right after the failing call, before anything else can touch the last error.
  void Keep() {
    error_ = ::GetLastError();
    kept_ = true;
  }

 private:
  DWORD error_ = 0;
  bool kept_ = false;
};

// A text argument of an ANSI call. A failed conversion is kept as the call's error.
class AnsiArg {
 public:
  AnsiArg(const std::wstring& text, ErrorKeeper& keeper) {
    ok_ = AnsiFromWide(text, text_);
    if (!ok_) keeper.Keep();
  }
  explicit operator bool() const { return ok_; }
  const char* c_str() const { return text_.c_str(); }

 private:
  std::string text_;
  bool ok_ = false;
};

// The clipboard, open for one update and closed again on every path.
struct ClipboardCloser {
  void operator()(bool) const { ::CloseClipboard(); }
};
using OpenedClipboard = UniqueAny<bool, ClipboardCloser, false>;
OpenedClipboard OpenClipboardRetrying(HWND owner) {
  for (int attempt = 0; attempt < kClipboardOpenAttempts; ++attempt) {
    if (attempt > 0) ::Sleep(kClipboardRetryMilliseconds);
    if (::OpenClipboard(owner)) return OpenedClipboard(true);
  }
  return OpenedClipboard();
}

using DateTimeFormatter = int(WINAPI*)(LCID, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR, int);

std::wstring FormatLocal(DateTimeFormatter format, DWORD flags, const SYSTEMTIME& time) {
  const int needed = format(LOCALE_USER_DEFAULT, flags, &time, nullptr, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring text(static_cast<std::size_t>(needed), L'\0');
  const int written = format(LOCALE_USER_DEFAULT, flags, &time, nullptr, text.data(), needed);
  if (written <= 0) return {};
  text.resize(static_cast<std::size_t>(written - 1));  // without the terminator
  return text;
}

}  // namespace

// ----------------------------------------------------------------- volume management

Handle Win32Platform::FindFirstVolume(std::wstring& volume_name) {
  ErrorKeeper keeper;
  char name[MAX_PATH + 1] = {};
  const HANDLE find = ::FindFirstVolumeA(name, sizeof name);
  if (find == INVALID_HANDLE_VALUE) {
    keeper.Keep();
    return kInvalidHandle;
  }
  std::wstring wide;
  if (!WideFromAnsi(name, wide)) {
    keeper.Keep();
    ::FindVolumeClose(find);
    return kInvalidHandle;
  }
  volume_name = std::move(wide);
  return FromHandle(find);
}

bool Win32Platform::FindNextVolume(Handle find, std::wstring& volume_name) {
  ErrorKeeper keeper;
  char name[MAX_PATH + 1] = {};
  std::wstring wide;
  if (!::FindNextVolumeA(ToHandle(find), name, sizeof name) || !WideFromAnsi(name, wide)) {
    keeper.Keep();
    return false;
  }
  volume_name = std::move(wide);
  return true;
}

bool Win32Platform::FindVolumeClose(Handle find) {
  return ::FindVolumeClose(ToHandle(find)) != FALSE;
}

bool Win32Platform::GetVolumePathNamesForVolumeName(const std::wstring& volume_name,
                                                    wchar_t* buffer, uint32_t buffer_length,
                                                    uint32_t* return_length) {
  ErrorKeeper keeper;
  const AnsiArg volume(volume_name, keeper);
  if (!volume) return false;
  std::vector<char> names(buffer_length);
  DWORD length = 0;
  if (!::GetVolumePathNamesForVolumeNameA(volume.c_str(), buffer_length ? names.data() : nullptr,
                                          buffer_length, &length)) {
    keeper.Keep();
    if (return_length) *return_length = length;  // the length needed, on ERROR_MORE_DATA
    return false;
  }
  const std::string_view used = WrittenMultiString({names.data(), names.size()});
  const uint32_t written =
      WideFromAnsiInto(used.data(), static_cast<uint32_t>(used.size()), buffer, buffer_length);
  if (!used.empty() && written == 0) {
    keeper.Keep();
    return false;
  }
  if (return_length) *return_length = written;
  return true;
}

bool Win32Platform::SetVolumeMountPoint(const std::wstring& mount_path,
                                        const std::wstring& volume_name) {
  ErrorKeeper keeper;
  const AnsiArg path(mount_path, keeper);
  if (!path) return false;
  const AnsiArg volume(volume_name, keeper);
  if (!volume) return false;
  if (::SetVolumeMountPointA(path.c_str(), volume.c_str())) return true;
  keeper.Keep();
  return false;
}

bool Win32Platform::DeleteVolumeMountPoint(const std::wstring& mount_path) {
  ErrorKeeper keeper;
  const AnsiArg path(mount_path, keeper);
  if (!path) return false;
  if (::DeleteVolumeMountPointA(path.c_str())) return true;
  keeper.Keep();
  return false;
}

// ------------------------------------------------------------------------- modules

Module Win32Platform::LoadLibrary(const std::wstring& file_name, ApiForm form) {
  ErrorKeeper keeper;
  HMODULE module = nullptr;
  if (form == ApiForm::Wide) {
    module = ::LoadLibraryW(file_name.c_str());
  } else {
    const AnsiArg name(file_name, keeper);
    if (!name) return 0;
    module = ::LoadLibraryA(name.c_str());
  }
  if (!module) keeper.Keep();
  return reinterpret_cast<Module>(module);
}

bool Win32Platform::FreeLibrary(Module module) { return ::FreeLibrary(ToModule(module)) != FALSE; }

ProcAddress Win32Platform::GetProcAddress(Module module, const char* export_name) {
  return reinterpret_cast<ProcAddress>(::GetProcAddress(ToModule(module), export_name));
}

bool Win32Platform::CallGetVolumeNameForVolumeMountPoint(ProcAddress function,
                                                         const std::string& mount_path,
                                                         char* buffer, uint32_t buffer_length) {
  using GetVolumeNameForVolumeMountPointA = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD);
  if (function == 0) {  // a failed lookup; calling address 0 would crash
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  const auto call = reinterpret_cast<GetVolumeNameForVolumeMountPointA>(function);
  return call(mount_path.c_str(), buffer, buffer_length) != FALSE;
}

// ------------------------------------------------------------ the DOS-device namespace

uint32_t Win32Platform::QueryDosDevice(const std::wstring* device_name, wchar_t* buffer,
                                       uint32_t buffer_length, ApiForm form) {
  if (form == ApiForm::Wide) {
    return ::QueryDosDeviceW(device_name ? device_name->c_str() : nullptr, buffer, buffer_length);
  }
  ErrorKeeper keeper;
  std::string name;
  if (device_name && !AnsiFromWide(*device_name, name)) {
    keeper.Keep();
    return 0;
  }
  std::vector<char> targets(buffer_length);
  const DWORD count = ::QueryDosDeviceA(device_name ? name.c_str() : nullptr,
                                        buffer_length ? targets.data() : nullptr, buffer_length);
  if (count == 0) {
    keeper.Keep();
    return 0;
  }
  const uint32_t written = WideFromAnsiInto(targets.data(), count, buffer, buffer_length);
  if (written == 0) keeper.Keep();
  return written;
}

bool Win32Platform::DefineDosDevice(uint32_t flags, const std::wstring& device_name,
                                    const std::wstring* target_path, ApiForm form) {
  if (form == ApiForm::Wide) {
    return ::DefineDosDeviceW(flags, device_name.c_str(),
                              target_path ? target_path->c_str() : nullptr) != FALSE;
  }
  ErrorKeeper keeper;
  const AnsiArg name(device_name, keeper);
  if (!name) return false;
  std::string target;
  if (target_path && !AnsiFromWide(*target_path, target)) {
    keeper.Keep();
    return false;
  }
  if (::DefineDosDeviceA(flags, name.c_str(), target_path ? target.c_str() : nullptr)) return true;
  keeper.Keep();
  return false;
}

// ------------------------------------------------------------- drives and file systems

uint32_t Win32Platform::GetDriveType(const std::wstring& root_path, ApiForm form) {
  if (form == ApiForm::Wide) return ::GetDriveTypeW(root_path.c_str());
  ErrorKeeper keeper;
  const AnsiArg root(root_path, keeper);
  if (!root) return DRIVE_UNKNOWN;
  return ::GetDriveTypeA(root.c_str());
}

bool Win32Platform::GetDiskFreeSpace(const std::wstring& root_path, uint32_t* sectors_per_cluster,
                                     uint32_t* bytes_per_sector, uint32_t* free_clusters,
                                     uint32_t* total_clusters, ApiForm form) {
  ErrorKeeper keeper;
  DWORD sectors = 0, bytes = 0, free = 0, total = 0;
  DWORD* const sectors_out = sectors_per_cluster ? &sectors : nullptr;
  DWORD* const bytes_out = bytes_per_sector ? &bytes : nullptr;
  DWORD* const free_out = free_clusters ? &free : nullptr;
  DWORD* const total_out = total_clusters ? &total : nullptr;
  BOOL ok = FALSE;
  if (form == ApiForm::Wide) {
    ok = ::GetDiskFreeSpaceW(root_path.c_str(), sectors_out, bytes_out, free_out, total_out);
  } else {
    const AnsiArg root(root_path, keeper);
    if (!root) return false;
    ok = ::GetDiskFreeSpaceA(root.c_str(), sectors_out, bytes_out, free_out, total_out);
  }
  if (!ok) {
    keeper.Keep();
    return false;
  }
  if (sectors_per_cluster) *sectors_per_cluster = sectors;
  if (bytes_per_sector) *bytes_per_sector = bytes;
  if (free_clusters) *free_clusters = free;
  if (total_clusters) *total_clusters = total;
  return true;
}

bool Win32Platform::GetVolumeInformation(const std::wstring& root_path, uint32_t* serial_number,
                                         uint32_t* max_component_length,
                                         uint32_t* file_system_flags) {
  ErrorKeeper keeper;
  const AnsiArg root(root_path, keeper);
  if (!root) return false;
  DWORD serial = 0, component = 0, flags = 0;
  if (!::GetVolumeInformationA(root.c_str(), nullptr, 0, serial_number ? &serial : nullptr,
                               max_component_length ? &component : nullptr,
                               file_system_flags ? &flags : nullptr, nullptr, 0)) {
    keeper.Keep();
    return false;
  }
  if (serial_number) *serial_number = serial;
  if (max_component_length) *max_component_length = component;
  if (file_system_flags) *file_system_flags = flags;
  return true;
}

// ------------------------------------------------------------------------- devices

Handle Win32Platform::CreateFile(const std::wstring& path, uint32_t access, uint32_t share_mode,
                                 uint32_t creation_disposition, uint32_t flags_and_attributes,
                                 ApiForm form) {
  if (form == ApiForm::Wide) {
    return FromHandle(::CreateFileW(path.c_str(), access, share_mode, nullptr, creation_disposition,
                                    flags_and_attributes, nullptr));
  }
  ErrorKeeper keeper;
  const AnsiArg name(path, keeper);
  if (!name) return kInvalidHandle;
  const HANDLE file = ::CreateFileA(name.c_str(), access, share_mode, nullptr, creation_disposition,
                                    flags_and_attributes, nullptr);
  if (file == INVALID_HANDLE_VALUE) keeper.Keep();
  return FromHandle(file);
}

bool Win32Platform::DeviceIoControl(Handle device, uint32_t control_code, const void* in_buffer,
                                    uint32_t in_size, void* out_buffer, uint32_t out_size,
                                    uint32_t* bytes_returned) {
  // A synchronous request needs the bytes-returned variable even when nobody reads it.
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(ToHandle(device), control_code, const_cast<void*>(in_buffer),
                                    in_size, out_buffer, out_size, &returned, nullptr);
  if (bytes_returned) *bytes_returned = returned;
  return ok != FALSE;
}

bool Win32Platform::CloseHandle(Handle handle) { return ::CloseHandle(ToHandle(handle)) != FALSE; }

// -------------------------------------------------------------------------- errors

uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }

void Win32Platform::SetLastError(uint32_t code) { ::SetLastError(code); }

std::wstring Win32Platform::FormatMessage(uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  const UniqueLocalMemory owner(text);
  if (length == 0 || !text) return {};
  return std::wstring(text, length);
}

// ---------------------------------------------------------------------------- text

std::string Win32Platform::ToAnsi(const std::wstring& text) { return AnsiFromWide(text); }

std::wstring Win32Platform::FromAnsi(const std::string& text) { return WideFromAnsi(text); }

// ------------------------------------------------------------ user-facing odds and ends

void Win32Platform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

void Win32Platform::MessageBox(const std::wstring& text, const std::wstring& caption, uint32_t type,
                               ApiForm form) {
  if (form == ApiForm::Wide) {
    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), type);
    return;
  }
  ::MessageBoxA(nullptr, ToAnsi(text).c_str(), ToAnsi(caption).c_str(), type);
}

void Win32Platform::ShowMessage(const std::wstring& text) {
  ::MessageBoxW(static_cast<HWND>(message_owner_), text.c_str(), kApplicationTitle, MB_OK);
}

bool Win32Platform::SetClipboardText(const std::wstring& text, ApiForm form) {
  ErrorKeeper keeper;
  std::string ansi;
  const void* bytes = text.c_str();
  std::size_t size = (text.size() + 1) * sizeof(wchar_t);
  UINT format = CF_UNICODETEXT;
  if (form == ApiForm::Ansi) {
    if (!AnsiFromWide(text, ansi)) {
      keeper.Keep();
      return false;
    }
    bytes = ansi.c_str();
    size = ansi.size() + 1;
    format = CF_TEXT;
  }

  // Ready before the clipboard is opened, so that a failure here leaves it untouched.
  UniqueGlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, size));
  if (!memory) {
    keeper.Keep();
    return false;
  }
  void* const target = ::GlobalLock(memory.get());
  if (!target) {
    keeper.Keep();
    return false;
  }
  std::memcpy(target, bytes, size);
  ::GlobalUnlock(memory.get());

  const OpenedClipboard clipboard = OpenClipboardRetrying(static_cast<HWND>(message_owner_));
  if (!clipboard || !::EmptyClipboard() || !::SetClipboardData(format, memory.get())) {
    keeper.Keep();
    return false;
  }
  memory.release();  // the clipboard owns it now
  return true;
}

std::wstring Win32Platform::LocalDateTimeText() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);  // one reading for both halves, so they cannot straddle midnight
  return FormatLocal(::GetDateFormatW, DATE_SHORTDATE, now) + L" " +
         FormatLocal(::GetTimeFormatW, 0, now);
}

std::wstring Win32Platform::ExecutablePath() { return ProcessExecutablePath(); }

std::wstring ProcessExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) return {};
    if (length < size) {
      path.resize(length);
      return path;
    }
    if (size >= 32768) return {};  // longer than any path Windows can name
    path.resize(size * 2);
  }
}

void QuietSystemErrorBoxes() {
  // A query on an empty card reader would otherwise wait for the user to answer a
  // modal box, and the list with it.
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

}  // namespace vol
