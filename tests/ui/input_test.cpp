// How the user reaches the commands: the context menu (mouse and keyboard), the keys
// of the list, the double-click, and the modal input box.
#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

#include <optional>
#include <string>

#include "devices/text_forms.h"
#include "tests/ui/ui_support.h"
#include "ui/inputbox_win.h"

namespace vol::ui_test {
namespace {

using Call = SimMachine::Call;

// ---------------------------------------------------------------- context menu

// Where the popup menu opens when msg is sent to target; the menu is closed again.
std::optional<POINT> MenuPositionAfter(HWND target, UINT msg, WPARAM wparam, LPARAM lparam) {
  std::optional<POINT> at;
  ModalDriver driver([&] {
    const auto menus = ThreadWindows(L"#32768");
    for (HWND menu : menus) {
      if (!IsWindowVisible(menu)) continue;
      RECT rect{};
      GetWindowRect(menu, &rect);
      at = POINT{rect.left, rect.top};
      EndMenu();
      return true;
    }
    return false;
  });
  SendMessageW(target, msg, wparam, lparam);
  Pump();
  EXPECT_FALSE(driver.timed_out());
  return at;
}

POINT SelectedRowMenuPoint(HWND list, int row) {
  RECT bounds{};
  bounds.left = LVIR_BOUNDS;
  SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
  POINT at{std::max(0L, static_cast<long>(bounds.left)), bounds.bottom};
  ClientToScreen(list, &at);
  return at;
}

TEST_F(MainWindowTest, ContextMenuOpensAtTheMouse) {
  const auto at = MenuPositionAfter(main(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list()),
                                    MAKELPARAM(300, 400));
  ASSERT_TRUE(at.has_value());
  EXPECT_EQ(at->x, 300);
  EXPECT_EQ(at->y, 400);
}

TEST_F(MainWindowTest, ContextMenuFromTheKeyboardOpensAtTheSelectedRowOrTheListCorner) {
  POINT corner{0, 0};
  ClientToScreen(list(), &corner);
  auto at = MenuPositionAfter(main(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list()), -1);
  ASSERT_TRUE(at.has_value());
  EXPECT_EQ(at->x, corner.x);
  EXPECT_EQ(at->y, corner.y);

  SelectRow(list(), 2);
  const POINT row = SelectedRowMenuPoint(list(), 2);
  // -1 as the system sends it, and as its 32 bits alone (zero-extended on 64-bit).
  for (LPARAM keyboard : {LPARAM{-1}, static_cast<LPARAM>(0xFFFFFFFFu)}) {
    SCOPED_TRACE(keyboard);
    at = MenuPositionAfter(main(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list()), keyboard);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->x, row.x);
    EXPECT_EQ(at->y, row.y);
  }
}

TEST_F(MainWindowTest, ContextMenuKeysOpenTheMenuAtTheSelectedRow) {
  SelectRow(list(), 1);
  const POINT row = SelectedRowMenuPoint(list(), 1);
  {
    SCOPED_TRACE("context-menu key");
    const auto at = MenuPositionAfter(list(), WM_KEYDOWN, VK_APPS, 0);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->x, row.x);
    EXPECT_EQ(at->y, row.y);
    SendMessageW(list(), WM_KEYUP, VK_APPS, 0);
  }
  {
    SCOPED_TRACE("Shift+F10");
    HeldKeys shift({VK_SHIFT});
    const auto at = MenuPositionAfter(list(), WM_SYSKEYDOWN, VK_F10, 0);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->x, row.x);
    EXPECT_EQ(at->y, row.y);
  }
  {
    SCOPED_TRACE("F10 alone is no menu key");
    const auto at = MenuPositionAfter(list(), WM_KEYDOWN, VK_F10, 0);
    EXPECT_FALSE(at.has_value());
  }
}

TEST_F(MainWindowTest, ChoosingAMenuItemRunsItsCommand) {
  SelectRow(list(), 0);
  // The copy item is the full edition's 7th and the reduced one's 5th; the keys skip separators.
  const int downs = edition::kFull ? 7 : 5;
  ModalDriver driver([&] {
    const auto menus = ThreadWindows(L"#32768");
    if (menus.empty() || !IsWindowVisible(menus.front())) return false;
    for (int i = 0; i < downs; ++i) PostMessageW(menus.front(), WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menus.front(), WM_KEYDOWN, VK_RETURN, 0);
    return true;
  });
  SendMessageW(main(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list()), -1);
  Pump();
  ASSERT_TRUE(driver.done());
  ASSERT_TRUE(machine.clipboard().has_value());
  EXPECT_EQ(machine.clipboard()->text, SimMachine::VolumeGuidPath(1));
  EXPECT_EQ(machine.clipboard()->form, edition::kClipboardForm);
}

