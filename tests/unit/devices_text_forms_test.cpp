// Number and text forms, and the small text helpers of udiskmgmt.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "devices/text_forms.h"
#include "devices/udiskmgmt.h"
#include "platform/text.h"
#include "tests/sim/sim_machine.h"

namespace vol {
namespace {

TEST(DevicesTextForms, HexTextHasAtLeastFourUpperCaseDigits) {
  const struct {
    uint32_t value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0000"},          {0x1F, L"001F"},          {0xabc, L"0ABC"},
      {0xFFFF, L"FFFF"},     {0x10000, L"10000"},      {0x12345, L"12345"},
      {0xABCDEF, L"ABCDEF"}, {0x0DEADBEF, L"DEADBEF"}, {0xFFFFFFFF, L"FFFFFFFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(HexText(c.value), c.text);
  }
}

TEST(DevicesTextForms, LogicalOrderComparesDigitRunsByValueAndIgnoresCase) {
  const struct {
    const wchar_t *a, *b;
    int order;  // the sign of the comparison
  } cases[] = {
      {L"\\Device\\HarddiskVolume9", L"\\Device\\HarddiskVolume10", -1},
      {L"Disk 100", L"Disk 20", 1},
      {L"c:\\data\\", L"D:\\", -1},
      {L"PathName", L"pathNAME", 0},
      {L"a01", L"a1", 0},     // the same value
      {L"a2b", L"a02c", -1},  // then the rest decides
      {L"x9", L"x:", -1},     // a digit before any other character
      {L"", L"0", -1},        // a text before its continuations
      {L"99999999999999999999",
       L"1"
       L"00000000000000000000",
       -1},  // no overflow
  };
  for (const auto& c : cases) {
    const auto sign = [](int value) { return (value > 0) - (value < 0); };
    EXPECT_EQ(sign(CompareLogical(c.a, c.b)), c.order) << c.a << " / " << c.b;
    EXPECT_EQ(sign(CompareLogical(c.b, c.a)), -c.order) << c.b << " / " << c.a;
  }
  EXPECT_LT(CompareHexValue(L"FFFF", L"10000"), 0);
  EXPECT_LT(CompareHexValue(L"001F", L"00A0"), 0);
  EXPECT_EQ(CompareHexValue(L"00ab", L"AB"), 0);
}

TEST(DevicesTextForms, GuidTextIsTheBracedRegistryForm) {
  const Guid guid{0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
  EXPECT_EQ(GuidText(guid), L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  const Guid small{0x1, 0x2, 0x3, {0, 0x4, 0, 0, 0, 0, 0, 0x5}};
  EXPECT_EQ(GuidText(small), L"{00000001-0002-0003-0004-000000000005}");
  const Guid basic_data{
      0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
  EXPECT_EQ(GuidText(basic_data), L"{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}");
}

TEST(DevicesTextForms, LowerAsciiMapsOnlyCapitalLetters) {
  EXPECT_EQ(LowerAscii(L"HarddiskVolumeShadowCopy1"), L"harddiskvolumeshadowcopy1");
  // '@' and '[' border A..Z; non-ASCII capitals are left to the code page's owner.
  EXPECT_EQ(LowerAscii(L"@AZ[ \u00C4\u0130z"), L"@az[ \u00C4\u0130z");
  EXPECT_EQ(LowerAscii(L""), L"");
}

TEST(DevicesTextForms, WithoutTrailingBackslashRemovesOneAtMost) {
  EXPECT_EQ(WithoutTrailingBackslash(L"\\\\?\\Volume{1}\\"), L"\\\\?\\Volume{1}");
  EXPECT_EQ(WithoutTrailingBackslash(L"C:\\\\"), L"C:\\");
  EXPECT_EQ(WithoutTrailingBackslash(L"C:"), L"C:");
  EXPECT_EQ(WithoutTrailingBackslash(L"\\"), L"");
  EXPECT_EQ(WithoutTrailingBackslash(L""), L"");
}

// A machine whose message texts the test chooses.
class MessageTextMachine : public SimMachine {
 public:
  std::wstring text;
  std::wstring FormatMessage(uint32_t) override { return text; }
};

// An error's words travel as UTF-8 (what() of a C++ error) and are shown as UTF-16:
// each length of sequence both ways, a character beyond the BMP, and what is no text.
TEST(DevicesTextForms, Utf8AndWideTextConvertBothWays) {
  const struct {
    std::string utf8;
    std::wstring wide;
  } cases[] = {
      {"Z\xC3\xBCrich caf\xC3\xA9", L"Z\u00FCrich caf\u00E9"},  // two bytes
      {"\xE2\x82\xAC 5", L"\u20AC 5"},                          // three
      {"disk \xF0\x9F\x92\xBE", L"disk \U0001F4BE"},            // four, a surrogate pair
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(WideFromUtf8(c.utf8), c.wide);
    EXPECT_EQ(Utf8FromWide(c.wide), c.utf8);
    EXPECT_EQ(ErrorText(std::runtime_error(c.utf8)), c.wide);
  }
  // A byte that starts no whole sequence is read as Latin-1; a lone surrogate is no
  // character and is replaced.
  EXPECT_EQ(WideFromUtf8("a\xC3"), L"a\u00C3");
  if constexpr (sizeof(wchar_t) == 2) {
    EXPECT_EQ(Utf8FromWide(std::wstring{L'a', static_cast<wchar_t>(0xD800)}), "a\xEF\xBF\xBD");
  }
}

TEST(DevicesTextForms, SystemErrorTextTrimsBlanksControlsAndFullStopsAtTheEnd) {
  const struct {
    std::wstring raw, trimmed;
  } cases[] = {
      {L"Access is denied.\r\n", L"Access is denied"},
      {L"The device is not ready. \r\n", L"The device is not ready"},
      {L"Done . . .\t \x7f", L"Done"},
      {L"v1.2 is. unsupported", L"v1.2 is. unsupported"},
      {std::wstring(L"Nothing\0", 8), L"Nothing"},
      {L" ...\r\n", L""},
      {L"", L""},
  };
  MessageTextMachine machine;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.raw));
    machine.text = c.raw;
    EXPECT_EQ(SystemErrorText(machine, 5), c.trimmed);
  }
}

TEST(DevicesTextForms, SystemErrorTextAsksForTheGivenCode) {
  SimMachine machine;
  SystemErrorText(machine, 1005);
  ASSERT_EQ(machine.CountCalls(Call::FormatMessage), 1);
  EXPECT_EQ(machine.calls().back().flags, 1005u);
}

TEST(DevicesTextForms, BoolToTextTakesAnyNonZeroByteAsTrue) {
  EXPECT_EQ(BoolToText(0), L"False");
  for (uint8_t flag : {1, 2, 0x80, 0xFF}) {
    SCOPED_TRACE(flag);
    EXPECT_EQ(BoolToText(flag), L"True");
  }
}

TEST(DevicesTextForms, CutAtBlankKeepsTheTextBeforeTheFirstBlank) {
  EXPECT_EQ(CutAtBlank(L"C: (fixed)"), L"C:");
  EXPECT_EQ(CutAtBlank(L"a  b"), L"a");
  EXPECT_EQ(CutAtBlank(L"NoBlank"), L"NoBlank");
  EXPECT_EQ(CutAtBlank(L" leading"), L"");
  EXPECT_EQ(CutAtBlank(L""), L"");
}

// The mount-path list as GetVolumePathNamesForVolumeNameA wrote it, whatever length
// it returned: Wine's volume.c test accepts 2 for "C:\\" from older Windows (broken()).
TEST(PlatformText, WrittenMultiStringEndsAtTheFinalTerminator) {
  using std::literals::string_view_literals::operator""sv;
  EXPECT_EQ(WrittenMultiString("C:\\\0\0\0\0"sv), "C:\\\0\0"sv);
  EXPECT_EQ(WrittenMultiString("C:\\\0D:\\mnt\\\0\0x\0"sv), "C:\\\0D:\\mnt\\\0\0"sv);
  EXPECT_EQ(WrittenMultiString("\0\0\0"sv), "\0"sv);
  EXPECT_EQ(WrittenMultiString("C:\\\0D:"sv), "C:\\\0D:"sv);  // unterminated: the whole buffer
  EXPECT_EQ(WrittenMultiString(""sv), ""sv);
}

}  // namespace
}  // namespace vol
