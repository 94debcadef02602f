#include "tests/sim/sim_machine.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>
#include <stdexcept>

namespace vol {
namespace {

// Codes the seam's header does not name.
constexpr uint32_t kErrorModNotFound = 126;
constexpr uint32_t kErrorFilenameExcedRange = 206;
constexpr uint32_t kErrorDirNotRoot = 144;
constexpr uint32_t kErrorMrMidNotFound = 317;
constexpr uint32_t kErrorNotAReparsePoint = 4390;

constexpr Module kKernel32 = 0x76000000;
constexpr ProcAddress kGetVolumeNameForVolumeMountPointA = 0x76021230;
constexpr uint32_t kVolumeDiskExtentsSize = 32;  // sizeof(VOLUME_DISK_EXTENTS), one extent

constexpr const char* kCallNames[kCallKinds] = {
    "FindFirstVolume",
    "FindNextVolume",
    "FindVolumeClose",
    "GetVolumePathNamesForVolumeName",
    "SetVolumeMountPoint",
    "DeleteVolumeMountPoint",
    "LoadLibrary",
    "FreeLibrary",
    "GetProcAddress",
    "CallGetVolumeNameForVolumeMountPoint",
    "QueryDosDevice",
    "DefineDosDevice",
    "GetDriveType",
    "GetDiskFreeSpace",
    "GetVolumeInformation",
    "CreateFile",
    "DeviceIoControl",
    "CloseHandle",
    "GetLastError",
    "SetLastError",
    "FormatMessage",
    "ToAnsi",
    "FromAnsi",
    "Sleep",
    "MessageBox",
    "ShowMessage",
    "SetClipboardText",
    "LocalDateTimeText",
    "ExecutablePath",
};

// The error a call most plausibly fails with on a real machine; 0 = the call has no
// failure result.
constexpr uint32_t kTypicalErrors[kCallKinds] = {
    win_error::kNoMoreFiles,       // FindFirstVolume
    win_error::kNoMoreFiles,       // FindNextVolume
    win_error::kInvalidHandle,     // FindVolumeClose
    win_error::kNotReady,          // GetVolumePathNamesForVolumeName
    win_error::kAccessDenied,      // SetVolumeMountPoint
    win_error::kAccessDenied,      // DeleteVolumeMountPoint
    kErrorModNotFound,             // LoadLibrary
    win_error::kInvalidHandle,     // FreeLibrary
    win_error::kProcNotFound,      // GetProcAddress
    win_error::kFileNotFound,      // CallGetVolumeNameForVolumeMountPoint
    win_error::kFileNotFound,      // QueryDosDevice
    win_error::kAccessDenied,      // DefineDosDevice
    win_error::kInvalidParameter,  // GetDriveType
    win_error::kNotReady,          // GetDiskFreeSpace
    win_error::kNotReady,          // GetVolumeInformation
    win_error::kSharingViolation,  // CreateFile
    win_error::kInvalidFunction,   // DeviceIoControl
    win_error::kInvalidHandle,     // CloseHandle
    0,                             // GetLastError
    0,                             // SetLastError
    kErrorMrMidNotFound,           // FormatMessage
    0,                             // ToAnsi
    0,                             // FromAnsi
    0,                             // Sleep
    0,                             // MessageBox
    0,                             // ShowMessage
    win_error::kAccessDenied,      // SetClipboardText
    0,                             // LocalDateTimeText
    0,                             // ExecutablePath
};

struct MessageText {
  uint32_t code;
  const wchar_t* text;
};
// The system's English message texts, untrimmed as FormatMessage gives them.
constexpr MessageText kMessages[] = {
    {0, L"The operation completed successfully.\r\n"},
    {1, L"Incorrect function.\r\n"},
    {2, L"The system cannot find the file specified.\r\n"},
    {3, L"The system cannot find the path specified.\r\n"},
    {5, L"Access is denied.\r\n"},
    {6, L"The handle is invalid.\r\n"},
    {8, L"Not enough memory resources are available to process this command.\r\n"},
    {15, L"The system cannot find the drive specified.\r\n"},
    {18, L"There are no more files.\r\n"},
    {21, L"The device is not ready.\r\n"},
    {31, L"A device attached to the system is not functioning.\r\n"},
    {32, L"The process cannot access the file because it is being used by another process.\r\n"},
    {50, L"The request is not supported.\r\n"},
    {87, L"The parameter is incorrect.\r\n"},
    {120, L"This function is not supported on this system.\r\n"},
    {122, L"The data area passed to a system call is too small.\r\n"},
    {123, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, L"The specified module could not be found.\r\n"},
    {127, L"The specified procedure could not be found.\r\n"},
    {144, L"The directory is not a subdirectory of the root directory.\r\n"},
    {145, L"The directory is not empty.\r\n"},
    {206, L"The filename or extension is too long.\r\n"},
    {234, L"More data is available.\r\n"},
    {1005,
     L"The volume does not contain a recognized file system.\r\n"
     L"Please make sure that all required file system drivers are loaded and that the "
     L"volume is not corrupted.\r\n"},
    {1117, L"The request could not be performed because of an I/O device error.\r\n"},
    {4390, L"The file or directory is not a reparse point.\r\n"},
};

// Windows compares object names with its own upper-case table; ASCII and Latin-1
// cover every name the tests use.
wchar_t UpperChar(wchar_t c) {
  if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - (L'a' - L'A'));
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<wchar_t>(c - 0x20);
  return c;
}

std::wstring Upper(const std::wstring& text) {
  std::wstring result(text);
  for (wchar_t& c : result) c = UpperChar(c);
  return result;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return UpperChar(x) == UpperChar(y); });
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool ContainsNoCase(const std::wstring& text, const std::wstring& part) {
  return Upper(text).find(Upper(part)) != std::wstring::npos;
}

