// The volume report on the real platform, for every volume of the system and for a
// drive as a DOS-device row hands it over.
#include <windows.h>
// The device-control codes build on windows.h.
#include <winioctl.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"
#include "tests/win32/wine_support.h"
#include "ui/edition.h"

namespace vol::test {
namespace {

constexpr std::wstring_view kDeviceNumberLine =
    edition::kFull ? L"->Parent DeviceNumber: " : L"->DeviceNumber: ";

// The text after `prefix` of the one line that starts with it; fails when none or many do.
std::wstring ValueAfter(const std::vector<std::wstring>& lines, std::wstring_view prefix) {
  std::wstring value;
  int found = 0;
  for (const std::wstring& line : lines) {
    if (line.rfind(prefix, 0) == 0) {
      value = line.substr(prefix.size());
      ++found;
    }
  }
  EXPECT_EQ(found, 1) << "lines starting with " << ::testing::PrintToString(std::wstring(prefix));
  return value;
}

// The report as one text, to show with a failure.
std::string Report(Platform& platform, const std::vector<std::wstring>& lines) {
  std::string text = "report:";
  for (const std::wstring& line : lines) text += "\n  " + platform.ToAnsi(line);
  return text;
}

std::ptrdiff_t IndexOf(const std::vector<std::wstring>& lines, std::wstring_view line) {
  const auto at = std::find(lines.begin(), lines.end(), line);
  return at == lines.end() ? -1 : at - lines.begin();
}

// "N (M MB)" with two decimal numbers.
bool IsClustersAndMegabytes(std::wstring_view text) {
  const std::size_t open = text.find(L" (");
  if (open == std::wstring_view::npos || text.substr(text.size() - 4) != L" MB)") return false;
  return IsDecimalText(text.substr(0, open)) &&
         IsDecimalText(text.substr(open + 2, text.size() - 4 - open - 2));
}

// The free-space block at the end of a report, or the system's reason for none (on
// Windows, a volume without a file system it can read).
void ExpectFreeSpaceBlock(const std::vector<std::wstring>& lines, const std::wstring& root) {
  DWORD sectors = 0, bytes = 0, free = 0, total = 0;
  if (!::GetDiskFreeSpaceW(root.c_str(), &sectors, &bytes, &free, &total)) {
    EXPECT_EQ(lines.back().rfind(L"GetDiskFreeSpace failed:", 0), 0u);
    return;
  }
  const std::ptrdiff_t block = IndexOf(lines, L"->GetDiskFreeSpace");
  ASSERT_GE(block, 0);
  ASSERT_EQ(static_cast<std::size_t>(block) + 6, lines.size()) << "the block closes the report";
  const std::vector<std::wstring> tail(lines.begin() + block + 1, lines.end());
  const std::wstring spc = ValueAfter(tail, L"Sectors per cluster: ");
  const std::wstring bps = ValueAfter(tail, L"Bytes per sector: ");
  const std::wstring cluster = ValueAfter(tail, L"ClusterSize: ");
  EXPECT_EQ(tail[0].rfind(L"Sectors per cluster: ", 0), 0u);
  EXPECT_EQ(tail[1].rfind(L"Bytes per sector: ", 0), 0u);
  EXPECT_EQ(tail[2].rfind(L"ClusterSize: ", 0), 0u);
  EXPECT_TRUE(IsClustersAndMegabytes(ValueAfter(tail, L"Total clusters: ")));
  const std::wstring free_used = ValueAfter(tail, L"Free Clusters: ");
  const std::size_t used = free_used.find(L" / Used Clusters: ");
  ASSERT_NE(used, std::wstring::npos) << ::testing::PrintToString(free_used);
  EXPECT_TRUE(IsClustersAndMegabytes(free_used.substr(0, used)));
  EXPECT_TRUE(IsClustersAndMegabytes(free_used.substr(used + 18)));

  // The counts that do not move while the host writes files.
  EXPECT_EQ(spc, std::to_wstring(sectors));
  EXPECT_EQ(bps, std::to_wstring(bytes));
  EXPECT_EQ(cluster, std::to_wstring(sectors * bytes));
}

// The volume GUID path the system gives for a mount path, or empty.
std::wstring VolumeNameOf(const std::wstring& mount_path) {
  wchar_t name[MAX_PATH] = {};
  if (!::GetVolumeNameForVolumeMountPointW(mount_path.c_str(), name, MAX_PATH)) return {};
  return name;
}

// The device-number value the report should show for a target: the disk's number as
// the system gives it, or NONE.
std::wstring DirectDeviceNumberText(const std::wstring& target) {
  const HANDLE device =
      ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) return L"NONE";
  STORAGE_DEVICE_NUMBER number{};
  DWORD returned = 0;
  const bool ok = ::DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                    sizeof number, &returned, nullptr);
  ::CloseHandle(device);
  return ok ? std::to_wstring(number.DeviceNumber) : L"NONE";
}

