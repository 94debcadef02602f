// The main window's logic on the real platform: the rows of a refresh against what the
// system says when asked directly, and the DOS-device view with a scratch letter.
#include <windows.h>
// The device-control codes build on windows.h.
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/win32/wine_support.h"
#include "ui/Ufrmvolume.h"
#include "ui/edition.h"

namespace vol::test {
namespace {

using vol::testing::FakeView;

constexpr std::size_t kSubItems = edition::kFull ? 6 : 4;  // the columns but the first

// The device number of an open-able path, asked for directly.
bool DirectDeviceNumber(const std::wstring& path, StorageDeviceNumber& number) {
  const HANDLE device = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const bool ok = ::DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                    sizeof number, &returned, nullptr) != FALSE;
  ::CloseHandle(device);
  return ok;
}

// A volume row's disk and partition cells: the low byte of what the system says, or
// 255 each when it says nothing (the volume's extents are never readable on Wine).
void ExpectDiskNumbers(const ListRow& row, const std::wstring& device_path) {
  const std::wstring& disk = row.sub(kSubDiskNumber);
  const std::wstring& partition = row.sub(kSubPartitionNumber);
  ASSERT_TRUE(IsDecimalText(disk)) << "\"" << ::testing::PrintToString(disk) << "\"";
  ASSERT_TRUE(IsDecimalText(partition)) << ::testing::PrintToString(partition);
  EXPECT_LE(std::stoul(disk), 255u);
  EXPECT_LE(std::stoul(partition), 255u);
  StorageDeviceNumber number{};
  if (DirectDeviceNumber(device_path, number)) {
    EXPECT_EQ(disk, std::to_wstring(number.DeviceNumber & 0xFF));
    EXPECT_EQ(partition, std::to_wstring(number.PartitionNumber & 0xFF));
  }
}

class WineVolumeList : public ::testing::Test {
 protected:
  void SetUp() override {
    system_ = VolumesOfTheSystem(platform_);
    ASSERT_FALSE(system_.empty()) << "the system lists no volume";
  }
  void TearDown() override {
    ExpectNothingLeftOpen(platform_);
    EXPECT_TRUE(platform_.shown_messages.empty())
        << platform_.ToAnsi(platform_.shown_messages.front());
    EXPECT_TRUE(platform_.message_boxes.empty())
        << platform_.ToAnsi(platform_.message_boxes.front().text);
  }

  // The rows that are DOS-device rows (no caption).
  std::vector<ListRow> DosRows() const {
    std::vector<ListRow> rows;
    for (const ListRow& row : view_.rows) {
      if (row.caption.empty()) rows.push_back(row);
    }
    return rows;
  }
  bool IsVolumeLetter(wchar_t letter) const {
    return std::any_of(system_.begin(), system_.end(), [letter](const ListedVolume& v) {
      return !v.paths.empty() && std::towupper(v.paths.front()[0]) == std::towupper(letter);
    });
  }

  RecordingPlatform platform_;
  FakeView view_;
  Tfrmvolumes form_{platform_, view_};
  std::vector<ListedVolume> system_;
};

TEST_F(WineVolumeList, OneRowPerVolumeOfTheSystemInItsOrder) {
  form_.FormShow();
  EXPECT_EQ(view_.title, L"Karrowin 0.3 by " VOLUMES_CONTACT);
  EXPECT_EQ(view_.set_rows_calls, 1);
  ASSERT_EQ(view_.rows.size(), system_.size());

  for (std::size_t i = 0; i < system_.size(); ++i) {
    const ListRow& row = view_.rows[i];
    const ListedVolume& volume = system_[i];
    SCOPED_TRACE(platform_.ToAnsi(volume.name));
    EXPECT_TRUE(IsVolumeGuidPath(row.caption)) << platform_.ToAnsi(row.caption);
    EXPECT_EQ(row.caption, volume.name);
    ASSERT_EQ(row.sub_items.size(), kSubItems);

    // The first mount path (Windows also has volumes without one, and folder mounts).
    EXPECT_EQ(row.sub(kSubPathName), volume.paths.empty() ? std::wstring() : volume.paths.front());

    const std::wstring& device = row.sub(kSubDosDevice);
    EXPECT_EQ(device.rfind(L"\\Device\\", 0), 0u) << platform_.ToAnsi(device);
    EXPECT_GT(device.size(), 8u);
    EXPECT_EQ(device, volume.nt_device);

    ExpectDiskNumbers(row, volume.name.substr(0, volume.name.size() - 1));

    if constexpr (edition::kVolumeSizeAndSerial) {
      // Wine's volumes are its drives, host folders whose file systems it always reads; a
      // volume without one (on Windows, a recovery partition) is the simulated machine's.
      DWORD sectors = 0, bytes = 0, free = 0, total = 0, serial = 0;
      const bool read = ::GetDiskFreeSpaceW(volume.name.c_str(), &sectors, &bytes, &free, &total) &&
                        ::GetVolumeInformationW(volume.name.c_str(), nullptr, 0, &serial, nullptr,
                                                nullptr, nullptr, 0);
      EXPECT_TRUE(read || !UnderWine()) << "error " << ::GetLastError();
      if (read) {
        // One cluster more than the volume holds: the program's own way of counting.
        EXPECT_EQ(row.sub(kSubVolumeSize),
                  std::to_wstring(uint64_t{sectors} * bytes * (uint64_t{total} + 1)));
        EXPECT_EQ(row.sub(kSubSerial), SerialText(serial));
      }
    }
  }

  // C:'s volume among them; Wine makes its serial of the letter in its GUID.
  const auto c = std::find_if(view_.rows.begin(), view_.rows.end(),
                              [](const ListRow& row) { return row.sub(kSubPathName) == L"C:\\"; });
  ASSERT_NE(c, view_.rows.end());
  if (edition::kVolumeSizeAndSerial && UnderWine()) {
    EXPECT_EQ(c->sub(kSubSerial), L"43000000");
  }
}

TEST_F(WineVolumeList, RefreshingAgainGivesTheSameRows) {
  form_.FormShow();
  const std::vector<ListRow> first = view_.rows;
  form_.Refresh1Click();
  EXPECT_EQ(view_.set_rows_calls, 2);
  EXPECT_EQ(WithoutSizes(view_.rows), WithoutSizes(first));
}

// Holds a scratch letter defined to C:'s volume, as another tool would define it.
class WineDosDeviceView : public WineVolumeList {
 protected:
  void SetUp() override {
    WineVolumeList::SetUp();
    ASSERT_TRUE(letter_.ok()) << "no free drive letter";
    const auto c = std::find_if(system_.begin(), system_.end(), [](const ListedVolume& v) {
      return !v.paths.empty() && v.paths.front() == L"C:\\";
    });
    ASSERT_NE(c, system_.end());
    target_ = c->nt_device;
    ASSERT_EQ(target_.rfind(L"\\Device\\", 0), 0u);
    ASSERT_TRUE(letter_.DefineRaw(target_)) << "error " << ::GetLastError();
    ASSERT_EQ(letter_.Target(), target_);
  }