bool EndsWithBackslash(const std::wstring& text) { return !text.empty() && text.back() == L'\\'; }

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsDriveRoot(const std::wstring& path) {
  return path.size() == 3 && IsLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

std::wstring DosNameOfRoot(const std::wstring& root) {
  return std::wstring{UpperChar(root[0]), L':'};
}

bool IsSurrogate(uint32_t u, uint32_t first) { return u >= first && u <= first + 0x3FF; }

// The model ANSI code page: 0..255 stay, everything else is '?'. A UTF-16 surrogate
// pair is one character, so it becomes one '?', as WideCharToMultiByte makes it.
std::string AnsiOf(const std::wstring& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto u = static_cast<uint32_t>(text[i]);
    if (IsSurrogate(u, 0xD800) && i + 1 < text.size() &&
        IsSurrogate(static_cast<uint32_t>(text[i + 1]), 0xDC00)) {
      ++i;
    }
    result.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
  }
  return result;
}

std::wstring WideOf(const std::string& text) {
  std::wstring result;
  result.reserve(text.size());
  for (char c : text) result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return result;
}

// Windows' multi-string: each item with its NUL, then one more NUL.
uint32_t MultiStringLength(const std::vector<std::wstring>& items) {
  size_t length = 1;
  for (const auto& item : items) length += item.size() + 1;
  return static_cast<uint32_t>(length);
}

void WriteMultiString(const std::vector<std::wstring>& items, wchar_t* buffer) {
  for (const auto& item : items) {
    std::copy(item.begin(), item.end(), buffer);
    buffer += item.size();
    *buffer++ = L'\0';
  }
  *buffer = L'\0';
}

std::wstring Hex(uint32_t value, int digits) {
  std::wstring result(static_cast<size_t>(digits), L'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    result[static_cast<size_t>(i)] = L"0123456789abcdef"[value & 0xF];
  return result;
}

// The device-name part of a path in one of the namespace's spellings
// (\\?\NAME, \\.\NAME, \??\NAME), or empty.
std::wstring NamespaceName(const std::wstring& path) {
  for (const wchar_t* prefix : {L"\\\\?\\", L"\\\\.\\", L"\\??\\"}) {
    const std::wstring p(prefix);
    if (path.size() > p.size() && path.compare(0, p.size(), p) == 0) {
      std::wstring rest = path.substr(p.size());
      if (rest.find(L'\\') == std::wstring::npos) return rest;
    }
  }
  return {};
}

template <typename T>
void Put(T* out, T value) {
  if (out) *out = value;
}

}  // namespace

const char* CallName(Call call) {
  const int index = static_cast<int>(call);
  return index >= 0 && index < kCallKinds ? kCallNames[index] : "?";
}

SimMachine::SimMachine() = default;
SimMachine::~SimMachine() = default;

// ------------------------------------------------------------------ building

SimDevice& SimMachine::AddDevice(std::wstring nt_name) {
  devices_.emplace_back();
  devices_.back().nt_name = std::move(nt_name);
  return devices_.back();
}

SimDevice& SimMachine::AddVolume(std::wstring guid, std::wstring nt_name) {
  SimDevice& device = AddDevice(nt_name);
  volumes_.push_back(Volume{L"\\\\?\\Volume" + guid + L"\\", L"Volume" + guid, &device, {}});
  PushDosName(L"Volume" + guid, nt_name);
  return device;
}

void SimMachine::RemoveVolume(const std::wstring& volume_guid_path) {
  Volume* volume = FindVolume(volume_guid_path);
  if (!volume) throw std::invalid_argument("RemoveVolume: unknown volume");
  const std::wstring nt_name = volume->device->nt_name;
  auto remove_definition = [&](const std::wstring& name) {
    if (DosName* entry = FindDosName(name)) {
      for (size_t i = 0; i < entry->targets.size(); ++i) {
        if (EqualsNoCase(entry->targets[entry->targets.size() - 1 - i], nt_name)) {
          RemoveDosDefinition(*entry, i);
          return;
        }
      }
    }
  };
  for (const auto& path : volume->mount_paths) {
    if (IsDriveRoot(path)) remove_definition(DosNameOfRoot(path));
  }
  remove_definition(volume->dos_name);
  volumes_.erase(volumes_.begin() + (volume - volumes_.data()));
}

std::wstring SimMachine::Guid(int n) {
  const auto value = static_cast<uint32_t>(n);
  return L"{" + Hex(value, 8) + L"-5a1e-11f0-9000-0000" + Hex(value, 8) + L"}";
}

std::wstring SimMachine::VolumeGuidPath(int n) { return L"\\\\?\\Volume" + Guid(n) + L"\\"; }

void SimMachine::AddMountPath(const std::wstring& volume_guid_path,
                              const std::wstring& mount_path) {
  Volume* volume = FindVolume(volume_guid_path);
  if (!volume) throw std::invalid_argument("AddMountPath: unknown volume");
  if (!EndsWithBackslash(mount_path)) {
    throw std::invalid_argument("AddMountPath: a mount path ends with a backslash");
  }
  volume->mount_paths.push_back(mount_path);
  if (IsDriveRoot(mount_path)) PushDosName(DosNameOfRoot(mount_path), volume->device->nt_name);
}

void SimMachine::AddFolder(const std::wstring& path) {
  std::wstring folder = path;
  if (!EndsWithBackslash(folder)) folder += L'\\';
  folders_[Upper(folder)] = folder;
}

void SimMachine::DefineDosName(const std::wstring& name, const std::wstring& target) {
  PushDosName(name, target);
}

