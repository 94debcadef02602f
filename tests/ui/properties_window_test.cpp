// The properties window: layout, the report in its memo, several at once, its keys,
// and that it lives and dies on its own.
#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

#include <string>
#include <vector>

#include "devices/text_forms.h"
#include "devices/udiskmgmt.h"
#include "tests/ui/ui_support.h"
#include "ui/ufrmproperties_win.h"

namespace vol::ui_test {
namespace {

// The window's client size and font height at 96 dpi, the same in both editions.
constexpr int kWidth = 490, kHeight = 329, kFontHeight = -11;

int ScaleProperties(int value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), 96); }

class PropertiesWindowTest : public MainWindowTest {
 protected:
  // Runs the information command on a row; the one new properties window.
  HWND OpenFor(int row) {
    const auto before = ThreadWindows(L"Tfrmproperties");
    SelectRow(list(), row);
    Choose(Command::GetVolumeInformations1);
    for (HWND window : ThreadWindows(L"Tfrmproperties")) {
      if (std::find(before.begin(), before.end(), window) == before.end()) return window;
    }
    ADD_FAILURE() << "no new properties window";
    return nullptr;
  }

  static HWND MemoOf(HWND window) { return FindWindowExW(window, nullptr, L"Edit", nullptr); }
  static HWND GroupBoxOf(HWND window) { return FindWindowExW(window, nullptr, L"Button", nullptr); }

  static std::wstring Joined(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? L"\r\n" : L"") + lines[i];
    return text;
  }
};

TEST_F(PropertiesWindowTest, ShowsTheReportOfTheSelectedVolume) {
  HWND window = OpenFor(1);
  ASSERT_NE(window, nullptr);
  const std::wstring target = WithoutTrailingBackslash(SimMachine::VolumeGuidPath(2));
  EXPECT_EQ(WindowText(window), L"Properties for " + target);
  std::vector<std::wstring> report;
  GetVolumeReport(machine, target, report);
  ASSERT_GT(report.size(), 1u);
  EXPECT_EQ(WindowText(MemoOf(window)), Joined(report));
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(GetFocus(), MemoOf(window)) << "the window has the keyboard focus, in its memo";
}

TEST_F(PropertiesWindowTest, HasTheLayoutOfAToolWindow) {
  HWND window = OpenFor(0);
  ASSERT_NE(window, nullptr);
  const UINT dpi = GetDpiForWindow(window);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  EXPECT_NE(ex_style & WS_EX_TOOLWINDOW, 0u);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0u);
  EXPECT_NE(style & WS_CAPTION, 0u);
  EXPECT_EQ(GetWindow(window, GW_OWNER), main());
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);

  const RECT client = ClientRectOf(window);
  EXPECT_EQ(client.right, ScaleProperties(kWidth, dpi));
  EXPECT_EQ(client.bottom, ScaleProperties(kHeight, dpi));

  RECT outer{};
  GetWindowRect(window, &outer);
  const int screen_width = GetSystemMetrics(SM_CXSCREEN),
            screen_height = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_LE(std::abs(outer.left + outer.right - screen_width), 1) << "centred";
  EXPECT_LE(std::abs(outer.top + outer.bottom - screen_height), 1) << "centred";

  HWND group = GroupBoxOf(window);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(GetWindowLongPtrW(group, GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);
  EXPECT_EQ(WindowText(group), L"");
  const RECT group_rect = RectInParent(group);
  EXPECT_EQ(group_rect.left, 0);
  EXPECT_EQ(group_rect.top, 0);
  EXPECT_EQ(group_rect.right, client.right);
  EXPECT_EQ(group_rect.bottom, client.bottom);

  HWND memo = MemoOf(window);
  ASSERT_NE(memo, nullptr);
  const RECT memo_rect = RectInParent(memo);
  EXPECT_EQ(memo_rect.left, ScaleProperties(2, dpi));
  EXPECT_EQ(memo_rect.top, ScaleProperties(15, dpi));
  EXPECT_EQ(memo_rect.right - memo_rect.left, ScaleProperties(486, dpi));
  EXPECT_EQ(memo_rect.bottom - memo_rect.top, ScaleProperties(312, dpi));
  const auto memo_style = static_cast<DWORD>(GetWindowLongPtrW(memo, GWL_STYLE));
  EXPECT_EQ(memo_style & (ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL),
            DWORD{ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL});
  EXPECT_EQ(memo_style & (WS_HSCROLL | WS_VSCROLL | ES_AUTOHSCROLL), 0u) << "word-wrapped";

  for (HWND control : {memo, group}) {
    const LOGFONTW font = FontOf(control);
    EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");
    EXPECT_EQ(font.lfHeight, ScaleProperties(kFontHeight, dpi));
  }
}

