// Helpers of the Win32 integration tests: they run against Wine's or Windows'
// kernel32, so they check shapes and error codes, never device truth.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/win32_platform.h"
#include "tests/contract/platform_contract.h"

namespace vol::test {

inline constexpr DWORD kUntouchedError = 0xdeadbeef;

// Wine's ntdll exports its version; Windows' does not.
inline bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The platform's contract asks the system the same way.
using contract::IsVolumeGuidPath;
using contract::MountPaths;
using contract::SplitMultiString;
inline std::vector<std::wstring> ListVolumes(Platform& platform) {
  return contract::Volumes(platform);
}
inline std::wstring SystemVolume(Platform& platform) {
  return contract::Arrange(platform).system_volume;
}
inline std::wstring DosDeviceName(const std::wstring& volume) {
  return contract::NamespaceName(volume);
}
// The first target of a DOS-device name, or empty.
inline std::wstring FirstTarget(Platform& platform, const std::wstring& name, ApiForm form) {
  const std::vector<std::wstring> targets = contract::Targets(platform, name, form);
  return targets.empty() ? L"" : targets.front();
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
