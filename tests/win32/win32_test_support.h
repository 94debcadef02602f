// Helpers of the Win32 integration tests: they run against Wine's or Windows'
// kernel32, so they check shapes and error codes, never device truth.
#pragma once

#include <windows.h>

#include <cwctype>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"
#include "platform/win32_platform.h"

namespace vol::test {

inline constexpr DWORD kUntouchedError = 0xdeadbeef;

// \\?\Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\ with hexadecimal digits.
inline bool IsVolumeGuidPath(std::wstring_view name) {
  constexpr std::wstring_view kPrefix = L"\\\\?\\Volume{";
  constexpr std::wstring_view kShape = L"xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
  if (name.size() != kPrefix.size() + kShape.size() + 2) return false;
  if (name.substr(0, kPrefix.size()) != kPrefix) return false;
  if (name.substr(name.size() - 2) != L"}\\") return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const wchar_t c = name[kPrefix.size() + i];
    if (kShape[i] == L'-' ? c != L'-' : !std::iswxdigit(c)) return false;
  }
  return true;
}

// The strings of a multi-string of count characters (terminators included).
inline std::vector<std::wstring> SplitMultiString(const wchar_t* text, std::size_t count) {
  std::vector<std::wstring> strings;
  std::size_t at = 0;
  while (at < count && text[at] != L'\0') {
    std::wstring one(text + at);
    at += one.size() + 1;
    strings.push_back(std::move(one));
  }
  return strings;
}

// Every volume the system enumerates; fails the test when enumeration fails.
inline std::vector<std::wstring> ListVolumes(Platform& platform) {
  std::vector<std::wstring> volumes;
  std::wstring name;
  const Handle find = platform.FindFirstVolume(name);
  EXPECT_NE(find, kInvalidHandle);
  if (find == kInvalidHandle) return volumes;
  do {
    volumes.push_back(name);
  } while (platform.FindNextVolume(find, name));
  EXPECT_TRUE(platform.FindVolumeClose(find));
  return volumes;
}

// The mount paths of a volume (a generous buffer; the protocol has tests of its own).
inline std::vector<std::wstring> MountPaths(Platform& platform, const std::wstring& volume) {
  std::vector<wchar_t> buffer(4096);
  uint32_t length = 0;
  if (!platform.GetVolumePathNamesForVolumeName(volume, buffer.data(),
                                                static_cast<uint32_t>(buffer.size()), &length)) {
    return {};
  }
  return SplitMultiString(buffer.data(), length);
}

// The volume mounted at C:\ (every Windows and every Wine prefix has one).
inline std::wstring SystemVolume(Platform& platform) {
  for (const std::wstring& volume : ListVolumes(platform)) {
    for (const std::wstring& path : MountPaths(platform, volume)) {
      if (path == L"C:\\") return volume;
    }
  }
  return {};
}

// Volume{GUID}: the name a volume GUID path has in the DOS-device namespace.
inline std::wstring DosDeviceName(const std::wstring& volume) {
  return volume.substr(4, volume.size() - 5);
}

// The first target of a DOS-device name, or empty.
inline std::wstring FirstTarget(Platform& platform, const std::wstring& name, ApiForm form) {
  std::vector<wchar_t> buffer(1024);
  const uint32_t count =
      platform.QueryDosDevice(&name, buffer.data(), static_cast<uint32_t>(buffer.size()), form);
  if (count == 0) return {};
  return buffer.data();
}

// The drive letters (A to Z) that the DOS-device namespace names.
inline std::vector<wchar_t> DefinedLetters(Platform& platform) {
  std::vector<wchar_t> letters;
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const std::wstring name{letter, L':'};
    std::vector<wchar_t> buffer(1024);
    if (platform.QueryDosDevice(&name, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                ApiForm::Wide) != 0) {
      letters.push_back(letter);
    }
  }
  return letters;
}

}  // namespace vol::test
