// What the tests of the window logic on the real platform share: a platform that
// passes every call to Win32Platform but keeps message boxes off the screen and counts
// what stays open, a scratch drive letter that never outlives its test, and the
// volumes the system lists, asked for directly.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"
#include "platform/win32_platform.h"
// Only after win32_platform.h, which takes the plain names back from windows.h's macros
// before the platform interface declares them. Tests include these through here.
#include "devices/udiskmgmt.h"
#include "tests/support/forwarding_platform.h"
#include "tests/unit/fake_view.h"
#include "tests/win32/win32_test_support.h"
#include "ui/Ufrmvolume.h"
#include "ui/edition.h"

namespace vol::test {

// The program under test: the volumes.exe that VOLUMES_PROGRAM names (another build's,
// such as the 32-bit one read from a 64-bit test; a relative path starts at the current
// folder), or else the same build's, beside the test executable.
inline std::wstring ProgramPath() {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD named = ::GetEnvironmentVariableW(L"VOLUMES_PROGRAM", path, MAX_PATH * 2);
  if (named > 0 && named < MAX_PATH * 2) {
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD length = ::GetFullPathNameW(path, MAX_PATH * 2, full, nullptr);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(full, length) : std::wstring(path);
  }
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring folder(path, length);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + L"volumes.exe";
}

// The real platform, except that a message box is written down instead of shown (a
// shown one would wait for a user). It counts the handles, searches and modules that
// were opened and not yet closed.
struct RealPlatform {
  Win32Platform real;
};
class RecordingPlatform final : private RealPlatform, public ForwardingPlatform {
 public:
  struct Box {
    std::wstring text, caption;
  };
  std::vector<std::wstring> shown_messages;  // ShowMessage
  std::vector<Box> message_boxes;            // MessageBox
  std::vector<uint32_t> sleeps;
  std::vector<std::wstring> mount_attempts;

  RecordingPlatform() : ForwardingPlatform(real) {}

  int open_handles() const { return open_handles_; }
  int open_searches() const { return open_searches_; }
  int loaded_modules() const { return loaded_modules_; }

  Handle FindFirstVolume(std::wstring& volume_name) override {
    const Handle find = ForwardingPlatform::FindFirstVolume(volume_name);
    if (find != kInvalidHandle) ++open_searches_;
    return find;
  }
  bool FindVolumeClose(Handle find) override {
    const bool closed = ForwardingPlatform::FindVolumeClose(find);
    if (closed) --open_searches_;
    return closed;
  }
  bool SetVolumeMountPoint(const std::wstring& mount_path,
                           const std::wstring& volume_name) override {
    mount_attempts.push_back(mount_path);
    return ForwardingPlatform::SetVolumeMountPoint(mount_path, volume_name);
  }
  Module LoadLibrary(const std::wstring& file_name, ApiForm form) override {
    const Module module = ForwardingPlatform::LoadLibrary(file_name, form);
    if (module != 0) ++loaded_modules_;
    return module;
  }
  bool FreeLibrary(Module module) override {
    const bool freed = ForwardingPlatform::FreeLibrary(module);
    if (freed) --loaded_modules_;
    return freed;
  }
  Handle CreateFile(const std::wstring& path, uint32_t access, uint32_t share_mode,
                    uint32_t creation_disposition, uint32_t flags_and_attributes,
                    ApiForm form) override {
    const Handle handle = ForwardingPlatform::CreateFile(
        path, access, share_mode, creation_disposition, flags_and_attributes, form);
    if (handle != kInvalidHandle) ++open_handles_;
    return handle;
  }
  bool CloseHandle(Handle handle) override {
    const bool closed = ForwardingPlatform::CloseHandle(handle);
    if (closed) --open_handles_;
    return closed;
  }
  void Sleep(uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    ForwardingPlatform::Sleep(milliseconds);
  }
  void MessageBox(const std::wstring& text, const std::wstring& caption, uint32_t,
                  ApiForm) override {
    message_boxes.push_back({text, caption});
  }
  void ShowMessage(const std::wstring& text) override { shown_messages.push_back(text); }

 private:
  int open_handles_ = 0;
  int open_searches_ = 0;
  int loaded_modules_ = 0;
};

// Nothing a command or refresh opened is left open, and nothing was shown.
inline void ExpectNothingLeftOpen(const RecordingPlatform& platform) {
  EXPECT_EQ(platform.open_handles(), 0);
  EXPECT_EQ(platform.open_searches(), 0);
  EXPECT_EQ(platform.loaded_modules(), 0);
}

inline bool IsDecimalText(std::wstring_view text) {
  return !text.empty() && text.size() <= 20 &&
         std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }) &&
         (text.size() == 1 || text[0] != L'0');
}

// The serial number as the program writes it, made here by the C library.
inline std::wstring SerialText(uint32_t serial) {
  wchar_t text[16];
  swprintf(text, 16, L"%04X", static_cast<unsigned>(serial));
  return text;
}

// List rows without their "Volume Size" cells, which follow the host's file system
// and may change between two refreshes.
inline std::vector<ListRow> WithoutSizes(std::vector<ListRow> rows) {
  if constexpr (edition::kVolumeSizeAndSerial) {
    for (ListRow& row : rows) {
      if (kSubVolumeSize >= 0 && row.sub_items.size() > std::size_t(kSubVolumeSize)) {
        row.sub_items[std::size_t(kSubVolumeSize)].clear();
      }
    }
  }
  return rows;
}

// A volume as the system lists it, asked for directly.
struct ListedVolume {
  std::wstring name;       // \\?\Volume{...}\ as enumerated
  std::wstring nt_device;  // \Device\... or empty
  std::vector<std::wstring> paths;
};

inline std::vector<ListedVolume> VolumesOfTheSystem(Platform& platform) {
  std::vector<ListedVolume> listed;
  for (const std::wstring& volume : ListVolumes(platform)) {
    ListedVolume entry{volume, FirstTarget(platform, DosDeviceName(volume), ApiForm::Wide),
                       MountPaths(platform, volume)};
    std::wstring lower = entry.nt_device;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    // Optical and floppy volumes are never the program's rows.
    if (lower.find(L"cdrom") != std::wstring::npos || lower.find(L"floppy") != std::wstring::npos) {
      continue;
    }
    listed.push_back(std::move(entry));
  }
  return listed;
}

using contract::ScratchLetter;

}  // namespace vol::test
