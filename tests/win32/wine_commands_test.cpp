// The mount and DOS-device commands on the real platform. A letter the program defines
// must be seen by every process, so a second process (this executable, running one
// disabled helper test) is asked what the namespace holds.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/win32/wine_support.h"
#include "ui/Ufrmvolume.h"
#include "ui/edition.h"

namespace vol::test {
namespace {

using vol::testing::FakeView;

constexpr wchar_t kQueryName[] = L"VOLUMES_WINE_QUERY_NAME";
constexpr wchar_t kExpectedTarget[] = L"VOLUMES_WINE_EXPECTED_TARGET";

// Exit codes of the helper; none of them is one gtest itself uses.
enum SecondProcessAnswer : DWORD {
  kDefinedAsExpected = 40,
  kDefinedOtherwise = 41,
  kUndefined = 42,
  kQueryFailed = 43,
  kNoQuestion = 44,
  kNoAnswer = 0xFFFFFFFF,  // did not start or did not end
};

// Run as the second process: says through its exit code what the DOS-device namespace
// holds for the name in VOLUMES_WINE_QUERY_NAME.
TEST(WineSecondProcess, DISABLED_ReportDosDeviceTarget) {
  wchar_t name[64] = {}, expected[1024] = {}, target[1024] = {};
  if (::GetEnvironmentVariableW(kQueryName, name, 64) == 0) ::ExitProcess(kNoQuestion);
  ::GetEnvironmentVariableW(kExpectedTarget, expected, 1024);
  if (::QueryDosDeviceW(name, target, 1024) == 0) {
    ::ExitProcess(::GetLastError() == ERROR_FILE_NOT_FOUND ? kUndefined : kQueryFailed);
  }
  ::ExitProcess(std::wcscmp(target, expected) == 0 ? kDefinedAsExpected : kDefinedOtherwise);
}

// Sets an environment variable of this process for as long as it lives.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    ::SetEnvironmentVariableW(name_, value.c_str());
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
};

// Asks a second process what `name` stands for, against `expected`.
DWORD AskSecondProcess(Platform& platform, const std::wstring& name, const std::wstring& expected) {
  const ScopedVariable query(kQueryName, name);
  const ScopedVariable target(kExpectedTarget, expected);
  std::wstring command = L"\"" + platform.ExecutablePath() +
                         L"\" --gtest_filter=WineSecondProcess.DISABLED_ReportDosDeviceTarget"
                         L" --gtest_also_run_disabled_tests";
  // Its report would only clutter this one's.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE null =
      ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (null != INVALID_HANDLE_VALUE) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null;
  }
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  if (null != INVALID_HANDLE_VALUE) ::CloseHandle(null);
  if (!started) {
    ADD_FAILURE() << "second process not started, error " << ::GetLastError();
    return kNoAnswer;
  }
  DWORD code = kNoAnswer;
  if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.hProcess, &code);
  } else {
    ADD_FAILURE() << "second process did not end";
    ::TerminateProcess(process.hProcess, kNoAnswer);
    ::WaitForSingleObject(process.hProcess, 10000);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

class WineCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(letter_.ok()) << "no free drive letter";
    c_device_ = FirstTarget(platform_, L"C:", ApiForm::Wide);
    ASSERT_EQ(c_device_.rfind(L"\\Device\\", 0), 0u);
    letters_before_ = DefinedLetters(platform_);
  }
  void TearDown() override { ExpectNothingLeftOpen(platform_); }

  // Shows the window and selects C:'s volume row.
  void ShowAndSelectC() {
    form_.FormShow();
    ASSERT_TRUE(view_.Select(kSubPathName + 1, L"C:\\"));
    ASSERT_EQ(view_.SelectedRow()->sub(kSubDosDevice), c_device_);
  }

  RecordingPlatform platform_;
  FakeView view_;
  Tfrmvolumes form_{platform_, view_};
  ScratchLetter letter_{platform_};
  std::wstring c_device_;  // the NT device name of C:'s volume
  std::vector<wchar_t> letters_before_;
};

TEST_F(WineCommands, AddedLetterIsSeenByEveryProcessAndRemovedAgain) {
  if constexpr (!edition::kFull) GTEST_SKIP() << "the reduced edition adds no letters";
  view_.SetChecked(Command::Getnonvolumedrives1, true);
  ShowAndSelectC();
  const int refreshes = view_.set_rows_calls;

  view_.input_answers.push_back(letter_.name());
  form_.RunHandlerOf(Command::AddDosDevice1);
  ASSERT_EQ(view_.input_box_calls.size(), 1u);
  EXPECT_EQ(view_.input_box_calls[0].caption, L"Lindquay");
  EXPECT_EQ(view_.input_box_calls[0].prompt, L"Enter Path : x:");
  EXPECT_EQ(view_.input_box_calls[0].default_text, L"x:");
  EXPECT_EQ(view_.status_text, L"Add Device OK");
  EXPECT_EQ(letter_.Target(), c_device_);
  EXPECT_EQ(AskSecondProcess(platform_, letter_.name(), c_device_), kDefinedAsExpected);

  // Refreshed at once: the new letter is a DOS-device row of C:'s device.
  EXPECT_EQ(view_.set_rows_calls, refreshes + 1);
  EXPECT_TRUE(platform_.sleeps.empty()) << "adding a letter does not wait";
  ASSERT_TRUE(view_.Select(kSubPathName + 1, letter_.root()));
  EXPECT_TRUE(view_.SelectedRow()->caption.empty());
  EXPECT_EQ(view_.SelectedRow()->sub(kSubDosDevice), c_device_);

  form_.RunHandlerOf(Command::RemoveDosDevice1);
  EXPECT_FALSE(letter_.Defined());
  EXPECT_EQ(AskSecondProcess(platform_, letter_.name(), c_device_), kUndefined);
  // The row stays until the next refresh.
  EXPECT_EQ(view_.set_rows_calls, refreshes + 1);
  EXPECT_EQ(view_.status_text, L"Add Device OK");

  EXPECT_TRUE(platform_.shown_messages.empty()) << platform_.ToAnsi(platform_.shown_messages[0]);
  EXPECT_TRUE(platform_.message_boxes.empty());
  EXPECT_EQ(DefinedLetters(platform_), letters_before_);
}

TEST_F(WineCommands, MountAtAPathThatCannotExistFailsAndChangesNothing) {
  const std::wstring paths[] = {letter_.root(), L"C:\\volumes-no-such-folder\\"};
  for (const std::wstring& path : paths) {
    SCOPED_TRACE(platform_.ToAnsi(path));
    platform_.shown_messages.clear();
    platform_.mount_attempts.clear();
    ShowAndSelectC();
    const std::vector<ListRow> before = view_.rows;
    const int refreshes = view_.set_rows_calls;

    view_.input_answers.push_back(path);
    form_.RunHandlerOf(Command::Mount2);
    EXPECT_EQ(platform_.mount_attempts, std::vector<std::wstring>{path});
    EXPECT_EQ(platform_.shown_messages, std::vector<std::wstring>{L"mount failed"});
    EXPECT_TRUE(platform_.message_boxes.empty());
    EXPECT_EQ(view_.set_rows_calls, refreshes + 1);
    EXPECT_EQ(WithoutSizes(view_.rows), WithoutSizes(before));
    EXPECT_EQ(DefinedLetters(platform_), letters_before_);
  }
  EXPECT_EQ(::GetFileAttributesW(L"C:\\volumes-no-such-folder"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace vol::test