void SimMachine::AddManyDosNames(const std::wstring& prefix, int count,
                                 const std::wstring& target) {
  dos_index_.reserve(dos_index_.size() + static_cast<size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) PushDosName(prefix + std::to_wstring(i), target);
}

void SimMachine::SetDriveType(wchar_t letter, uint32_t type) {
  drive_type_overrides_[UpperChar(letter)] = type;
}

SimDevice& SimMachine::Device(const std::wstring& nt_name) {
  SimDevice* device = FindDevice(nt_name);
  if (!device) throw std::out_of_range("SimMachine::Device: unknown NT device name");
  return *device;
}

SimMachine::FailureRule& SimMachine::Fail(Call call, uint32_t error, std::wstring argument_part) {
  failures_.push_back(FailureRule{call, error, std::move(argument_part), std::nullopt, -1});
  return failures_.back();
}

void SimMachine::ClearFailures() {
  failures_.clear();
  random_percent_ = 0;
}

void SimMachine::FailAtRandom(uint32_t rng_state, unsigned percent) {
  rng_state_ = rng_state;
  random_percent_ = std::min(percent, 100u);
}

void SimMachine::SetLibraryMissing(bool missing) { library_missing_ = missing; }
void SimMachine::SetExportMissing(bool missing) { export_missing_ = missing; }
void SimMachine::SetClipboardBusy(bool busy) { clipboard_busy_ = busy; }
void SimMachine::SetLocalDateTimeText(std::wstring text) { date_time_text_ = std::move(text); }
void SimMachine::SetExecutablePath(std::wstring path) { executable_path_ = std::move(path); }
void SimMachine::SetRecordCalls(bool record) { record_calls_ = record; }

// --------------------------------------------------------------- observation

int SimMachine::open_handles() const {
  return static_cast<int>(handles_.size()) + module_references_;
}

std::wstring SimMachine::DescribeOpenHandles() const {
  std::wstring text;
  for (const auto& [handle, open] : handles_) {
    text += (open.kind == HandleKind::File ? L"file " : L"volume search ") +
            Hex(static_cast<uint32_t>(handle), 8) + L" " + open.path + L"\n";
  }
  if (module_references_ > 0) {
    text += L"kernel32.dll loaded " + std::to_wstring(module_references_) + L" time(s)\n";
  }
  return text;
}

int SimMachine::CountCalls(Call call) const {
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [call](const CallRecord& r) { return r.call == call; }));
}

const SimMachine::CallRecord* SimMachine::LastCall(Call call) const {
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
    if (it->call == call) return &*it;
  }
  return nullptr;
}

std::vector<std::wstring> SimMachine::DosTargets(const std::wstring& name) const {
  const DosName* entry = FindDosName(name);
  if (!entry) return {};
  return {entry->targets.rbegin(), entry->targets.rend()};
}

std::vector<std::wstring> SimMachine::DosNames() const {
  std::vector<std::wstring> names;
  names.reserve(dos_names_.size());
  for (const auto& entry : dos_names_) names.push_back(entry.name);
  return names;
}

std::vector<std::wstring> SimMachine::MountPaths(const std::wstring& volume_guid_path) const {
  const Volume* volume = FindVolume(volume_guid_path);
  return volume ? volume->mount_paths : std::vector<std::wstring>{};
}

std::vector<std::wstring> SimMachine::VolumeGuidPaths() const {
  std::vector<std::wstring> paths;
  for (const auto& volume : volumes_) paths.push_back(volume.guid_path);
  return paths;
}

PartitionInformationEx SimMachine::MbrPartition(uint32_t number, int64_t offset, int64_t length,
                                                uint8_t type, bool boot, uint32_t hidden_sectors) {
  PartitionInformationEx p;
  std::memset(&p, 0, sizeof p);
  p.PartitionStyle = kPartitionStyleMbr;
  p.StartingOffset = offset;
  p.PartitionLength = length;
  p.PartitionNumber = number;
  p.Mbr.PartitionType = type;
  p.Mbr.BootIndicator = boot ? 1 : 0;
  p.Mbr.RecognizedPartition = 1;
  p.Mbr.HiddenSectors = hidden_sectors;
  return p;
}

PartitionInformationEx SimMachine::GptPartition(uint32_t number, int64_t offset, int64_t length,
                                                const vol::Guid& type, const vol::Guid& id,
                                                const std::u16string& name, uint64_t attributes) {
  PartitionInformationEx p;
  std::memset(&p, 0, sizeof p);
  p.PartitionStyle = kPartitionStyleGpt;
  p.StartingOffset = offset;
  p.PartitionLength = length;
  p.PartitionNumber = number;
  p.Gpt.PartitionType = type;
  p.Gpt.PartitionId = id;
  p.Gpt.Attributes = attributes;
  const size_t count = std::min(name.size(), std::size(p.Gpt.Name));
  std::copy_n(name.begin(), count, p.Gpt.Name);
  return p;
}

// ------------------------------------------------------------------ internals

SimMachine::CallRecord& SimMachine::Record(Call call, std::wstring argument, ApiForm form) {
  CallRecord record;
  record.call = call;
  record.argument = std::move(argument);
  record.form = form;
  if (!record_calls_) {
    scratch_record_ = std::move(record);
    return scratch_record_;
  }
  calls_.push_back(std::move(record));
  return calls_.back();
}

