// Opening devices, control requests, drive and file-system queries, and the
// system's message text.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/records.h"
#include "platform/win32_platform.h"
#include "tests/win32/win32_test_support.h"

namespace vol::test {
namespace {

using file_access::kOpenExisting;
using file_access::kShareDelete;
using file_access::kShareRead;
using file_access::kShareWrite;

class DeviceAccess : public ::testing::TestWithParam<ApiForm> {
 protected:
  Win32Platform platform_;
};

TEST_P(DeviceAccess, StorageDeviceNumberOfTheSystemVolumeAndOfC) {
  const std::wstring volume = SystemVolume(platform_);
  ASSERT_FALSE(volume.empty());
  const std::wstring paths[] = {volume.substr(0, volume.size() - 1), L"\\\\.\\C:"};
  for (const std::wstring& path : paths) {
    // Named in each message rather than by SCOPED_TRACE, whose per-thread state this
    // test must also run without where 32-bit code is emulated.
    const std::string where = platform_.ToAnsi(path);
    const Handle device = platform_.CreateFile(path, 0, kShareRead | kShareWrite | kShareDelete,
                                               kOpenExisting, 0, GetParam());
    ASSERT_NE(device, kInvalidHandle) << where << ": error " << platform_.GetLastError();

    StorageDeviceNumber number;
    number.DeviceType = number.DeviceNumber = number.PartitionNumber = 0xCDCDCDCD;
    uint32_t returned = 0;
    EXPECT_TRUE(platform_.DeviceIoControl(device, ioctl::kStorageGetDeviceNumber, nullptr, 0,
                                          &number, sizeof number, &returned))
        << where << ": error " << platform_.GetLastError();
    EXPECT_EQ(returned, sizeof number) << where;
    EXPECT_NE(number.DeviceType, 0xCDCDCDCDu) << where;
    EXPECT_NE(number.DeviceNumber, 0xCDCDCDCDu) << where;
    EXPECT_NE(number.PartitionNumber, 0xCDCDCDCDu) << where;
    EXPECT_TRUE(platform_.CloseHandle(device)) << where;
    // Really closed: a second close is refused.
    platform_.SetLastError(kUntouchedError);
    EXPECT_FALSE(platform_.CloseHandle(device)) << where;
    EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE)) << where;
  }
}

TEST_P(DeviceAccess, DiskExtentsRequestGivesAWellFormedHeader) {
  const std::wstring volume = SystemVolume(platform_);
  ASSERT_FALSE(volume.empty());
  const Handle device =
      platform_.CreateFile(volume.substr(0, volume.size() - 1), 0,
                           kShareRead | kShareWrite | kShareDelete, kOpenExisting, 0, GetParam());
  ASSERT_NE(device, kInvalidHandle) << "error " << platform_.GetLastError();
  std::vector<unsigned char> buffer(260, 0);
  uint32_t returned = 0;
  if (platform_.DeviceIoControl(device, ioctl::kVolumeGetVolumeDiskExtents, nullptr, 0,
                                buffer.data(), static_cast<uint32_t>(buffer.size()), &returned)) {
    VolumeDiskExtentsHeader header;
    std::memcpy(&header, buffer.data(), sizeof header);
    EXPECT_GE(returned, sizeof header);
    EXPECT_LE(kFirstExtentOffset + header.NumberOfDiskExtents * sizeof(DiskExtent), buffer.size());
  } else {
    EXPECT_NE(platform_.GetLastError(), 0u);
  }
  EXPECT_TRUE(platform_.CloseHandle(device));
}

