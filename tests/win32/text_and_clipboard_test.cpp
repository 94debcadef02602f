// ANSI code-page conversions, the clipboard, the local date and time text and the
// executable's path.
#include <windows.h>

#include <cstring>
#include <cwctype>
#include <optional>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "platform/win32_platform.h"
#include "tests/win32/win32_test_support.h"

namespace vol::test {
namespace {

TEST(AnsiText, RoundTripsEveryCharacterOfASingleByteCodePage) {
  Win32Platform platform;
  EXPECT_EQ(platform.ToAnsi(L""), "");
  EXPECT_EQ(platform.FromAnsi(""), L"");
  EXPECT_EQ(platform.ToAnsi(L"C:\\Volume{x}"), "C:\\Volume{x}");
  EXPECT_EQ(platform.FromAnsi("\\Device\\HarddiskVolume1"), L"\\Device\\HarddiskVolume1");

  // Embedded terminators belong to the text (multi-strings pass through here).
  const std::wstring multi(L"a\0b\0", 4);
  EXPECT_EQ(platform.ToAnsi(multi), std::string("a\0b\0", 4));
  EXPECT_EQ(platform.FromAnsi(std::string("a\0b\0", 4)), multi);

  CPINFO info{};
  ASSERT_TRUE(::GetCPInfo(CP_ACP, &info));
  if (info.MaxCharSize != 1) GTEST_SKIP() << "the ANSI code page is a multi-byte one";
  std::string every;
  for (int byte = 1; byte < 256; ++byte) every.push_back(static_cast<char>(byte));
  const std::wstring wide = platform.FromAnsi(every);
  EXPECT_EQ(wide.size(), every.size());
  EXPECT_EQ(platform.ToAnsi(wide), every);
}

TEST(AnsiText, CharactersOutsideTheCodePageBecomeItsDefaultCharacter) {
  if (::GetACP() != 1252) GTEST_SKIP() << "written for code page 1252, this is " << ::GetACP();
  Win32Platform platform;
  EXPECT_EQ(platform.ToAnsi(L"x\u4e00y"), "x?y");
  EXPECT_EQ(platform.ToAnsi(L"\u00e9\u20ac"), "\xe9\x80");
  EXPECT_EQ(platform.FromAnsi("\xe9\x80"), L"\u00e9\u20ac");
}

// The ANSI form must really go through the code page: a name the code page cannot
// hold arrives with a '?' in it, which no file name may contain.
TEST(AnsiText, AnsiFormsSeeTheCodePagesText) {
  if (::GetACP() != 1252) GTEST_SKIP() << "written for code page 1252, this is " << ::GetACP();
  Win32Platform platform;
  const std::wstring name = L"C:\\volumes-\u4e00-missing.txt";
  platform.SetLastError(kUntouchedError);
  EXPECT_EQ(platform.CreateFile(name, file_access::kGenericRead, file_access::kShareRead,
                                file_access::kOpenExisting, 0, ApiForm::Wide),
            kInvalidHandle);
  EXPECT_EQ(platform.GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  platform.SetLastError(kUntouchedError);
  EXPECT_EQ(platform.CreateFile(name, file_access::kGenericRead, file_access::kShareRead,
                                file_access::kOpenExisting, 0, ApiForm::Ansi),
            kInvalidHandle);
  EXPECT_EQ(platform.GetLastError(), static_cast<uint32_t>(ERROR_INVALID_NAME));
}

// Clipboard contents in one format, read the way another program reads them.
std::optional<std::string> ClipboardBytes(UINT format) {
  if (!::OpenClipboard(nullptr)) return std::nullopt;
  std::optional<std::string> bytes;
  if (HANDLE data = ::GetClipboardData(format)) {
    if (const void* locked = ::GlobalLock(data)) {
      bytes.emplace(static_cast<const char*>(locked), ::GlobalSize(data));
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return bytes;
}

std::optional<std::string> ClipboardText() {
  std::optional<std::string> bytes = ClipboardBytes(CF_TEXT);
  if (bytes) bytes->resize(bytes->find('\0'));
  return bytes;
}

std::optional<std::wstring> ClipboardUnicodeText() {
  std::optional<std::string> bytes = ClipboardBytes(CF_UNICODETEXT);
  if (!bytes) return std::nullopt;
  std::wstring text(bytes->size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), bytes->data(), text.size() * sizeof(wchar_t));
  text.resize(text.find(L'\0'));
  return text;
}

class Clipboard : public ::testing::Test {
 protected:
  Win32Platform platform_;
};

TEST_F(Clipboard, UnicodeTextReadsBackAndReplacesWhatWasThere) {
  // Something of another format first: writing must empty the clipboard.
  const UINT private_format = ::RegisterClipboardFormatW(L"volumes-test-private");
  ASSERT_NE(private_format, 0u);
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ASSERT_TRUE(::EmptyClipboard());
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, 4);
  ASSERT_NE(memory, nullptr);
  ASSERT_NE(::SetClipboardData(private_format, memory), nullptr);
  ASSERT_TRUE(::CloseClipboard());

  const std::wstring text = L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\ \u00e9\u4e00";
  ASSERT_TRUE(platform_.SetClipboardText(text, ApiForm::Wide)) << platform_.GetLastError();
  EXPECT_EQ(ClipboardUnicodeText(), text);
  EXPECT_FALSE(::IsClipboardFormatAvailable(private_format));
}

TEST_F(Clipboard, AnsiTextIsTheCodePagesBytes) {
  const std::wstring text = L"\\Device\\HarddiskVolume3 \u00e9";
  ASSERT_TRUE(platform_.SetClipboardText(text, ApiForm::Ansi)) << platform_.GetLastError();
  EXPECT_EQ(ClipboardText(), platform_.ToAnsi(text));
}

TEST_F(Clipboard, EmptyTextLeavesAnEmptyText) {
  for (ApiForm form : {ApiForm::Ansi, ApiForm::Wide}) {
    ASSERT_TRUE(platform_.SetClipboardText(L"", form));
    EXPECT_EQ(ClipboardUnicodeText(), L"");
    EXPECT_EQ(ClipboardText(), "");
  }
}

// Another program holds the clipboard for the whole attempt: the write gives up,
// reports it, and the clipboard keeps its old text.
TEST_F(Clipboard, HeldByAnotherThreadFailsAndLeavesTheOldText) {
  ASSERT_TRUE(platform_.SetClipboardText(L"old text", ApiForm::Wide));

  HANDLE opened = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(opened, nullptr);
  ASSERT_NE(release, nullptr);
  bool held = false;
  std::thread holder([&] {
    // A window of its own, as another program has: a clipboard opened without a
    // window may be shared by the threads of one process.
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
    held = window && ::OpenClipboard(window);
    ::SetEvent(opened);
    ::WaitForSingleObject(release, INFINITE);
    if (held) ::CloseClipboard();
    if (window) ::DestroyWindow(window);
  });
  ::WaitForSingleObject(opened, INFINITE);

  platform_.SetLastError(kUntouchedError);
  const bool written = platform_.SetClipboardText(L"new text", ApiForm::Wide);
  const uint32_t error = platform_.GetLastError();
  ::SetEvent(release);
  holder.join();
  ::CloseHandle(opened);
  ::CloseHandle(release);

  ASSERT_TRUE(held);
  EXPECT_FALSE(written);
  EXPECT_NE(error, kUntouchedError);
  EXPECT_NE(error, 0u);
  EXPECT_EQ(ClipboardUnicodeText(), L"old text");
}

TEST(LocalDateTime, IsTodaysShortDateABlankAndATime) {
  Win32Platform platform;
  wchar_t date[128];
  ASSERT_GT(::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128), 0);
  const std::wstring text = platform.LocalDateTimeText();
  ASSERT_GT(text.size(), std::wstring(date).size() + 1) << platform.ToAnsi(text);
  EXPECT_EQ(text.substr(0, std::wstring(date).size() + 1), std::wstring(date) + L" ");
  const std::wstring time = text.substr(std::wstring(date).size() + 1);
  EXPECT_TRUE(std::iswdigit(time[0]) || std::iswalpha(time[0])) << platform.ToAnsi(time);
  EXPECT_EQ(time.find(L'\0'), std::wstring::npos);
}

TEST(ExecutablePath, NamesThisProgramsFile) {
  Win32Platform platform;
  const std::wstring path = platform.ExecutablePath();
  ASSERT_GT(path.size(), 15u);
  std::wstring file = path.substr(path.find_last_of(L"\\/") + 1);
  for (wchar_t& c : file) c = std::towlower(c);
  EXPECT_EQ(file, L"win32_tests.exe");
  EXPECT_NE(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// SetErrorMode (learn.microsoft.com, "Error Mode"): with SEM_FAILCRITICALERRORS no query
// on an empty drive raises the system's box; the other flags the process had stay.
TEST(ErrorMode, StartUpSilencesTheSystemsBoxesAndKeepsTheRest) {
  const UINT before = GetErrorMode();
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  QuietSystemErrorBoxes();
  const UINT after = GetErrorMode();
  SetErrorMode(before);
  EXPECT_EQ(after, UINT{SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX});
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