bool SimMachine::ScriptedFailure(CallRecord& record) {
  for (auto& rule : failures_) {
    if (rule.call != record.call || rule.times == 0) continue;
    if (!rule.argument_part.empty() && !ContainsNoCase(record.argument, rule.argument_part)) {
      continue;
    }
    if (rule.flags && *rule.flags != record.flags) continue;
    if (rule.times > 0) --rule.times;
    if (rule.throws) throw std::bad_alloc();
    Failed(record, rule.error);
    return true;
  }
  const uint32_t typical = kTypicalErrors[static_cast<int>(record.call)];
  if (random_percent_ == 0 || typical == 0) return false;
  // splitmix32: any start value gives a well-mixed sequence.
  rng_state_ += 0x9E3779B9u;
  uint32_t z = rng_state_;
  z = (z ^ (z >> 16)) * 0x85EBCA6Bu;
  z = (z ^ (z >> 13)) * 0xC2B2AE35u;
  z ^= z >> 16;
  if (z % 100 >= random_percent_) return false;
  Failed(record, typical);
  return true;
}

bool SimMachine::Failed(CallRecord& record, uint32_t error) {
  last_error_ = error;
  record.failed = true;
  return false;
}

SimMachine::Volume* SimMachine::FindVolume(const std::wstring& volume_guid_path) {
  for (auto& volume : volumes_) {
    if (EqualsNoCase(volume.guid_path, volume_guid_path)) return &volume;
  }
  return nullptr;
}

const SimMachine::Volume* SimMachine::FindVolume(const std::wstring& volume_guid_path) const {
  return const_cast<SimMachine*>(this)->FindVolume(volume_guid_path);
}

SimMachine::Volume* SimMachine::VolumeMountedAt(const std::wstring& mount_path, size_t* index) {
  for (auto& volume : volumes_) {
    for (size_t i = 0; i < volume.mount_paths.size(); ++i) {
      if (EqualsNoCase(volume.mount_paths[i], mount_path)) {
        if (index) *index = i;
        return &volume;
      }
    }
  }
  return nullptr;
}

SimMachine::DosName* SimMachine::FindDosName(const std::wstring& name) {
  auto it = dos_index_.find(Upper(name));
  return it == dos_index_.end() ? nullptr : &*it->second;
}

const SimMachine::DosName* SimMachine::FindDosName(const std::wstring& name) const {
  return const_cast<SimMachine*>(this)->FindDosName(name);
}

SimDevice* SimMachine::FindDevice(const std::wstring& nt_name) {
  for (auto& device : devices_) {
    if (EqualsNoCase(device.nt_name, nt_name)) return &device;
  }
  return nullptr;
}

SimMachine::Resolved SimMachine::ResolveDosName(const std::wstring& name, SimDevice** device,
                                                int depth) {
  const DosName* entry = FindDosName(name);
  if (!entry) return Resolved::Unknown;
  const std::wstring& target = entry->targets.back();
  if ((*device = FindDevice(target))) return Resolved::Device;
  // A name may stand for another name (\??\Volume{...}); follow such links a few levels.
  for (const wchar_t* prefix : {L"\\??\\", L"\\DosDevices\\", L"\\GLOBAL??\\"}) {
    if (depth < 8 && StartsWithNoCase(target, prefix)) {
      const std::wstring rest = target.substr(std::wcslen(prefix));
      if (!rest.empty() && rest.find(L'\\') == std::wstring::npos &&
          ResolveDosName(rest, device, depth + 1) == Resolved::Device) {
        return Resolved::Device;
      }
    }
  }
  return Resolved::NotDevice;
}

// A letter defined to a folder (\??\C:\temp, as subst makes them) is on the drive
// of that folder.
bool SimMachine::ResolveFolderDrive(const std::wstring& name, SimDevice** device) {
  const DosName* entry = FindDosName(name);
  if (!entry) return false;
  const std::wstring& target = entry->targets.back();
  return target.size() >= 7 && StartsWithNoCase(target, L"\\??\\") && target[5] == L':' &&
         ResolveDosName(target.substr(4, 2), device) == Resolved::Device;
}

// The device behind a root path, or the error GetDiskFreeSpace / GetVolumeInformation
// give for it.
uint32_t SimMachine::RootDevice(const std::wstring& root_path, SimDevice** device) {
  if (!EndsWithBackslash(root_path)) return win_error::kInvalidName;
  std::wstring core = root_path;
  while (EndsWithBackslash(core)) core.pop_back();
  if (core.empty()) return win_error::kPathNotFound;
  if (Volume* volume = VolumeMountedAt(core + L"\\")) {
    *device = volume->device;
  } else {
    std::wstring name =
        (core.size() == 2 && IsLetter(core[0]) && core[1] == L':') ? core : NamespaceName(core);
    if (name.empty() || ResolveDosName(name, device) != Resolved::Device) {
      return win_error::kPathNotFound;
    }
  }
  if ((*device)->open_error != 0) return (*device)->open_error;
  if (!(*device)->file_system) return win_error::kUnrecognizedVolume;
  return win_error::kSuccess;
}

void SimMachine::PushDosName(const std::wstring& name, const std::wstring& target) {
  std::wstring key = Upper(name);
  auto it = dos_index_.find(key);
  if (it != dos_index_.end()) {
    it->second->targets.push_back(target);
    return;
  }
  dos_names_.push_back(DosName{name, {target}});
  dos_index_.emplace(std::move(key), std::prev(dos_names_.end()));
}

void SimMachine::RemoveDosDefinition(DosName& entry, size_t index_from_top) {
  entry.targets.erase(entry.targets.end() - 1 - static_cast<std::ptrdiff_t>(index_from_top));
  if (!entry.targets.empty()) return;
  auto it = dos_index_.find(Upper(entry.name));
  dos_names_.erase(it->second);
  dos_index_.erase(it);
}

std::wstring SimMachine::Narrow(const std::wstring& text, ApiForm form) {
  return form == ApiForm::Ansi ? WideOf(AnsiOf(text)) : text;
}

Handle SimMachine::NewHandle(OpenHandle handle) {
  const Handle value = next_handle_;
  next_handle_ += 4;
  handles_.emplace(value, std::move(handle));
  return value;
}