  // The DOS-device rows whose PathName names the scratch letter, in the edition's form.
  std::vector<ListRow> ScratchRows() const {
    const std::wstring shown = edition::kDosRowBackslash ? letter_.root() : letter_.name();
    std::vector<ListRow> rows;
    for (const ListRow& row : DosRows()) {
      if (row.sub(kSubPathName) == shown) rows.push_back(row);
    }
    return rows;
  }

  ScratchLetter letter_{platform_};
  std::wstring target_;
};

// Windows gives the letter its volume's type (fixed), and both editions list it; Wine
// gives it none (the contract's Wine deviations), and only the full edition lists it.
TEST_F(WineDosDeviceView, ScratchLetterIsADosDeviceRowWhereItsDriveTypeIsListed) {
  const bool listed = edition::kFull || !UnderWine();

  view_.SetChecked(Command::Getnonvolumedrives1, true);
  form_.FormShow();

  // The volumes first, unchanged, then the DOS-device rows.
  ASSERT_GE(view_.rows.size(), system_.size());
  for (std::size_t i = 0; i < system_.size(); ++i) {
    EXPECT_EQ(view_.rows[i].caption, system_[i].name) << "row " << i;
  }
  for (std::size_t i = system_.size(); i < view_.rows.size(); ++i) {
    EXPECT_TRUE(view_.rows[i].caption.empty()) << "row " << i;
  }

  const std::vector<ListRow> scratch = ScratchRows();
  if (listed) {
    ASSERT_EQ(scratch.size(), 1u);
    const ListRow& row = scratch.front();
    ASSERT_EQ(row.sub_items.size(), kSubItems);
    EXPECT_EQ(row.sub(kSubDosDevice), target_);
    EXPECT_TRUE(IsDecimalText(row.sub(kSubDiskNumber)));
    EXPECT_TRUE(IsDecimalText(row.sub(kSubPartitionNumber)));
    if constexpr (edition::kVolumeSizeAndSerial) {
      EXPECT_EQ(row.sub(kSubVolumeSize), L"");
      EXPECT_EQ(row.sub(kSubSerial), L"");
    }
  } else {
    EXPECT_TRUE(scratch.empty());
  }
}

TEST_F(WineDosDeviceView, NoVolumeLetterIsListedTwice) {
  view_.SetChecked(Command::Getnonvolumedrives1, true);
  form_.FormShow();
  std::vector<wchar_t> letters;
  for (const ListRow& row : DosRows()) {
    const std::wstring& path = row.sub(kSubPathName);
    if (path.empty()) continue;  // a shadow copy, which has no letter
    SCOPED_TRACE(platform_.ToAnsi(path));
    ASSERT_EQ(path.size(), edition::kDosRowBackslash ? 3u : 2u);
    EXPECT_EQ(path[1], L':');
    EXPECT_NE(path[0], L'A') << "drive A: is never listed";
    EXPECT_FALSE(IsVolumeLetter(path[0])) << "a volume's letter came again";
    letters.push_back(path[0]);
  }
  std::sort(letters.begin(), letters.end());
  EXPECT_EQ(std::adjacent_find(letters.begin(), letters.end()), letters.end());
  EXPECT_TRUE(std::none_of(letters.begin(), letters.end(), [](wchar_t l) { return l == L'C'; }));
  if (UnderWine()) {  // Z: is the volume of Wine's root folder
    EXPECT_TRUE(std::none_of(letters.begin(), letters.end(), [](wchar_t l) { return l == L'Z'; }));
  }
}

}  // namespace
}  // namespace vol::test