TEST_P(DeviceAccess, MissingDeviceGivesFileNotFound) {
  platform_.SetLastError(kUntouchedError);
  EXPECT_EQ(platform_.CreateFile(L"\\\\.\\VolumesNoSuchDevice", 0, kShareRead | kShareWrite,
                                 kOpenExisting, file_access::kAttributeNormal, GetParam()),
            kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_P(DeviceAccess, DriveTypeAndFreeSpaceOfC) {
  EXPECT_EQ(platform_.GetDriveType(L"C:\\", GetParam()), drive_type::kFixed);

  uint32_t sectors = 0, bytes = 0, free = 0, total = 0;
  ASSERT_TRUE(platform_.GetDiskFreeSpace(L"C:\\", &sectors, &bytes, &free, &total, GetParam()))
      << "error " << platform_.GetLastError();
  EXPECT_GT(sectors, 0u);
  EXPECT_GT(bytes, 0u);
  EXPECT_EQ(bytes & (bytes - 1), 0u) << "sector size " << bytes << " is no power of two";
  EXPECT_GT(total, 0u);
  EXPECT_LE(free, total);
  // Callers may leave out what they do not need.
  uint32_t only_total = 0;
  EXPECT_TRUE(
      platform_.GetDiskFreeSpace(L"C:\\", nullptr, nullptr, nullptr, &only_total, GetParam()));
  EXPECT_GT(only_total, 0u);
}

TEST_P(DeviceAccess, UnusedLetterHasNoRootAndNoFreeSpace) {
  const std::vector<wchar_t> used = DefinedLetters(platform_);
  wchar_t letter = 0;
  for (wchar_t l = L'Y'; l >= L'D' && !letter; --l) {
    if (std::find(used.begin(), used.end(), l) == used.end()) letter = l;
  }
  ASSERT_NE(letter, 0);
  const std::wstring root{letter, L':', L'\\'};
  EXPECT_EQ(platform_.GetDriveType(root, GetParam()), drive_type::kNoRootDir);

  uint32_t sectors = 7, bytes = 7, free = 7, total = 7;
  platform_.SetLastError(kUntouchedError);
  EXPECT_FALSE(platform_.GetDiskFreeSpace(root, &sectors, &bytes, &free, &total, GetParam()));
  EXPECT_NE(platform_.GetLastError(), kUntouchedError);
  EXPECT_EQ(sectors + bytes + free + total, 28u) << "a failed call must leave the results alone";
}

INSTANTIATE_TEST_SUITE_P(Forms, DeviceAccess, ::testing::Values(ApiForm::Ansi, ApiForm::Wide),
                         FormName);

TEST(VolumeInformation, OfCAndOfTheSystemVolumeAgree) {
  Win32Platform platform;
  uint32_t serial = 0, component = 0, flags = 0;
  ASSERT_TRUE(platform.GetVolumeInformation(L"C:\\", &serial, &component, &flags))
      << "error " << platform.GetLastError();
  EXPECT_GT(component, 0u);
  uint32_t volume_serial = 0;
  ASSERT_TRUE(
      platform.GetVolumeInformation(SystemVolume(platform), &volume_serial, nullptr, nullptr));
  EXPECT_EQ(volume_serial, serial);

  platform.SetLastError(kUntouchedError);
  EXPECT_FALSE(
      platform.GetVolumeInformation(L"C:\\volumes-no-such-folder\\", &serial, nullptr, nullptr));
  EXPECT_NE(platform.GetLastError(), kUntouchedError);
}

TEST(ErrorText, KnownCodesHaveUntrimmedTextAndUnknownOnesNone) {
  Win32Platform platform;
  for (uint32_t code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER}) {
    SCOPED_TRACE(::testing::Message() << "code " << code);
    const std::wstring text = platform.FormatMessage(code);
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n") << "the system's text comes untrimmed";
    EXPECT_EQ(text.find(L'\0'), std::wstring::npos);
  }
  EXPECT_NE(platform.FormatMessage(ERROR_FILE_NOT_FOUND),
            platform.FormatMessage(ERROR_ACCESS_DENIED));
  EXPECT_EQ(platform.FormatMessage(0x2000FFFFu), L"");
}

TEST(LastError, SetAndGetMeetTheThreadsValue) {
  Win32Platform platform;
  platform.SetLastError(1234);
  EXPECT_EQ(::GetLastError(), 1234u);
  ::SetLastError(4321);
  EXPECT_EQ(platform.GetLastError(), 4321u);
}

}  // namespace
}  // namespace vol::test