bool SimMachine::Release(Handle handle, HandleKind kind, CallRecord& record) {
  auto it = handles_.find(handle);
  const bool known = it != handles_.end() && it->second.kind == kind;
  if (known) record.argument = it->second.path;
  const bool scripted = ScriptedFailure(record);
  if (!known) {
    ++bad_closes_;
    return scripted ? false : Failed(record, win_error::kInvalidHandle);
  }
  handles_.erase(it);
  return !scripted;
}

// ------------------------------------------------------------------ Platform

Handle SimMachine::FindFirstVolume(std::wstring& volume_name) {
  CallRecord& record = Record(Call::FindFirstVolume, L"", ApiForm::Ansi);
  if (ScriptedFailure(record)) return kInvalidHandle;
  if (volumes_.empty()) {
    Failed(record, win_error::kNoMoreFiles);
    return kInvalidHandle;
  }
  OpenHandle search{HandleKind::Find, L"", nullptr, {}, 1};
  for (const auto& volume : volumes_) {
    search.volume_names.push_back(Narrow(volume.guid_path, ApiForm::Ansi));
  }
  volume_name = search.volume_names.front();
  record.handle = NewHandle(std::move(search));
  return record.handle;
}

bool SimMachine::FindNextVolume(Handle find, std::wstring& volume_name) {
  CallRecord& record = Record(Call::FindNextVolume, L"", ApiForm::Ansi);
  record.handle = find;
  if (ScriptedFailure(record)) return false;
  auto it = handles_.find(find);
  if (it == handles_.end() || it->second.kind != HandleKind::Find) {
    return Failed(record, win_error::kInvalidHandle);
  }
  OpenHandle& search = it->second;
  if (search.next >= search.volume_names.size()) return Failed(record, win_error::kNoMoreFiles);
  volume_name = search.volume_names[search.next++];
  return true;
}

bool SimMachine::FindVolumeClose(Handle find) {
  CallRecord& record = Record(Call::FindVolumeClose, L"", ApiForm::Ansi);
  record.handle = find;
  return Release(find, HandleKind::Find, record);
}

bool SimMachine::GetVolumePathNamesForVolumeName(const std::wstring& volume_name, wchar_t* buffer,
                                                 uint32_t buffer_length, uint32_t* return_length) {
  CallRecord& record = Record(Call::GetVolumePathNamesForVolumeName,
                              Narrow(volume_name, ApiForm::Ansi), ApiForm::Ansi);
  record.buffer_size = buffer_length;
  if (ScriptedFailure(record)) return false;
  const Volume* volume = FindVolume(record.argument);
  if (!volume) {
    // A well-formed name that no volume has is not found; anything else is no name.
    const bool well_formed =
        StartsWithNoCase(record.argument, L"\\\\?\\Volume{") && EndsWithBackslash(record.argument);
    return Failed(record, well_formed ? win_error::kFileNotFound : win_error::kInvalidName);
  }
  std::vector<std::wstring> paths;
  for (const auto& path : volume->mount_paths) paths.push_back(Narrow(path, ApiForm::Ansi));
  const uint32_t needed = MultiStringLength(paths);
  Put(return_length, needed);
  if (!buffer || buffer_length < needed) return Failed(record, win_error::kMoreData);
  WriteMultiString(paths, buffer);
  return true;
}

bool SimMachine::SetVolumeMountPoint(const std::wstring& mount_path,
                                     const std::wstring& volume_name) {
  CallRecord& record =
      Record(Call::SetVolumeMountPoint, Narrow(mount_path, ApiForm::Ansi), ApiForm::Ansi);
  record.argument2 = Narrow(volume_name, ApiForm::Ansi);
  if (ScriptedFailure(record)) return false;
  const std::wstring& mount = record.argument;
  if (!EndsWithBackslash(mount)) return Failed(record, win_error::kInvalidName);
  Volume* volume = FindVolume(record.argument2);
  if (!volume) return Failed(record, win_error::kInvalidParameter);
  if (IsDriveRoot(mount)) {
    const std::wstring name = DosNameOfRoot(mount);
    if (FindDosName(name)) return Failed(record, win_error::kDirNotEmpty);
    volume->mount_paths.push_back(mount);
    PushDosName(name, volume->device->nt_name);
    return true;
  }
  if (VolumeMountedAt(mount)) return Failed(record, win_error::kDirNotEmpty);
  if (!folders_.count(Upper(mount))) return Failed(record, win_error::kPathNotFound);
  volume->mount_paths.push_back(mount);
  return true;
}

bool SimMachine::DeleteVolumeMountPoint(const std::wstring& mount_path) {
  CallRecord& record =
      Record(Call::DeleteVolumeMountPoint, Narrow(mount_path, ApiForm::Ansi), ApiForm::Ansi);
  if (ScriptedFailure(record)) return false;
  const std::wstring& mount = record.argument;
  if (mount.empty()) return Failed(record, win_error::kInvalidParameter);
  if (!EndsWithBackslash(mount)) return Failed(record, win_error::kInvalidName);
  size_t index = 0;
  Volume* volume = VolumeMountedAt(mount, &index);
  if (!volume) {
    return Failed(record,
                  folders_.count(Upper(mount)) ? kErrorNotAReparsePoint : win_error::kFileNotFound);
  }
  volume->mount_paths.erase(volume->mount_paths.begin() + static_cast<std::ptrdiff_t>(index));
  if (IsDriveRoot(mount)) {
    if (DosName* entry = FindDosName(DosNameOfRoot(mount))) {
      for (size_t i = 0; i < entry->targets.size(); ++i) {
        if (EqualsNoCase(entry->targets[entry->targets.size() - 1 - i], volume->device->nt_name)) {
          RemoveDosDefinition(*entry, i);
          break;
        }
      }
    }
  }
  return true;
}

