// The DOS-device namespace through both text forms: single names, the full list
// and its buffer rules, and a DefineDosDevice round trip on a scratch letter.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/win32_platform.h"
#include "tests/win32/win32_test_support.h"

namespace vol::test {
namespace {

class DosDeviceQuery : public ::testing::TestWithParam<ApiForm> {
 protected:
  Win32Platform platform_;
};

TEST_P(DosDeviceQuery, EveryVolumeAndCHaveAnNtDeviceName) {
  std::vector<std::wstring> names;
  for (const std::wstring& volume : ListVolumes(platform_)) names.push_back(DosDeviceName(volume));
  names.push_back(L"C:");
  for (const std::wstring& name : names) {
    SCOPED_TRACE(platform_.ToAnsi(name));
    std::vector<wchar_t> buffer(300, kGuard);
    platform_.SetLastError(kUntouchedError);
    const uint32_t count = platform_.QueryDosDevice(&name, buffer.data(), 260, GetParam());
    ASSERT_GT(count, 0u) << "error " << platform_.GetLastError();
    ASSERT_LE(count, 260u);
    EXPECT_EQ(buffer[count - 1], L'\0');
    const std::vector<std::wstring> targets = SplitMultiString(buffer.data(), count);
    ASSERT_FALSE(targets.empty());
    EXPECT_EQ(targets[0].rfind(L"\\Device\\", 0), 0u) << platform_.ToAnsi(targets[0]);
    EXPECT_GT(targets[0].size(), 8u);
    for (std::size_t i = 260; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kGuard) << i;
  }
}

TEST_P(DosDeviceQuery, FullListFitsOnlyAfterGrowingAndNamesC) {
  uint32_t length = 16;
  std::vector<wchar_t> buffer;
  uint32_t count = 0;
  int growths = 0;
  for (;;) {
    buffer.assign(length + 8, kGuard);
    platform_.SetLastError(kUntouchedError);
    count = platform_.QueryDosDevice(nullptr, buffer.data(), length, GetParam());
    for (std::size_t i = length; i < buffer.size(); ++i) {
      ASSERT_EQ(buffer[i], kGuard) << "written past " << length << " at " << i;
    }
    if (count != 0) break;
    ASSERT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ERROR_INSUFFICIENT_BUFFER))
        << "buffer length " << length;
    ASSERT_LT(length, 1u << 22) << "the list never fits";
    length *= 2;
    ++growths;
  }
  EXPECT_GT(growths, 0) << "16 characters cannot hold the whole list";
  ASSERT_LE(count, length);
  const std::vector<std::wstring> names = SplitMultiString(buffer.data(), count);
  EXPECT_GT(names.size(), 2u);
  EXPECT_NE(std::find(names.begin(), names.end(), L"C:"), names.end());
  for (const std::wstring& name : names) EXPECT_FALSE(name.empty());
}

TEST_P(DosDeviceQuery, SingleNameInTooSmallBufferFailsWithoutOverrun) {
  const std::wstring name = L"C:";
  std::vector<wchar_t> buffer(16, kGuard);
  platform_.SetLastError(kUntouchedError);
  EXPECT_EQ(platform_.QueryDosDevice(&name, buffer.data(), 4, GetParam()), 0u);
  EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ERROR_INSUFFICIENT_BUFFER));
  for (std::size_t i = 4; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kGuard) << i;
}

TEST_P(DosDeviceQuery, UnknownNameGivesFileNotFound) {
  const std::wstring name = L"VolumesNoSuchDevice";
  std::vector<wchar_t> buffer(260);
  platform_.SetLastError(kUntouchedError);
  EXPECT_EQ(platform_.QueryDosDevice(&name, buffer.data(), 260, GetParam()), 0u);
  EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

INSTANTIATE_TEST_SUITE_P(Forms, DosDeviceQuery, ::testing::Values(ApiForm::Ansi, ApiForm::Wide),
                         FormName);

// Defines a letter nobody uses and removes it again, also when the test fails.
class DosDeviceDefinition : public ::testing::TestWithParam<ApiForm> {
 protected:
  void SetUp() override {
    const std::vector<wchar_t> used = DefinedLetters(platform_);
    for (wchar_t letter = L'Y'; letter >= L'D'; --letter) {
      if (std::find(used.begin(), used.end(), letter) == used.end()) {
        letter_ = std::wstring{letter, L':'};
        break;
      }
    }
    ASSERT_FALSE(letter_.empty()) << "no free drive letter";
    target_ = FirstTarget(platform_, DosDeviceName(SystemVolume(platform_)), ApiForm::Wide);
    ASSERT_EQ(target_.rfind(L"\\Device\\", 0), 0u);
  }
  void TearDown() override {
    if (letter_.empty()) return;
    // Whatever the test left, every definition of the letter goes.
    for (int i = 0; i < 4 && !FirstTarget(platform_, letter_, ApiForm::Wide).empty(); ++i) {
      ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, letter_.c_str(), nullptr);
    }
    EXPECT_TRUE(FirstTarget(platform_, letter_, ApiForm::Wide).empty()) << "letter left behind";
  }

  Win32Platform platform_;
  std::wstring letter_;
  std::wstring target_;  // the NT device name of C:'s volume
};

TEST_P(DosDeviceDefinition, DefineQueryRemoveRoundTrip) {
  platform_.SetLastError(kUntouchedError);
  ASSERT_TRUE(platform_.DefineDosDevice(ddd::kRawTargetPath, letter_, &target_, GetParam()))
      << "error " << platform_.GetLastError();
  EXPECT_EQ(FirstTarget(platform_, letter_, GetParam()), target_);
  EXPECT_NE(platform_.GetDriveType(letter_ + L"\\", GetParam()), drive_type::kUnknown);

  ASSERT_TRUE(platform_.DefineDosDevice(ddd::kRemoveDefinition | ddd::kRawTargetPath, letter_,
                                        &target_, GetParam()))
      << "error " << platform_.GetLastError();
  std::vector<wchar_t> buffer(260);
  platform_.SetLastError(kUntouchedError);
  EXPECT_EQ(platform_.QueryDosDevice(&letter_, buffer.data(), 260, GetParam()), 0u);
  EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_P(DosDeviceDefinition, RemovingAnUndefinedNameFailsWithFileNotFound) {
  platform_.SetLastError(kUntouchedError);
  EXPECT_FALSE(platform_.DefineDosDevice(ddd::kRemoveDefinition, letter_, nullptr, GetParam()));
  EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

INSTANTIATE_TEST_SUITE_P(Forms, DosDeviceDefinition,
                         ::testing::Values(ApiForm::Ansi, ApiForm::Wide), FormName);

}  // namespace
}  // namespace vol::test