// One serial line: the number as the system gives it for root, or the reason it gave none.
void ExpectSerialLine(const std::vector<std::wstring>& lines, const std::wstring& root) {
  DWORD serial = 0;
  if (::GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    EXPECT_EQ(ValueAfter(lines, L"->Serial:"), SerialText(serial));
    EXPECT_EQ(IndexOf(lines, L"GetVolumeInformation failed:"), -1);
  } else {
    EXPECT_FALSE(ValueAfter(lines, L"GetVolumeInformation failed:").empty())
        << "the system's reason follows";
  }
}

class WineReport : public ::testing::Test {
 protected:
  void TearDown() override {
    ExpectNothingLeftOpen(platform_);
    EXPECT_TRUE(platform_.shown_messages.empty());
    EXPECT_TRUE(platform_.message_boxes.empty());
  }
  RecordingPlatform platform_;
};

TEST_F(WineReport, OnEveryVolumeDevicePath) {
  const std::vector<ListedVolume> volumes = VolumesOfTheSystem(platform_);
  ASSERT_FALSE(volumes.empty());
  for (const ListedVolume& volume : volumes) {
    SCOPED_TRACE(platform_.ToAnsi(volume.name));
    const std::wstring device_path = volume.name.substr(0, volume.name.size() - 1);
    std::vector<std::wstring> lines{L"left from before"};
    GetVolumeReport(platform_, device_path, lines);
    SCOPED_TRACE(Report(platform_, lines));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(IndexOf(lines, L"left from before"), -1);

    // The disk's number, as the system gives it for the volume.
    EXPECT_EQ(ValueAfter(lines, kDeviceNumberLine), DirectDeviceNumberText(device_path));
    // The partition entry as the system gives it (Wine gives none, see the contract's Wine
    // deviations); the full edition says so in a line when there is none.
    const HANDLE device =
        ::CreateFileW(device_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();
    PARTITION_INFORMATION_EX partition{};
    DWORD returned = 0;
    const bool partitioned = ::DeviceIoControl(device, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0,
                                               &partition, sizeof partition, &returned, nullptr);
    ::CloseHandle(device);
    EXPECT_EQ(IndexOf(lines, L"->Partition_Info") != -1, partitioned);
    if constexpr (edition::kFull) {
      EXPECT_EQ(lines[0].rfind(kDeviceNumberLine, 0), 0u);
      EXPECT_EQ(lines[1], partitioned ? L"->Partition_Info" : L"->Partition_Info: NONE");
    } else if (!partitioned) {
      EXPECT_EQ(lines[0].rfind(kDeviceNumberLine, 0), 0u) << "no partition line before it";
      EXPECT_EQ(IndexOf(lines, L"->Partition_Info: NONE"), -1);
    }

    // What the system gives for the volume GUID path itself: the path again on Windows,
    // nothing on Wine, which knows drive roots only.
    EXPECT_EQ(ValueAfter(lines, L"->VolumeGUID: "), VolumeNameOf(volume.name));

    if constexpr (edition::kFull) {
      ExpectSerialLine(lines, volume.name);
    } else {
      for (const std::wstring& line : lines) EXPECT_EQ(line.find(L"Serial"), std::wstring::npos);
    }
    ExpectFreeSpaceBlock(lines, volume.name);
  }
}

// A DOS-device row hands over C:\ in the full edition and C: in the reduced one.
TEST_F(WineReport, OnTheDriveOfADosDeviceRow) {
  const std::wstring target = edition::kDosRowBackslash ? L"C:\\" : L"C:";
  std::vector<std::wstring> lines;
  GetVolumeReport(platform_, target, lines);
  SCOPED_TRACE(Report(platform_, lines));
  ASSERT_GE(lines.size(), 7u);

  // Wine refuses to open C:\ and C: alike (access denied), so neither has a number there.
  EXPECT_EQ(ValueAfter(lines, kDeviceNumberLine), DirectDeviceNumberText(target));
  if constexpr (edition::kFull) {
    EXPECT_EQ(lines[1], L"->Partition_Info: NONE");
  } else {
    EXPECT_EQ(IndexOf(lines, L"->Partition_Info: NONE"), -1);
  }
  // C:\ becomes C:\\ (two backslashes), which names no mount point; C: becomes C:\.
  const std::wstring guid = ValueAfter(lines, L"->VolumeGUID: ");
  EXPECT_EQ(guid, VolumeNameOf(target + L"\\"));
  if constexpr (!edition::kDosRowBackslash) {
    EXPECT_EQ(guid, SystemVolume(platform_));
  }
  if constexpr (edition::kFull) ExpectSerialLine(lines, target + L"\\");
  ExpectFreeSpaceBlock(lines, target + L"\\");
}

}  // namespace
}  // namespace vol::test