TEST_F(PropertiesWindowTest, DpiChangeRescalesFontMemoAndWindow) {
  HWND window = OpenFor(0);
  ASSERT_NE(window, nullptr);
  const UINT new_dpi = GetDpiForWindow(window) * 5 / 4;
  RECT before{};
  GetWindowRect(window, &before);
  const RECT suggested{30, 40, 30 + MulDiv(before.right - before.left, 5, 4),
                       40 + MulDiv(before.bottom - before.top, 5, 4)};
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(new_dpi, new_dpi),
               reinterpret_cast<LPARAM>(&suggested));
  RECT after{};
  GetWindowRect(window, &after);
  EXPECT_EQ(after.left, suggested.left);
  EXPECT_EQ(after.top, suggested.top);
  EXPECT_EQ(after.right, suggested.right);
  EXPECT_EQ(after.bottom, suggested.bottom);
  HWND memo = MemoOf(window);
  const RECT memo_rect = RectInParent(memo);
  EXPECT_EQ(memo_rect.left, ScaleProperties(2, new_dpi));
  EXPECT_EQ(memo_rect.top, ScaleProperties(15, new_dpi));
  EXPECT_EQ(memo_rect.right - memo_rect.left, ScaleProperties(486, new_dpi));
  EXPECT_EQ(memo_rect.bottom - memo_rect.top, ScaleProperties(312, new_dpi));
  EXPECT_EQ(FontOf(memo).lfHeight, ScaleProperties(kFontHeight, new_dpi));
  EXPECT_EQ(FontOf(GroupBoxOf(window)).lfHeight, FontOf(memo).lfHeight);
  EXPECT_FALSE(WindowText(memo).empty()) << "the report stays";
}

TEST_F(PropertiesWindowTest, SeveralWindowsLiveAndCloseOnTheirOwn) {
  HWND first = OpenFor(0);
  HWND second = OpenFor(0);
  HWND third = OpenFor(2);
  ASSERT_TRUE(first && second && third);
  EXPECT_NE(first, second) << "the same row twice gives two windows";
  EXPECT_EQ(WindowText(first), WindowText(second));

  const int enumerations = Calls(SimMachine::Call::FindFirstVolume);
  const auto rows = Cells(list());
  SendMessageW(second, WM_CLOSE, 0, 0);
  Pump();
  EXPECT_FALSE(IsWindow(second));
  EXPECT_TRUE(IsWindow(first));
  EXPECT_TRUE(IsWindow(third));
  EXPECT_TRUE(IsWindowVisible(main()));
  EXPECT_EQ(Calls(SimMachine::Call::FindFirstVolume), enumerations) << "no refresh";
  EXPECT_EQ(Cells(list()), rows);

  SendMessageW(third, WM_CLOSE, 0, 0);
  EXPECT_EQ(ThreadWindows(L"Tfrmproperties").size(), 1u);
  // The one still open goes with the main window (TearDown checks none is left).
}

TEST_F(PropertiesWindowTest, KeysOfTheMemo) {
  HWND window = OpenFor(0);
  ASSERT_NE(window, nullptr);
  HWND memo = MemoOf(window);
  const std::wstring text = WindowText(memo);
  ASSERT_FALSE(text.empty());

  SendMessageW(memo, WM_CHAR, 0x01, 0);  // Ctrl+A
  DWORD start = 1, end = 0;
  SendMessageW(memo, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, text.size());

  ASSERT_TRUE(OpenClipboard(main()));
  EmptyClipboard();
  CloseClipboard();
  SendMessageW(memo, WM_CHAR, 0x03, 0);  // Ctrl+C
  ASSERT_TRUE(OpenClipboard(main()));
  std::wstring copied;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    copied = static_cast<const wchar_t*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  EXPECT_EQ(copied, text);
  EXPECT_EQ(WindowText(memo), text) << "read-only";

  SendMessageW(memo, WM_KEYDOWN, VK_ESCAPE, 0);
  Pump();
  EXPECT_FALSE(IsWindow(window)) << "Escape closes the window";
  EXPECT_TRUE(IsWindow(main()));
}

TEST_F(PropertiesWindowTest, SetLinesJoinsLinesWithLineBreaks) {
  Tfrmproperties* window = Tfrmproperties::Create(main(), L"direct");
  ASSERT_NE(window, nullptr);
  HWND handle = window->hwnd();
  EXPECT_FALSE(IsWindowVisible(handle)) << "created hidden";
  window->Show();
  EXPECT_TRUE(IsWindowVisible(handle));
  struct Case {
    std::vector<std::wstring> lines;
    std::wstring text;
  };
  const Case cases[] = {
      {{}, L""},
      {{L""}, L""},
      {{L"one"}, L"one"},
      {{L"one", L"", L"three"}, L"one\r\n\r\nthree"},
      {{L"", L""}, L"\r\n"},
  };
  for (const Case& c : cases) {
    window->SetLines(c.lines);
    EXPECT_EQ(WindowText(window->Memo1()), c.text);
  }
  DestroyWindow(handle);
  EXPECT_FALSE(IsWindow(handle));
}

TEST_F(PropertiesWindowTest, AWindowClosedBeforeItsReportArrivesIsLeftAlone) {
  PropertiesView& first = window->OpenProperties(L"first");
  PropertiesView& second = window->OpenProperties(L"second");
  const auto windows = ThreadWindows(L"Tfrmproperties");
  ASSERT_EQ(windows.size(), 2u);
  HWND closed = FindWindowW(L"Tfrmproperties", L"first");
  ASSERT_NE(closed, nullptr);
  SendMessageW(closed, WM_CLOSE, 0, 0);
  ASSERT_FALSE(IsWindow(closed));

  first.SetLines({L"too late"});  // must not reach the freed window
  second.SetLines({L"in time"});
  HWND open = FindWindowW(L"Tfrmproperties", L"second");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(WindowText(MemoOf(open)), L"in time");
  EXPECT_EQ(Tfrmproperties::FromHandle(main()), nullptr) << "not a properties window";
  EXPECT_EQ(Tfrmproperties::FromHandle(closed), nullptr);
}

}  // namespace
}  // namespace vol::ui_test
