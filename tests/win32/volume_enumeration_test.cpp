// Volume enumeration, mount paths and the run-time lookup of
// GetVolumeNameForVolumeMountPointA, against the system's kernel32.
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/win32_platform.h"
#include "tests/win32/win32_test_support.h"

namespace vol::test {
namespace {

TEST(VolumeEnumeration, GivesUniqueVolumeGuidPathsAndEndsWithNoMoreFiles) {
  Win32Platform platform;
  std::wstring name;
  ::SetLastError(kUntouchedError);
  const Handle find = platform.FindFirstVolume(name);
  ASSERT_NE(find, kInvalidHandle) << "error " << ::GetLastError();

  std::set<std::wstring> seen;
  for (;;) {
    SCOPED_TRACE(::testing::Message() << "volume " << seen.size());
    EXPECT_TRUE(IsVolumeGuidPath(name)) << platform.ToAnsi(name);
    EXPECT_TRUE(seen.insert(name).second) << "listed twice: " << platform.ToAnsi(name);
    ASSERT_LT(seen.size(), 1000u) << "the enumeration does not end";
    platform.SetLastError(kUntouchedError);
    const std::wstring before = name;
    if (!platform.FindNextVolume(find, name)) {
      EXPECT_EQ(platform.GetLastError(), ERROR_NO_MORE_FILES);
      EXPECT_EQ(name, before) << "a failed step must leave the name alone";
      break;
    }
  }
  EXPECT_TRUE(platform.FindVolumeClose(find));
}

TEST(VolumeEnumeration, ClosingAnInvalidSearchFails) {
  Win32Platform platform;
  platform.SetLastError(kUntouchedError);
  EXPECT_FALSE(platform.FindVolumeClose(kInvalidHandle));
  EXPECT_NE(platform.GetLastError(), kUntouchedError);  // Wine: 87, Windows: 6
}

TEST(VolumePathNames, AreDriveRootsAndOneVolumeHoldsC) {
  Win32Platform platform;
  const std::vector<std::wstring> volumes = ListVolumes(platform);
  ASSERT_FALSE(volumes.empty());
  int c_holders = 0;
  for (const std::wstring& volume : volumes) {
    SCOPED_TRACE(platform.ToAnsi(volume));
    std::vector<wchar_t> buffer(1024, kGuard);
    uint32_t length = 0xdeadbeef;
    ASSERT_TRUE(platform.GetVolumePathNamesForVolumeName(
        volume, buffer.data(), static_cast<uint32_t>(buffer.size()), &length))
        << "error " << platform.GetLastError();
    ASSERT_GE(length, 1u);
    ASSERT_LE(length, buffer.size());
    EXPECT_EQ(buffer[length - 1], L'\0') << "the multi-string ends inside the reported length";
    for (const std::wstring& path : SplitMultiString(buffer.data(), length)) {
      // Drive roots on Wine; mounted folders end in a backslash too on Windows.
      ASSERT_GE(path.size(), 3u);
      EXPECT_EQ(path.substr(1, 2), L":\\") << platform.ToAnsi(path);
      EXPECT_EQ(path.back(), L'\\');
      if (path == L"C:\\") ++c_holders;
    }
  }
  EXPECT_EQ(c_holders, 1);
}

TEST(VolumePathNames, TooSmallBufferGivesMoreDataAndTheLengthNeeded) {
  Win32Platform platform;
  const std::wstring volume = SystemVolume(platform);
  ASSERT_FALSE(volume.empty());

  for (uint32_t small : {0u, 1u, 3u}) {
    SCOPED_TRACE(::testing::Message() << "buffer length " << small);
    std::vector<wchar_t> buffer(small + 8, kGuard);
    uint32_t needed = 0;
    platform.SetLastError(kUntouchedError);
    EXPECT_FALSE(platform.GetVolumePathNamesForVolumeName(volume, small ? buffer.data() : nullptr,
                                                          small, &needed));
    EXPECT_EQ(platform.GetLastError(), static_cast<uint32_t>(ERROR_MORE_DATA));
    EXPECT_GE(needed, 5u) << "C:\\ and two terminators";
    for (std::size_t i = small; i < buffer.size(); ++i) {
      ASSERT_EQ(buffer[i], kGuard) << "written past the buffer at " << i;
    }

    // The length it asked for is enough.
    std::vector<wchar_t> grown(needed + 8, kGuard);
    uint32_t length = 0;
    ASSERT_TRUE(platform.GetVolumePathNamesForVolumeName(volume, grown.data(), needed, &length))
        << "error " << platform.GetLastError();
    EXPECT_LE(length, needed);
    const std::vector<std::wstring> paths = SplitMultiString(grown.data(), length);
    EXPECT_NE(std::find(paths.begin(), paths.end(), L"C:\\"), paths.end());
    for (std::size_t i = needed; i < grown.size(); ++i) {
      ASSERT_EQ(grown[i], kGuard) << "written past the buffer at " << i;
    }
  }
}

TEST(VolumePathNames, UnknownVolumeFails) {
  Win32Platform platform;
  std::vector<wchar_t> buffer(1024);
  uint32_t length = 0;
  platform.SetLastError(kUntouchedError);
  EXPECT_FALSE(platform.GetVolumePathNamesForVolumeName(
      L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\", buffer.data(),
      static_cast<uint32_t>(buffer.size()), &length));
  const uint32_t error = platform.GetLastError();
  EXPECT_NE(error, kUntouchedError);
  EXPECT_NE(error, 0u);
}

class MountPointLookup : public ::testing::TestWithParam<ApiForm> {};

TEST_P(MountPointLookup, FindsTheSystemVolumeThroughKernel32) {
  Win32Platform platform;
  const std::wstring system_volume = SystemVolume(platform);
  ASSERT_FALSE(system_volume.empty());

  const Module kernel32 = platform.LoadLibrary(L"kernel32.dll", GetParam());
  ASSERT_NE(kernel32, 0u) << "error " << platform.GetLastError();
  const ProcAddress function =
      platform.GetProcAddress(kernel32, "GetVolumeNameForVolumeMountPointA");
  ASSERT_NE(function, 0u);

  char buffer[261];
  std::fill(std::begin(buffer), std::end(buffer), '\x7f');
  EXPECT_TRUE(
      platform.CallGetVolumeNameForVolumeMountPoint(function, "C:\\", buffer, sizeof buffer));
  EXPECT_EQ(platform.FromAnsi(buffer), system_volume);

  // A path that names no mount point: the call fails; what it left in the buffer is
  // no volume name.
  std::fill(std::begin(buffer), std::end(buffer), '\0');
  platform.SetLastError(kUntouchedError);
  EXPECT_FALSE(platform.CallGetVolumeNameForVolumeMountPoint(
      function, "C:\\volumes-no-such-folder\\", buffer, sizeof buffer));
  EXPECT_NE(platform.GetLastError(), kUntouchedError);
  EXPECT_FALSE(IsVolumeGuidPath(platform.FromAnsi(buffer)));

  EXPECT_TRUE(platform.FreeLibrary(kernel32));
}

TEST_P(MountPointLookup, MissingLibraryAndExportFailWithTheirErrors) {
  Win32Platform platform;
  platform.SetLastError(kUntouchedError);
  EXPECT_EQ(platform.LoadLibrary(L"volumes-no-such-library.dll", GetParam()), 0u);
  EXPECT_EQ(platform.GetLastError(), static_cast<uint32_t>(ERROR_MOD_NOT_FOUND));

  const Module kernel32 = platform.LoadLibrary(L"kernel32.dll", GetParam());
  ASSERT_NE(kernel32, 0u);
  platform.SetLastError(kUntouchedError);
  const ProcAddress missing = platform.GetProcAddress(kernel32, "VolumesNoSuchExport");
  EXPECT_EQ(missing, 0u);
  EXPECT_EQ(platform.GetLastError(), static_cast<uint32_t>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(platform.FreeLibrary(kernel32));

  // Calling what a failed lookup gave is refused, not a jump to address 0.
  char buffer[261] = "untouched";
  platform.SetLastError(kUntouchedError);
  EXPECT_FALSE(
      platform.CallGetVolumeNameForVolumeMountPoint(missing, "C:\\", buffer, sizeof buffer));
  EXPECT_EQ(platform.GetLastError(), static_cast<uint32_t>(ERROR_PROC_NOT_FOUND));
  EXPECT_STREQ(buffer, "untouched");
}

INSTANTIATE_TEST_SUITE_P(Forms, MountPointLookup, ::testing::Values(ApiForm::Ansi, ApiForm::Wide),
                         FormName);

TEST(MountPoints, RefusedMountKeepsTheSystemsError) {
  Win32Platform platform;
  const std::wstring system_volume = SystemVolume(platform);
  ASSERT_FALSE(system_volume.empty());
  // C:\ is taken, so the mount is refused on Windows as on Wine.
  platform.SetLastError(kUntouchedError);
  EXPECT_FALSE(platform.SetVolumeMountPoint(L"C:\\", system_volume));
  const uint32_t error = platform.GetLastError();
  EXPECT_NE(error, kUntouchedError);
  EXPECT_NE(error, 0u);
}

}  // namespace
}  // namespace vol::test
