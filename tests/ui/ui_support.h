// What the UI tests share: reading the real controls back through their messages,
// pumping messages, driving modal loops from a timer, and a main window with a
// simulated machine behind it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/sim/sim_machine.h"
#include "ui/Ufrmvolume_win.h"
#include "ui/edition.h"

namespace vol::ui_test {

void InitControls();
// Dispatches every message waiting for this thread.
void Pump();

std::wstring WindowText(HWND window);
std::wstring ClassOf(HWND window);
LOGFONTW FontOf(HWND control);
RECT ClientRectOf(HWND window);
// A child's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child);
// Top-level windows of this thread with the given class.
std::vector<HWND> ThreadWindows(const wchar_t* class_name);

// --- the list view, read through its own messages ---
struct ColumnInfo {
  std::wstring caption;
  int width;
};
std::vector<ColumnInfo> Columns(HWND list);
// Every row: the caption first, then every sub-item.
std::vector<std::vector<std::wstring>> Cells(HWND list);
int SelectedIndex(HWND list);
void SelectRow(HWND list, int index);
// The row with this caption, or -1.
int FindRow(HWND list, const std::wstring& caption);

std::wstring StatusText(HWND status_bar);

// --- the context menu ---
struct MenuEntry {
  bool separator;
  UINT id;
  std::wstring caption;
  bool checked;
};
std::vector<MenuEntry> MenuEntries(HMENU menu);

// Holds keys down in this thread's keyboard state (what GetKeyState reads) while alive.
class HeldKeys {
 public:
  explicit HeldKeys(std::initializer_list<int> keys);
  ~HeldKeys();
  HeldKeys(const HeldKeys&) = delete;
  HeldKeys& operator=(const HeldKeys&) = delete;

 private:
  BYTE saved_[256];
};

// Acts on a window shown by a modal loop of this thread (a dialog box, a popup menu):
// poll runs on every tick of a thread timer until it answers true. If it has not after
// `limit` ticks, every dialog and menu of the thread is cancelled, so that a test fails
// instead of hanging.
class ModalDriver {
 public:
  explicit ModalDriver(std::function<bool()> poll, int limit = 300);
  ~ModalDriver();
  ModalDriver(const ModalDriver&) = delete;
  ModalDriver& operator=(const ModalDriver&) = delete;

  bool done() const { return done_; }
  bool timed_out() const { return timed_out_; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  void Stop();

  std::function<bool()> poll_;
  int ticks_left_;
  UINT_PTR timer_ = 0;
  bool done_ = false;
  bool timed_out_ = false;
  static ModalDriver* current_;
};

std::wstring HddName(int n);

// A main window on a simulated machine with three listed volumes, the third without a
// letter or a readable file system (and a CD-ROM volume that the list leaves out),
// created and shown in SetUp.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A hard-disk volume n on disk `disk`, partition `part`, mounted at `mounts` in order.
  SimDevice& AddDiskVolume(int n, uint32_t disk, uint32_t part,
                           const std::vector<std::wstring>& mounts);
  // Creates and shows the window (runs FormShow).
  void Start();
  // Runs a context-menu command the way the menu does: WM_COMMAND with the item's id.
  void Choose(Command command);
  int Calls(SimMachine::Call call) const { return machine.CountCalls(call); }

  HWND main() const { return window->hwnd(); }
  HWND list() const { return window->lvvolumes(); }
  HWND status() const { return window->StatusBar1(); }
  UINT dpi() const { return GetDpiForWindow(main()); }

  SimMachine machine;
  std::unique_ptr<MainWindow> window;
};

}  // namespace vol::ui_test