Module SimMachine::LoadLibrary(const std::wstring& file_name, ApiForm form) {
  CallRecord& record = Record(Call::LoadLibrary, Narrow(file_name, form), form);
  if (ScriptedFailure(record)) return 0;
  const std::wstring& name = record.argument;
  const bool kernel32 =
      EqualsNoCase(name, L"kernel32.dll") || EqualsNoCase(name, L"kernel32") ||
      (name.size() > 13 && EqualsNoCase(name.substr(name.size() - 13), L"\\kernel32.dll"));
  if (library_missing_ || !kernel32) {
    Failed(record, kErrorModNotFound);
    return 0;
  }
  ++module_references_;
  record.handle = kKernel32;
  return kKernel32;
}

bool SimMachine::FreeLibrary(Module module) {
  CallRecord& record = Record(Call::FreeLibrary);
  record.handle = module;
  const bool scripted = ScriptedFailure(record);
  if (module != kKernel32 || module_references_ == 0) {
    ++bad_closes_;
    return scripted ? false : Failed(record, win_error::kInvalidHandle);
  }
  --module_references_;
  return !scripted;
}

ProcAddress SimMachine::GetProcAddress(Module module, const char* export_name) {
  CallRecord& record =
      Record(Call::GetProcAddress, export_name ? WideOf(export_name) : L"", ApiForm::Ansi);
  record.handle = module;
  record.null_text = export_name == nullptr;
  if (ScriptedFailure(record)) return 0;
  if (module != kKernel32 || module_references_ == 0) {
    Failed(record, kErrorModNotFound);
    return 0;
  }
  // Export names are case-sensitive.
  if (export_missing_ || !export_name ||
      std::strcmp(export_name, "GetVolumeNameForVolumeMountPointA") != 0) {
    Failed(record, win_error::kProcNotFound);
    return 0;
  }
  return kGetVolumeNameForVolumeMountPointA;
}