// ---------------------------------------------------------------- keys of the list

TEST_F(MainWindowTest, F5Refreshes) {
  AddDiskVolume(5, 2, 1, {L"G:\\"});
  SendMessageW(list(), WM_KEYDOWN, VK_F5, 0);
  Pump();
  EXPECT_NE(FindRow(list(), SimMachine::VolumeGuidPath(5)), -1);
  {
    SCOPED_TRACE("Ctrl+F5 is not F5");
    HeldKeys control({VK_CONTROL});
    AddDiskVolume(7, 2, 2, {L"H:\\"});
    SendMessageW(list(), WM_KEYDOWN, VK_F5, 0);
    Pump();
    EXPECT_EQ(FindRow(list(), SimMachine::VolumeGuidPath(7)), -1);
  }
}

TEST_F(MainWindowTest, CtrlCCopiesTheSelectedVolumeName) {
  {
    SCOPED_TRACE("no row selected: nothing is copied");
    HeldKeys control({VK_CONTROL});
    SendMessageW(list(), WM_KEYDOWN, 'C', 0);
    Pump();
    EXPECT_FALSE(machine.clipboard().has_value());
  }
  SelectRow(list(), 1);
  {
    SCOPED_TRACE("C alone");
    SendMessageW(list(), WM_KEYDOWN, 'C', 0);
    Pump();
    EXPECT_FALSE(machine.clipboard().has_value());
  }
  HeldKeys control({VK_CONTROL});
  SendMessageW(list(), WM_KEYDOWN, 'C', 0);
  Pump();
  ASSERT_TRUE(machine.clipboard().has_value());
  EXPECT_EQ(machine.clipboard()->text, SimMachine::VolumeGuidPath(2));
}

TEST_F(MainWindowTest, EnterAndDoubleClickOpenTheInformationWindow) {
  SelectRow(list(), 0);
  SendMessageW(list(), WM_KEYDOWN, VK_RETURN, 0);
  Pump();
  auto windows = ThreadWindows(L"Tfrmproperties");
  ASSERT_EQ(windows.size(), 1u);
  const std::wstring expected =
      L"Properties for " + WithoutTrailingBackslash(SimMachine::VolumeGuidPath(1));
  EXPECT_EQ(WindowText(windows[0]), expected);
  DestroyWindow(windows[0]);

  SelectRow(list(), 2);
  RECT bounds{};
  bounds.left = LVIR_LABEL;
  SendMessageW(list(), LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&bounds));
  SendMessageW(list(), WM_LBUTTONDBLCLK, MK_LBUTTON,
               MAKELPARAM(bounds.left + 5, (bounds.top + bounds.bottom) / 2));
  Pump();
  windows = ThreadWindows(L"Tfrmproperties");
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(WindowText(windows[0]),
            L"Properties for " + WithoutTrailingBackslash(SimMachine::VolumeGuidPath(3)));
  EXPECT_TRUE(machine.messages().empty());
}

TEST_F(MainWindowTest, DoubleClickWithoutASelectedRowSaysPickAVolume) {
  const RECT client = ClientRectOf(list());
  SendMessageW(list(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, client.bottom - 5));
  Pump();
  EXPECT_TRUE(ThreadWindows(L"Tfrmproperties").empty());
  ASSERT_EQ(machine.messages().size(), 1u);
  EXPECT_EQ(machine.messages()[0].text, L"pick a volume");
  EXPECT_TRUE(machine.messages()[0].plain_dialog);
}

// ---------------------------------------------------------------- the input box

struct SeenBox {
  std::wstring caption, prompt, text;
  DWORD selection_start = 1, selection_end = 0;
  bool field_has_focus = false;
  bool owner_disabled = false;
};

// Shows the box through the window's FormView and acts on it once it is up.
std::optional<std::wstring> RunInputBox(MainWindow& window, const std::wstring& caption,
                                        const std::wstring& prompt, const std::wstring& text,
                                        const std::function<void(HWND box)>& act, SeenBox& seen) {
  ModalDriver driver([&] {
    const auto boxes = ThreadWindows(L"#32770");
    if (boxes.empty()) return false;
    HWND box = boxes.front();
    HWND field = GetDlgItem(box, kInputBoxEditId);
    seen.caption = WindowText(box);
    seen.prompt = WindowText(GetDlgItem(box, kInputBoxPromptId));
    seen.text = WindowText(field);
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&seen.selection_start),
                 reinterpret_cast<LPARAM>(&seen.selection_end));
    seen.field_has_focus = GetFocus() == field;
    seen.owner_disabled = !IsWindowEnabled(window.hwnd());
    act(box);
    return true;
  });
  std::optional<std::wstring> answer = window.InputBox(caption, prompt, text);
  EXPECT_TRUE(driver.done());
  EXPECT_TRUE(ThreadWindows(L"#32770").empty()) << "the box is gone";
  EXPECT_TRUE(IsWindowEnabled(window.hwnd())) << "the owner is usable again";
  return answer;
}

