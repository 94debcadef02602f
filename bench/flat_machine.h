// FlatMachine: a Platform that answers the queries of a refresh from hash tables in
// constant time each, so that a benchmark against it measures the program's own cost.
// (SimMachine models Windows faithfully, and looks volumes and devices up by walking
// lists: against it the cost of one volume grows with the number of volumes.)
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/records.h"

namespace vol::bench {

class FlatMachine : public Platform {
 public:
  struct Device {
    std::wstring nt_name;
    uint32_t drive_type = drive_type::kFixed;
    StorageDeviceNumber number{7, 0, 0};
    uint32_t serial = 0;
    uint32_t total_clusters = 0;
  };

  // A volume \\?\Volume{guid}\ on device nt_name, mounted at mount_path (a drive root or
  // a folder; empty for none).
  void AddVolume(const std::wstring& guid, const Device& device, const std::wstring& mount_path) {
    const std::size_t d = AddDevice(device);
    const std::wstring guid_path = L"\\\\?\\Volume" + guid + L"\\";
    volume_index_[guid_path] = volumes_.size();
    named_ = nullptr;  // the list may move
    volumes_.push_back({guid_path, mount_path, d});
    DefineDosName(L"Volume" + guid, device.nt_name);
    opens_[guid_path.substr(0, guid_path.size() - 1)] = d;
    roots_[guid_path] = d;
    if (mount_path.size() == 3 && mount_path[1] == L':') {
      const std::wstring drive = mount_path.substr(0, 2);
      DefineDosName(drive, device.nt_name);
      opens_[L"\\\\.\\" + drive] = d;
      roots_[mount_path] = d;
    }
  }
  // A name of the DOS-device namespace; shadow copies also answer for their "\??\" root.
  void DefineDosName(const std::wstring& name, const std::wstring& target) {
    if (targets_.emplace(name, target).second) name_list_.append(name).push_back(L'\0');
  }
  void AddShadowCopy(const std::wstring& name, const Device& device) {
    const std::size_t d = AddDevice(device);
    DefineDosName(name, device.nt_name);
    std::wstring lower = name;
    for (wchar_t& c : lower) c = (c >= L'A' && c <= L'Z') ? c + 32 : c;
    roots_[L"\\??\\" + lower + L"\\"] = d;
  }
  int open_handles() const { return static_cast<int>(handles_.size()); }