bool SimMachine::CallGetVolumeNameForVolumeMountPoint(ProcAddress function,
                                                      const std::string& mount_path, char* buffer,
                                                      uint32_t buffer_length) {
  CallRecord& record =
      Record(Call::CallGetVolumeNameForVolumeMountPoint, WideOf(mount_path), ApiForm::Ansi);
  record.buffer_size = buffer_length;
  if (ScriptedFailure(record)) return false;
  if (function != kGetVolumeNameForVolumeMountPointA || module_references_ == 0) {
    return Failed(record, win_error::kInvalidFunction);
  }
  const std::wstring& mount = record.argument;
  if (!EndsWithBackslash(mount)) return Failed(record, win_error::kInvalidName);
  const Volume* volume = FindVolume(mount);
  if (!volume) volume = VolumeMountedAt(mount);
  if (!volume && IsDriveRoot(mount)) {
    // A letter made with DefineDosDevice still leads to its volume.
    SimDevice* device = nullptr;
    if (ResolveDosName(DosNameOfRoot(mount), &device) == Resolved::Device) {
      for (const auto& v : volumes_) {
        if (v.device == device) volume = &v;
      }
    }
  }
  if (!volume) {
    return Failed(record,
                  folders_.count(Upper(mount)) ? kErrorNotAReparsePoint : win_error::kFileNotFound);
  }
  const std::string name = AnsiOf(volume->guid_path);
  if (!buffer || buffer_length < name.size() + 1) {
    return Failed(record, kErrorFilenameExcedRange);
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return true;
}

uint32_t SimMachine::QueryDosDevice(const std::wstring* device_name, wchar_t* buffer,
                                    uint32_t buffer_length, ApiForm form) {
  CallRecord& record =
      Record(Call::QueryDosDevice, device_name ? Narrow(*device_name, form) : L"", form);
  record.null_text = device_name == nullptr;
  record.buffer_size = buffer_length;
  if (ScriptedFailure(record)) return 0;
  std::vector<std::wstring> items;
  if (!device_name) {
    items.reserve(dos_names_.size());
    for (const auto& entry : dos_names_) items.push_back(Narrow(entry.name, form));
  } else {
    const DosName* entry = FindDosName(record.argument);
    if (!entry) {
      Failed(record, win_error::kFileNotFound);
      return 0;
    }
    for (auto it = entry->targets.rbegin(); it != entry->targets.rend(); ++it) {
      items.push_back(Narrow(*it, form));
    }
  }
  const uint32_t needed = MultiStringLength(items);
  if (!buffer || buffer_length < needed) {
    Failed(record, win_error::kInsufficientBuffer);
    return 0;
  }
  WriteMultiString(items, buffer);
  return needed;
}

bool SimMachine::DefineDosDevice(uint32_t flags, const std::wstring& device_name,
                                 const std::wstring* target_path, ApiForm form) {
  CallRecord& record = Record(Call::DefineDosDevice, Narrow(device_name, form), form);
  record.flags = flags;
  record.argument2 = target_path ? Narrow(*target_path, form) : L"";
  record.null_text = target_path == nullptr;
  if (ScriptedFailure(record)) return false;
  const std::wstring& name = record.argument;
  const std::wstring& target = record.argument2;
  // The name is one object name under \??\: none at all is no name, and a backslash
  // asks for a directory that does not exist there.
  if (name.empty()) return Failed(record, win_error::kInvalidName);
  if (name.find(L'\\') != std::wstring::npos) return Failed(record, win_error::kPathNotFound);
  const bool raw = (flags & ddd::kRawTargetPath) != 0;
  if (!(flags & ddd::kRemoveDefinition)) {
    if (target.empty()) return Failed(record, win_error::kInvalidParameter);
    PushDosName(name, raw ? target : L"\\??\\" + target);
    return true;
  }
  DosName* entry = FindDosName(name);
  if (!entry) return Failed(record, win_error::kFileNotFound);
  if (target.empty()) {
    RemoveDosDefinition(*entry, 0);
    return true;
  }
  const std::wstring match = raw ? target : L"\\??\\" + target;
  const bool exact = (flags & ddd::kExactMatchOnRemove) != 0;
  for (size_t i = 0; i < entry->targets.size(); ++i) {
    const std::wstring& defined = entry->targets[entry->targets.size() - 1 - i];
    if (exact ? EqualsNoCase(defined, match) : StartsWithNoCase(defined, match)) {
      RemoveDosDefinition(*entry, i);
      return true;
    }
  }
  return Failed(record, win_error::kFileNotFound);
}

uint32_t SimMachine::GetDriveType(const std::wstring& root_path, ApiForm form) {
  CallRecord& record = Record(Call::GetDriveType, Narrow(root_path, form), form);
  if (ScriptedFailure(record)) return drive_type::kUnknown;
  std::wstring root = record.argument;
  // A letter without its backslash is its drive.
  if (root.size() == 2 && IsLetter(root[0]) && root[1] == L':') root += L'\\';
  SimDevice* device = nullptr;
  if (IsDriveRoot(root)) {
    auto it = drive_type_overrides_.find(UpperChar(root[0]));
    if (it != drive_type_overrides_.end()) return it->second;
    return ResolveDosName(DosNameOfRoot(root), &device) == Resolved::Device ||
                   ResolveFolderDrive(DosNameOfRoot(root), &device)
               ? device->drive_type
               : drive_type::kNoRootDir;
  }
  if (const Volume* volume = FindVolume(root)) return volume->device->drive_type;
  if (const Volume* volume = VolumeMountedAt(root)) return volume->device->drive_type;
  return drive_type::kNoRootDir;
}

bool SimMachine::GetDiskFreeSpace(const std::wstring& root_path, uint32_t* sectors_per_cluster,
                                  uint32_t* bytes_per_sector, uint32_t* free_clusters,
                                  uint32_t* total_clusters, ApiForm form) {
  CallRecord& record = Record(Call::GetDiskFreeSpace, Narrow(root_path, form), form);
  if (ScriptedFailure(record)) return false;
  SimDevice* device = nullptr;
  if (uint32_t error = RootDevice(record.argument, &device)) return Failed(record, error);
  const SimFileSystem& fs = *device->file_system;
  Put(sectors_per_cluster, fs.sectors_per_cluster);
  Put(bytes_per_sector, fs.bytes_per_sector);
  Put(free_clusters, fs.free_clusters);
  Put(total_clusters, fs.total_clusters);
  return true;
}

bool SimMachine::GetVolumeInformation(const std::wstring& root_path, uint32_t* serial_number,
                                      uint32_t* max_component_length, uint32_t* file_system_flags) {
  CallRecord& record =
      Record(Call::GetVolumeInformation, Narrow(root_path, ApiForm::Ansi), ApiForm::Ansi);
  if (ScriptedFailure(record)) return false;
  // A folder that no volume is mounted at is no root.
  if (folders_.count(Upper(record.argument)) && !VolumeMountedAt(record.argument)) {
    return Failed(record, kErrorDirNotRoot);
  }
  SimDevice* device = nullptr;
  if (uint32_t error = RootDevice(record.argument, &device)) return Failed(record, error);
  const SimFileSystem& fs = *device->file_system;
  Put(serial_number, fs.serial);
  Put(max_component_length, fs.max_component_length);
  Put(file_system_flags, fs.file_system_flags);
  return true;
}

Handle SimMachine::CreateFile(const std::wstring& path, uint32_t access, uint32_t share_mode,
                              uint32_t creation_disposition, uint32_t flags_and_attributes,
                              ApiForm form) {
  CallRecord& record = Record(Call::CreateFile, Narrow(path, form), form);
  record.flags = access;
  record.share_mode = share_mode;
  record.disposition = creation_disposition;
  record.attributes = flags_and_attributes;
  if (ScriptedFailure(record)) return kInvalidHandle;
  std::wstring device_path = record.argument;
  const bool root_directory = EndsWithBackslash(device_path);
  if (root_directory) device_path.pop_back();
  SimDevice* device = nullptr;
  for (const wchar_t* prefix : {L"\\\\?\\GLOBALROOT", L"\\\\.\\GLOBALROOT"}) {
    if (!device && StartsWithNoCase(device_path, prefix)) {
      device = FindDevice(device_path.substr(std::wcslen(prefix)));
    }
  }
  // C:\ and C: (the current folder on C:) are folders of a drive, not its device.
  if (!device && device_path.size() == 2 && IsLetter(device_path[0]) && device_path[1] == L':') {
    Failed(record, FindDosName(device_path) ? win_error::kAccessDenied : win_error::kPathNotFound);
    return kInvalidHandle;
  }
  const std::wstring name = NamespaceName(device_path);
  if (!device && (name.empty() || ResolveDosName(name, &device) != Resolved::Device)) {
    Failed(record, win_error::kFileNotFound);
    return kInvalidHandle;
  }
  uint32_t error = device->open_error;
  if (!error && (access & file_access::kGenericWrite)) error = device->write_open_error;
  // Opening a root directory needs FILE_FLAG_BACKUP_SEMANTICS, which the program never asks.
  if (!error && root_directory) error = win_error::kAccessDenied;
  if (error) {
    Failed(record, error);
    return kInvalidHandle;
  }
  record.handle = NewHandle(OpenHandle{HandleKind::File, record.argument, device, {}, 0});
  return record.handle;
}

bool SimMachine::DeviceIoControl(Handle handle, uint32_t control_code,
                                 [[maybe_unused]] const void* in_buffer, uint32_t in_size,
                                 void* out_buffer, uint32_t out_size, uint32_t* bytes_returned) {
  CallRecord& record = Record(Call::DeviceIoControl);
  record.flags = control_code;
  record.handle = handle;
  record.buffer_size = out_size;
  record.input_size = in_size;
  auto it = handles_.find(handle);
  const bool known = it != handles_.end() && it->second.kind == HandleKind::File;
  if (known) record.argument = it->second.path;
  Put(bytes_returned, 0u);
  if (ScriptedFailure(record)) return false;
  if (!known) return Failed(record, win_error::kInvalidHandle);
  const SimDevice& device = *it->second.device;
  auto* out = static_cast<uint8_t*>(out_buffer);
  if (!out) out_size = 0;
  auto reply = [&](const void* data, uint32_t size) {
    std::memcpy(out, data, size);
    Put(bytes_returned, size);
    return true;
  };

  switch (control_code) {
    case ioctl::kStorageGetDeviceNumber:
      if (!device.device_number) return Failed(record, device.device_number_error);
      if (out_size < sizeof(StorageDeviceNumber)) {
        return Failed(record, win_error::kInsufficientBuffer);
      }
      return reply(&*device.device_number, sizeof(StorageDeviceNumber));

    case ioctl::kVolumeGetVolumeDiskExtents: {
      if (device.raw_extents_reply) {
        const auto& bytes = *device.raw_extents_reply;
        const auto size = static_cast<uint32_t>(std::min<size_t>(bytes.size(), out_size));
        return reply(bytes.data(), size);
      }
      if (device.extents_error) return Failed(record, device.extents_error);
      if (out_size < kVolumeDiskExtentsSize) return Failed(record, win_error::kInsufficientBuffer);
      const VolumeDiskExtentsHeader header{static_cast<uint32_t>(device.extents.size()), 0};
      const size_t needed = kFirstExtentOffset + device.extents.size() * sizeof(DiskExtent);
      if (out_size < needed) {
        reply(&header, sizeof header);
        return Failed(record, win_error::kMoreData);
      }
      uint8_t* cursor = out + kFirstExtentOffset;
      for (const DiskExtent& extent : device.extents) {
        // Field by field, so that the padding is zero as Windows leaves it.
        DiskExtent clean;
        std::memset(&clean, 0, sizeof clean);
        clean.DiskNumber = extent.DiskNumber;
        clean.StartingOffset = extent.StartingOffset;
        clean.ExtentLength = extent.ExtentLength;
        std::memcpy(cursor, &clean, sizeof clean);
        cursor += sizeof clean;
      }
      std::memcpy(out, &header, sizeof header);
      Put(bytes_returned, static_cast<uint32_t>(needed));
      return true;
    }

    case ioctl::kDiskGetPartitionInfoEx:
      if (!device.partition) return Failed(record, win_error::kNotSupported);
      if (out_size < sizeof(PartitionInformationEx)) {
        return Failed(record, win_error::kInsufficientBuffer);
      }
      return reply(&*device.partition, sizeof(PartitionInformationEx));

    default:
      return Failed(record, win_error::kInvalidFunction);
  }
}

bool SimMachine::CloseHandle(Handle handle) {
  CallRecord& record = Record(Call::CloseHandle);
  record.handle = handle;
  return Release(handle, HandleKind::File, record);
}

uint32_t SimMachine::GetLastError() {
  Record(Call::GetLastError);
  return last_error_;
}

void SimMachine::SetLastError(uint32_t code) {
  Record(Call::SetLastError).flags = code;
  last_error_ = code;
}

std::wstring SimMachine::FormatMessage(uint32_t code) {
  CallRecord& record = Record(Call::FormatMessage);
  record.flags = code;
  if (ScriptedFailure(record)) return {};
  for (const auto& message : kMessages) {
    if (message.code == code) return message.text;
  }
  Failed(record, kErrorMrMidNotFound);
  return {};
}

std::string SimMachine::ToAnsi(const std::wstring& text) {
  Record(Call::ToAnsi, text);
  return AnsiOf(text);
}

std::wstring SimMachine::FromAnsi(const std::string& text) {
  std::wstring wide = WideOf(text);
  Record(Call::FromAnsi, wide, ApiForm::Ansi);
  return wide;
}

void SimMachine::Sleep(uint32_t milliseconds) {
  Record(Call::Sleep).flags = milliseconds;
  slept_milliseconds_ += milliseconds;
}

void SimMachine::MessageBox(const std::wstring& text, const std::wstring& caption, uint32_t type,
                            ApiForm form) {
  CallRecord& record = Record(Call::MessageBox, Narrow(text, form), form);
  record.flags = type;
  record.argument2 = Narrow(caption, form);
  messages_.push_back(ShownMessage{record.argument, record.argument2, false, type, form});
}

void SimMachine::ShowMessage(const std::wstring& text) {
  Record(Call::ShowMessage, text);
  messages_.push_back(ShownMessage{text, L"", true, mb::kOk, ApiForm::Wide});
}

bool SimMachine::SetClipboardText(const std::wstring& text, ApiForm form) {
  CallRecord& record = Record(Call::SetClipboardText, Narrow(text, form), form);
  if (ScriptedFailure(record)) return false;
  if (clipboard_busy_) return Failed(record, win_error::kAccessDenied);
  clipboard_ = ClipboardContent{record.argument, form};
  return true;
}

std::wstring SimMachine::LocalDateTimeText() {
  Record(Call::LocalDateTimeText);
  return date_time_text_;
}

std::wstring SimMachine::ExecutablePath() {
  Record(Call::ExecutablePath);
  return executable_path_;
}

}  // namespace vol