void Key(HWND box, WPARAM key) {
  HWND field = GetDlgItem(box, kInputBoxEditId);
  PostMessageW(field, WM_KEYDOWN, key, 0);
  PostMessageW(field, WM_KEYUP, key, 0xC0000000);
}

TEST_F(MainWindowTest, InputBoxShowsCaptionPromptAndSelectedDefaultText) {
  SeenBox seen;
  const auto answer = RunInputBox(
      *window, L"Lindquay", L"Enter Path : x:\\, c:\\mount\\", L"x:\\",
      [](HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }, seen);
  EXPECT_EQ(seen.caption, L"Lindquay");
  EXPECT_EQ(seen.prompt, L"Enter Path : x:\\, c:\\mount\\");
  EXPECT_EQ(seen.text, L"x:\\");
  EXPECT_EQ(seen.selection_start, 0u);
  EXPECT_EQ(seen.selection_end, 3u) << "the whole default text is selected";
  EXPECT_TRUE(seen.field_has_focus);
  EXPECT_TRUE(seen.owner_disabled) << "modal";
  EXPECT_EQ(answer, std::optional<std::wstring>(L"x:\\"));
}

TEST_F(MainWindowTest, InputBoxAnswersByHowItWasClosed) {
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
    std::optional<std::wstring> answer;
  };
  const auto type = [](const wchar_t* text) {
    return [text](HWND box) { SetDlgItemTextW(box, kInputBoxEditId, text); };
  };
  const Case cases[] = {
      {"OK button", [](HWND box) { SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0); }, L"x:"},
      {"typed text and Enter",
       [&](HWND box) {
         type(L"c:\\mount\\")(box);
         Key(box, VK_RETURN);
       },
       L"c:\\mount\\"},
      {"cleared field and OK",
       [&](HWND box) {
         type(L"")(box);
         SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
       },
       L""},
      {"Cancel button",
       [&](HWND box) {
         type(L"typed")(box);
         SendMessageW(GetDlgItem(box, IDCANCEL), BM_CLICK, 0, 0);
       },
       std::nullopt},
      {"Escape", [](HWND box) { Key(box, VK_ESCAPE); }, std::nullopt},
      {"closed", [](HWND box) { PostMessageW(box, WM_CLOSE, 0, 0); }, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SeenBox seen;
    EXPECT_EQ(RunInputBox(*window, L"Lindquay", L"Enter Path : x:", L"x:", c.act, seen), c.answer);
  }
}

TEST_F(MainWindowTest, InputBoxShowsTextsAsTheyAre) {
  SeenBox seen;
  const std::wstring prompt = L"a & b && c";  // no mnemonic underlines eaten
  const std::wstring text(300, L'w');
  const auto answer = RunInputBox(
      *window, L"caption", prompt, text, [](HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); },
      seen);
  EXPECT_EQ(seen.prompt, prompt);
  EXPECT_EQ(seen.text, text);
  EXPECT_EQ(answer, std::optional<std::wstring>(text));
}

TEST_F(MainWindowTest, MountAtPathTakesThePathFromTheInputBox) {
  machine.AddFolder(L"C:\\mnt3\\");
  SelectRow(list(), 2);  // volume 3, not mounted
  ModalDriver driver([&] {
    const auto boxes = ThreadWindows(L"#32770");
    if (boxes.empty()) return false;
    SetDlgItemTextW(boxes.front(), kInputBoxEditId, L"C:\\mnt3\\");
    Key(boxes.front(), VK_RETURN);
    return true;
  });
  Choose(Command::Mount2);
  ASSERT_TRUE(driver.done());
  const auto mounts = machine.MountPaths(SimMachine::VolumeGuidPath(3));
  ASSERT_EQ(mounts.size(), 1u);
  EXPECT_EQ(mounts[0], L"C:\\mnt3\\");
  EXPECT_TRUE(machine.messages().empty());
  const int row = FindRow(list(), SimMachine::VolumeGuidPath(3));
  ASSERT_NE(row, -1);
  EXPECT_EQ(Cells(list())[static_cast<std::size_t>(row)][1], L"C:\\mnt3\\") << "refreshed";
  EXPECT_EQ(SelectedIndex(list()), -1);
}

}  // namespace
}  // namespace vol::ui_test