  // ------------------------------------------------------------------ Platform
  Handle FindFirstVolume(std::wstring& volume_name) override {
    if (volumes_.empty()) return Failed<Handle>(win_error::kNoMoreFiles, kInvalidHandle);
    volume_name = volumes_[0].guid_path;
    next_volume_ = 1;
    named_ = &volumes_[0];
    return Open(kSearch);
  }
  bool FindNextVolume(Handle, std::wstring& volume_name) override {
    if (next_volume_ >= volumes_.size()) return Fail(win_error::kNoMoreFiles);
    named_ = &volumes_[next_volume_++];
    volume_name = named_->guid_path;
    return true;
  }
  bool FindVolumeClose(Handle find) override { return Close(find); }
  bool GetVolumePathNamesForVolumeName(const std::wstring& volume_name, wchar_t* buffer,
                                       uint32_t buffer_length, uint32_t* return_length) override {
    const Volume* volume = Named(volume_name, 0, 0);
    if (volume == nullptr) {
      const auto it = volume_index_.find(volume_name);
      if (it == volume_index_.end()) return Fail(win_error::kFileNotFound);
      volume = &volumes_[it->second];
    }
    const std::wstring& path = volume->mount_path;
    const uint32_t needed = static_cast<uint32_t>(path.empty() ? 1 : path.size() + 2);
    if (return_length) *return_length = needed;
    if (buffer_length < needed) return Fail(win_error::kMoreData);
    std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    buffer[needed - 1] = L'\0';
    return true;
  }
  bool SetVolumeMountPoint(const std::wstring&, const std::wstring&) override {
    return Fail(win_error::kAccessDenied);
  }
  bool DeleteVolumeMountPoint(const std::wstring&) override {
    return Fail(win_error::kAccessDenied);
  }
  Module LoadLibrary(const std::wstring&, ApiForm) override { return 0; }
  bool FreeLibrary(Module) override { return false; }
  ProcAddress GetProcAddress(Module, const char*) override { return 0; }
  bool CallGetVolumeNameForVolumeMountPoint(ProcAddress, const std::string&, char*,
                                            uint32_t) override {
    return false;
  }
  uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer, uint32_t buffer_length,
                          ApiForm) override {
    if (device_name == nullptr) {
      const std::size_t needed = name_list_.size() + 1;
      if (needed > buffer_length) return Failed<uint32_t>(win_error::kInsufficientBuffer, 0);
      std::memcpy(buffer, name_list_.c_str(), needed * sizeof(wchar_t));
      return static_cast<uint32_t>(needed);
    }
    const std::wstring* found = nullptr;
    if (const Volume* volume = Named(*device_name, 4, 1)) {  // Volume{guid}
      found = &devices_[volume->device].nt_name;
    } else if (const auto it = targets_.find(*device_name); it != targets_.end()) {
      found = &it->second;
    }
    if (found == nullptr) return Failed<uint32_t>(win_error::kFileNotFound, 0);
    const std::wstring& target = *found;
    if (target.size() + 2 > buffer_length) {
      return Failed<uint32_t>(win_error::kInsufficientBuffer, 0);
    }
    std::memcpy(buffer, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    buffer[target.size() + 1] = L'\0';
    return static_cast<uint32_t>(target.size() + 2);
  }
  bool DefineDosDevice(uint32_t, const std::wstring&, const std::wstring*, ApiForm) override {
    return Fail(win_error::kAccessDenied);
  }
  uint32_t GetDriveType(const std::wstring& root_path, ApiForm) override {
    const std::optional<std::size_t> device = Root(root_path);
    return device ? devices_[*device].drive_type : drive_type::kNoRootDir;
  }
  bool GetDiskFreeSpace(const std::wstring& root_path, uint32_t* sectors_per_cluster,
                        uint32_t* bytes_per_sector, uint32_t* free_clusters,
                        uint32_t* total_clusters, ApiForm) override {
    const std::optional<std::size_t> device = Root(root_path);
    if (!device) return Fail(win_error::kPathNotFound);
    // Windows lets callers leave out what they do not need.
    const uint32_t total = devices_[*device].total_clusters;
    for (auto [out, value] :
         {std::pair{sectors_per_cluster, 8u}, std::pair{bytes_per_sector, 512u},
          std::pair{total_clusters, total}, std::pair{free_clusters, total / 2}}) {
      if (out) *out = value;
    }
    return true;
  }
  bool GetVolumeInformation(const std::wstring& root_path, uint32_t* serial_number,
                            uint32_t* max_component_length, uint32_t* file_system_flags) override {
    const std::optional<std::size_t> device = Root(root_path);
    if (!device) return Fail(win_error::kPathNotFound);
    for (auto [out, value] :
         {std::pair{serial_number, devices_[*device].serial},
          std::pair{max_component_length, 255u}, std::pair{file_system_flags, 0u}}) {
      if (out) *out = value;
    }
    return true;
  }
  Handle CreateFile(const std::wstring& path, uint32_t, uint32_t, uint32_t, uint32_t,
                    ApiForm) override {
    if (const Volume* volume = Named(path, 0, 1)) return Open(kFile + volume->device);
    const auto it = opens_.find(path);
    if (it == opens_.end()) return Failed<Handle>(win_error::kFileNotFound, kInvalidHandle);
    return Open(kFile + it->second);
  }
  bool DeviceIoControl(Handle device, uint32_t control_code, const void*, uint32_t,
                       void* out_buffer, uint32_t out_size, uint32_t* bytes_returned) override {
    const auto it = handles_.find(device);
    if (it == handles_.end() || it->second < kFile) return Fail(win_error::kInvalidHandle);
    const Device& d = devices_[it->second - kFile];
    if (control_code == ioctl::kStorageGetDeviceNumber && out_size >= sizeof d.number) {
      std::memcpy(out_buffer, &d.number, sizeof d.number);
      *bytes_returned = sizeof d.number;
      return true;
    }
    return Fail(win_error::kInvalidFunction);
  }
  bool CloseHandle(Handle handle) override { return Close(handle); }
  uint32_t GetLastError() override { return last_error_; }
  void SetLastError(uint32_t code) override { last_error_ = code; }
  std::wstring FormatMessage(uint32_t) override { return L"Incorrect function.\r\n"; }
  std::string ToAnsi(const std::wstring& text) override {
    std::string ansi(text.size(), '?');
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] < 256) ansi[i] = static_cast<char>(text[i]);
    }
    return ansi;
  }
  std::wstring FromAnsi(const std::string& text) override {
    std::wstring wide(text.size(), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    return wide;
  }
  void Sleep(uint32_t) override {}
  void MessageBox(const std::wstring&, const std::wstring&, uint32_t, ApiForm) override {}
  void ShowMessage(const std::wstring&) override {}
  bool SetClipboardText(const std::wstring&, ApiForm) override { return false; }
  std::wstring LocalDateTimeText() override { return L"09.12.2026 06:00:00"; }
  std::wstring ExecutablePath() override { return L"C:\\volumes.exe"; }

 private:
  struct Volume {
    std::wstring guid_path, mount_path;
    std::size_t device;
  };
  static constexpr std::size_t kSearch = 0, kFile = 1;  // handle kinds: a search, or kFile + device

  std::size_t AddDevice(const Device& device) {
    devices_.push_back(device);
    return devices_.size() - 1;
  }
  // The volume the search named last, when name is its GUID path without the first `cut`
  // and the last `drop` characters. A refresh asks about each volume just after the search
  // names it: answered from that volume, the questions never reach the tables, whose
  // entries a machine of thousands of volumes spreads beyond the processor's caches.
  const Volume* Named(std::wstring_view name, std::size_t cut, std::size_t drop) const {
    if (named_ == nullptr) return nullptr;
    const std::wstring_view path = named_->guid_path;
    return path.substr(cut, path.size() - cut - drop) == name ? named_ : nullptr;
  }
  std::optional<std::size_t> Root(const std::wstring& root_path) const {
    if (const Volume* volume = Named(root_path, 0, 0)) return volume->device;
    const auto it = roots_.find(root_path);
    return it == roots_.end() ? std::nullopt : std::optional<std::size_t>(it->second);
  }
  bool Fail(uint32_t error) { return Failed<bool>(error, false); }
  template <typename Result>
  Result Failed(uint32_t error, Result result) {
    last_error_ = error;
    return result;
  }
  Handle Open(std::size_t what) {
    const Handle handle = next_handle_ += 4;
    handles_.emplace(handle, what);
    return handle;
  }
  bool Close(Handle handle) {
    return handles_.erase(handle) == 1 || Fail(win_error::kInvalidHandle);
  }

  std::vector<Device> devices_;
  std::vector<Volume> volumes_;
  std::unordered_map<std::wstring, std::size_t> volume_index_;
  std::size_t next_volume_ = 0;
  const Volume* named_ = nullptr;
  std::wstring name_list_;  // each name and its terminating nul, as the list is handed out
  std::unordered_map<std::wstring, std::wstring> targets_;
  std::unordered_map<std::wstring, std::size_t> opens_;  // path CreateFile gets → device
  std::unordered_map<std::wstring, std::size_t> roots_;  // root path → device
  std::unordered_map<Handle, std::size_t> handles_;
  Handle next_handle_ = 0x1000;
  uint32_t last_error_ = 0;
};

}  // namespace vol::bench
