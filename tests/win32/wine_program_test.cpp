// The real program: started as a user starts it, read from outside through its
// controls' own messages, told of volumes arriving and going by the system's
// broadcast, and closed again.
#include <windows.h>
// The common-control and device-broadcast headers build on windows.h.
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/handles_win.h"
#include "tests/win32/wine_support.h"
#include "ui/edition.h"

namespace vol::test {
namespace {

// Generous: where 32-bit code is emulated, the 32-bit program takes seconds to start.
constexpr DWORD kStartLimitMs = 120000;
constexpr DWORD kCloseLimitMs = 15000;

bool Is32BitProcess(HANDLE process) {
  BOOL wow64 = FALSE;
  ::IsWow64Process(process, &wow64);
  return sizeof(void*) == 4 || wow64;
}

// Where 32-bit programs started from here are emulated, the emulator keeps each one's
// memory at this offset in its host process (the wineserver reads and writes there);
// natively, and for 64-bit programs, there is none.
uint64_t EmulatedGuestBase() {
  wchar_t text[32] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"QEMU_GUEST_BASE", text, 32);
  return length > 0 && length < 32 ? std::wcstoull(text, nullptr, 0) : 0;
}

// Memory inside another process, freed with the object. Its addresses are the target's
// own, as messages and records carry them; only reading and writing it from here adds
// the guest base of an emulated target.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, std::size_t size, uint64_t guest_base)
      : process_(process),
        guest_base_(guest_base),
        at_(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
  ~RemoteBuffer() {
    if (at_) ::VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool ok() const { return at_ != nullptr; }
  uintptr_t at(std::size_t offset = 0) const { return reinterpret_cast<uintptr_t>(at_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t size) const {
    return ::WriteProcessMemory(process_, Host(offset), data, size, nullptr) != FALSE;
  }
  bool Read(std::size_t offset, void* data, std::size_t size) const {
    return ::ReadProcessMemory(process_, Host(offset), data, size, nullptr) != FALSE;
  }

 private:
  void* Host(std::size_t offset) const { return reinterpret_cast<void*>(at(offset) + guest_base_); }

  HANDLE process_;
  uint64_t guest_base_;
  void* at_;
};

// LVITEMW as a 32-bit list reads it, up to the fields these requests use.
struct ListItem32 {
  uint32_t mask;
  int32_t iItem, iSubItem;
  uint32_t state, stateMask;
  uint32_t pszText;
  int32_t cchTextMax;
};

// The item record of a request, in the list's own layout: a 32-bit list read from a
// 64-bit test gets the 32-bit record.
class ListItemRecord {
 public:
  ListItemRecord(bool layout32, int sub_item, uintptr_t text, int text_max, UINT state) {
    if (layout32) {
      ListItem32 item{};
      item.iSubItem = sub_item;
      item.state = item.stateMask = state;
      item.pszText = static_cast<uint32_t>(text);
      item.cchTextMax = text_max;
      std::memcpy(bytes_, &item, size_ = sizeof item);
    } else {
      LVITEMW item{};
      item.iSubItem = sub_item;
      item.state = item.stateMask = state;
      item.pszText = reinterpret_cast<wchar_t*>(text);
      item.cchTextMax = text_max;
      std::memcpy(bytes_, &item, size_ = sizeof item);
    }
  }
  static constexpr std::size_t kSpace = sizeof(LVITEMW);  // room for either layout
  const void* data() const { return bytes_; }
  std::size_t size() const { return size_; }

 private:
  alignas(LVITEMW) unsigned char bytes_[kSpace];
  std::size_t size_ = 0;
};

// volumes.exe, started by the test and ended on every path.
class RunningProgram {
 public:
  explicit RunningProgram(const std::wstring& path) {
    std::wstring command = L"\"" + path + L"\"";
    const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &process_)) {
      process_ = {};
      start_error_ = ::GetLastError();
      return;
    }
    layout32_ = sizeof(void*) == 8 && Is32BitProcess(process_.hProcess);
  }
  ~RunningProgram() {
    if (process_.hProcess == nullptr) return;
    if (Running()) {
      if (window_) ::PostMessageW(window_, WM_CLOSE, 0, 0);
      if (::WaitForSingleObject(process_.hProcess, kCloseLimitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process_.hProcess, 1);
        ::WaitForSingleObject(process_.hProcess, kCloseLimitMs);
      }
    }
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool started() const { return process_.hProcess != nullptr; }
  DWORD start_error() const { return start_error_; }
  HANDLE process() const { return process_.hProcess; }
  bool Running() const { return ::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

  // Waits until the main window shows its first list; false when it never does.
  bool WaitForList() {
    for (DWORD waited = 0; waited < kStartLimitMs && Running(); waited += 50) {
      window_ = FindMainWindow();
      if (window_ && ::IsWindowVisible(window_)) {
        list_ = ::FindWindowExW(window_, nullptr, WC_LISTVIEWW, nullptr);
        status_ = ::FindWindowExW(window_, nullptr, STATUSCLASSNAMEW, nullptr);
        if (list_ && status_ && ::SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0) > 0) return true;
      }
      ::Sleep(50);
    }
    return false;
  }

  HWND window() const { return window_; }
  HWND list() const { return list_; }

  std::wstring Title() const {
    wchar_t title[512] = {};
    ::GetWindowTextW(window_, title, 512);
    return title;
  }

  // Every row of the list: the caption, then each sub-item.
  std::vector<std::vector<std::wstring>> Rows() const {
    constexpr std::size_t kChars = 1024;
    std::vector<std::vector<std::wstring>> rows;
    const HWND header = reinterpret_cast<HWND>(::SendMessageW(list_, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    const int count = static_cast<int>(::SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
    const RemoteBuffer remote = Remote(ListItemRecord::kSpace + kChars * sizeof(wchar_t));
    EXPECT_TRUE(remote.ok()) << "error " << ::GetLastError();
    if (!remote.ok()) return rows;
    for (int item = 0; item < count; ++item) {
      std::vector<std::wstring>& row = rows.emplace_back();
      for (int column = 0; column < columns; ++column) {
        // The record points at text space beside it in the list's own process.
        const ListItemRecord request(layout32_, column, remote.at(ListItemRecord::kSpace),
                                     static_cast<int>(kChars), 0);
        wchar_t text[kChars] = {};
        const bool written = remote.Write(0, request.data(), request.size());
        const auto length = ::SendMessageW(list_, LVM_GETITEMTEXTW, item, remote.at());
        const bool read = remote.Read(ListItemRecord::kSpace, text, sizeof text);
        EXPECT_TRUE(written && read) << "error " << ::GetLastError();
        row.emplace_back(text, std::min<std::size_t>(static_cast<std::size_t>(length), kChars - 1));
      }
    }
    return rows;
  }

  // The simple text. Windows answers it for SB_SIMPLEID; Wine's status bar answers
  // nothing there and gives it for part 0 instead.
  std::wstring StatusText() const {
    std::wstring text = PartText(SB_SIMPLEID);
    return text.empty() ? PartText(0) : text;
  }

  void SelectRow(int item) const {
    const RemoteBuffer remote = Remote(ListItemRecord::kSpace);
    const ListItemRecord state(layout32_, 0, 0, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ASSERT_TRUE(remote.ok() && remote.Write(0, state.data(), state.size()));
    ::SendMessageW(list_, LVM_SETITEMSTATE, item, remote.at());
  }
  int SelectedRow() const {
    return static_cast<int>(::SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                           MAKELPARAM(LVNI_SELECTED, 0)));
  }

  // WM_CLOSE, then the program must end by itself; its exit code.
  bool Close(DWORD& exit_code) {
    ::PostMessageW(window_, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process_.hProcess, kCloseLimitMs) != WAIT_OBJECT_0) return false;
    return ::GetExitCodeProcess(process_.hProcess, &exit_code) != FALSE;
  }

 private:
  std::wstring PartText(WPARAM part) const {
    const auto length = LOWORD(::SendMessageW(status_, SB_GETTEXTLENGTHW, part, 0));
    if (length == 0) return {};
    const std::size_t bytes = (std::size_t{length} + 1) * sizeof(wchar_t);
    const RemoteBuffer remote = Remote(bytes);
    EXPECT_TRUE(remote.ok());
    if (!remote.ok()) return {};
    std::wstring text(std::size_t{length} + 1, L'\0');
    ::SendMessageW(status_, SB_GETTEXTW, part, remote.at());
    EXPECT_TRUE(remote.Read(0, text.data(), bytes));
    text.resize(length);
    return text;
  }

  RemoteBuffer Remote(std::size_t size) const {
    return RemoteBuffer(process_.hProcess, size, layout32_ ? EmulatedGuestBase() : 0);
  }

  HWND FindMainWindow() const {
    for (HWND window = ::FindWindowExW(nullptr, nullptr, L"Tfrmvolumes", nullptr); window;
         window = ::FindWindowExW(nullptr, window, L"Tfrmvolumes", nullptr)) {
      DWORD owner = 0;
      ::GetWindowThreadProcessId(window, &owner);
      if (owner == process_.dwProcessId) return window;
    }
    return nullptr;
  }

  PROCESS_INFORMATION process_{};
  bool layout32_ = false;  // a 32-bit program read from this 64-bit one
  DWORD start_error_ = 0;
  HWND window_ = nullptr;
  HWND list_ = nullptr;
  HWND status_ = nullptr;
};

// Sends WM_DEVICECHANGE to every top-level window as the system does: synchronously,
// with the record copied into each receiving process.
// record: a DEV_BROADCAST_* record, which begins with a DEV_BROADCAST_HDR.
long Broadcast(WPARAM event, const void* record) {
  DWORD recipients = BSM_APPLICATIONS;
  return ::BroadcastSystemMessageW(BSF_QUERY, &recipients, WM_DEVICECHANGE, event,
                                   reinterpret_cast<LPARAM>(record));
}

DEV_BROADCAST_VOLUME VolumeRecord(wchar_t letter) {
  DEV_BROADCAST_VOLUME record{};
  record.dbcv_size = sizeof record;
  record.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  record.dbcv_unitmask = 1u << (letter - L'A');
  return record;
}

std::wstring Today() {
  wchar_t date[128] = {};
  ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128);
  return date;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class WineProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ProgramPath();
    if (::GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
      GTEST_SKIP() << "no volumes.exe beside the tests (build the target volumes)";
    }
    // Wine shows windows on an X display; Windows always has its desktop.
    wchar_t display[256] = {};
    if (UnderWine() && ::GetEnvironmentVariableW(L"DISPLAY", display, 256) == 0) {
      GTEST_SKIP() << "no X display for Wine (set DISPLAY, e.g. to an Xvfb server)";
    }
    if (sizeof(void*) == 4 && EmulatedGuestBase() != 0) {
      GTEST_SKIP() << "under emulation a 32-bit program cannot read another one's memory; "
                      "the 64-bit full edition's suite program32 reads this volumes.exe";
    }
  }

  // One row per volume of the system: caption and PathName as the system lists them (a
  // volume without a mount path, such as Windows' EFI or recovery volume, has an empty one).
  void ExpectVolumeRows(const std::vector<std::vector<std::wstring>>& rows) {
    const std::vector<ListedVolume> system = VolumesOfTheSystem(platform_);
    ASSERT_EQ(rows.size(), system.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(platform_.ToAnsi(system[i].name));
      ASSERT_EQ(rows[i].size(), edition::kFull ? 7u : 5u);
      EXPECT_EQ(rows[i][0], system[i].name);
      EXPECT_EQ(rows[i][1 + kSubPathName],
                system[i].paths.empty() ? std::wstring() : system[i].paths.front());
      EXPECT_EQ(rows[i][1 + kSubDosDevice], system[i].nt_device);
      EXPECT_TRUE(IsDecimalText(rows[i][1 + kSubDiskNumber]));
      EXPECT_TRUE(IsDecimalText(rows[i][1 + kSubPartitionNumber]));
    }
  }

  std::wstring path_;
  RecordingPlatform platform_;
};

TEST_F(WineProgram, ListsTheVolumesAndFollowsArrivalAndRemoval) {
  RunningProgram program(path_);
  ASSERT_TRUE(program.started()) << "error " << program.start_error();
  ASSERT_TRUE(program.WaitForList()) << "no main window with a filled list";

  EXPECT_EQ(program.Title(), L"Karrowin 0.3 by " VOLUMES_CONTACT);
  const std::vector<std::vector<std::wstring>> rows = program.Rows();
  ExpectVolumeRows(rows);
  EXPECT_EQ(program.StatusText(), L"");

  struct Step {
    WPARAM event;
    const wchar_t* words;
  };
  const Step steps[] = {{DBT_DEVICEARRIVAL, L" : device inserted E:"},
                        {DBT_DEVICEREMOVECOMPLETE, L" : device removed E:"}};
  for (const Step& step : steps) {
    SCOPED_TRACE(platform_.ToAnsi(step.words));
    program.SelectRow(0);
    ASSERT_EQ(program.SelectedRow(), 0);
    const std::wstring day_before = Today();
    const DEV_BROADCAST_VOLUME record = VolumeRecord(L'E');
    const long answer = Broadcast(step.event, &record);
    EXPECT_GT(answer, 0) << "error " << ::GetLastError();
    const std::wstring day_after = Today();

    const std::wstring status = program.StatusText();
    EXPECT_TRUE(EndsWith(status, step.words)) << platform_.ToAnsi(status);
    EXPECT_TRUE(status.rfind(day_before + L" ", 0) == 0 || status.rfind(day_after + L" ", 0) == 0)
        << platform_.ToAnsi(status) << " does not begin with today's date";
    // Rebuilt: no row selected any more, and the same rows, as the announcement changed
    // no volume.
    EXPECT_EQ(program.SelectedRow(), -1);
    EXPECT_EQ(program.Rows(), rows);
  }

  // Announcements the program does not follow: another device type, a query, and an
  // event without a record. The status line and the selection stay.
  const std::wstring status = program.StatusText();
  program.SelectRow(0);
  DEV_BROADCAST_PORT_W port{};
  port.dbcp_size = sizeof port;
  port.dbcp_devicetype = DBT_DEVTYP_PORT;
  port.dbcp_name[0] = L'X';
  Broadcast(DBT_DEVICEARRIVAL, &port);
  const DEV_BROADCAST_VOLUME volume = VolumeRecord(L'F');
  Broadcast(DBT_DEVICEQUERYREMOVE, &volume);
  DWORD recipients = BSM_APPLICATIONS;
  ::BroadcastSystemMessageW(BSF_QUERY, &recipients, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  EXPECT_EQ(program.StatusText(), status);
  EXPECT_EQ(program.SelectedRow(), 0);

  DWORD exit_code = 0xdeadbeef;
  ASSERT_TRUE(program.Close(exit_code)) << "the program did not end after WM_CLOSE";
  EXPECT_EQ(exit_code, 0u);
}

// ------------------------------------------------------------------ uncaught errors

constexpr DWORD kPatienceMs = 60000;
constexpr wchar_t kHeadline[] = L"An error occurred in the application.";

std::wstring ProgramFolder(const std::wstring& program) {
  return program.substr(0, program.find_last_of(L"\\/") + 1);
}

// An environment variable of this process, and so of the programs it starts, while
// the object lives.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, old, 1024);
    had_ = length > 0 && length < 1024;
    old_.assign(old, had_ ? length : 0);
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
  std::wstring old_;
  bool had_ = false;
};

// A window's text through WM_GETTEXT, which crosses processes (an edit control keeps
// its text where GetWindowText of another process does not look).
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                        SMTO_NORMAL, 5000, &copied);
  text.resize(std::min<std::size_t>(copied, length));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

struct DialogSearch {
  DWORD process;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<DialogSearch*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search.process && ::IsWindowVisible(window) && ClassOf(window) == L"#32770") {
    search.found.push_back(window);
  }
  return TRUE;
}

// The visible dialogs (message boxes among them) of a process.
std::vector<HWND> DialogsOf(DWORD process) {
  DialogSearch search{process, {}};
  ::EnumWindows(&CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The texts of a dialog's children of one class, in their order.
std::vector<std::wstring> ChildTexts(HWND dialog, const wchar_t* class_name) {
  std::vector<std::wstring> texts;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (_wcsicmp(ClassOf(child).c_str(), class_name) == 0) texts.push_back(TextOf(child));
  }
  return texts;
}

// Polls until accept picks a dialog of the process; null when none came.
template <typename Accept>
HWND WaitForDialog(DWORD process, Accept accept) {
  for (DWORD waited = 0; waited < kPatienceMs; waited += 50) {
    for (HWND dialog : DialogsOf(process)) {
      if (accept(dialog)) return dialog;
    }
    ::Sleep(50);
  }
  return nullptr;
}

// The exception box of the full edition, the error dialog of the reduced one.
bool IsErrorBox(HWND dialog) {
  if (edition::kFull) {
    for (const auto& text : ChildTexts(dialog, L"Static")) {
      if (text.rfind(kHeadline, 0) == 0) return true;
    }
    return false;
  }
  return TextOf(dialog) == L"volumes" && ChildTexts(dialog, L"Button").size() == 1;
}

// The error's message as the box shows it.
std::wstring ErrorMessage(HWND box) {
  const std::wstring start = edition::kFull ? std::wstring(kHeadline) + L"\r\n" : L"";
  for (const auto& text : ChildTexts(box, L"Static")) {
    if (!text.empty() && text.rfind(start, 0) == 0) return text.substr(start.size());
  }
  return {};
}

// Presses the button captioned text; false when there is none. wait_ms: sends the
// click and waits up to that long for its handler to return (false when it did not).
bool Press(HWND dialog, const std::wstring& text, UINT wait_ms = 0) {
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) != L"Button" || TextOf(child) != text) continue;
    const WPARAM click = MAKEWPARAM(::GetDlgCtrlID(child), BN_CLICKED);
    const auto button = reinterpret_cast<LPARAM>(child);
    if (wait_ms == 0) return ::PostMessageW(dialog, WM_COMMAND, click, button) != FALSE;
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(dialog, WM_COMMAND, click, button, SMTO_NORMAL, wait_ms,
                                 &result) != 0;
  }
  return false;
}

bool PressContinue(HWND box) {
  return Press(box, edition::kFull ? L"continue application" : L"OK");
}

// Closed, or hidden: the program keeps its boxes, hidden, for the next error.
bool WaitUntilGone(HWND window) {
  for (DWORD waited = 0; waited < kPatienceMs && ::IsWindowVisible(window); waited += 50) {
    ::Sleep(50);
  }
  return !::IsWindowVisible(window);
}

// A thread that the program did not start, begun where no code is: its first
// instruction faults.
UniqueKernelHandle StartFaultingThread(HANDLE process, DWORD& id) {
  const auto no_code = reinterpret_cast<LPTHREAD_START_ROUTINE>(uintptr_t{0x10});
  return UniqueKernelHandle(::CreateRemoteThread(process, nullptr, 0, no_code, nullptr, 0, &id));
}

// Where 32-bit code is emulated, a fault reaches Wine without its trap number, and a
// thread that raises an error may resume with another thread's selectors.
bool FaultsAreEmulated(HANDLE process) {
  return Is32BitProcess(process) && EmulatedGuestBase() != 0;
}

TEST_F(WineProgram, ErrorOnAThreadItDidNotStartIsReportedAndOnlyThatThreadStops) {
  RunningProgram program(path_);
  ASSERT_TRUE(program.started()) << "error " << program.start_error();
  ASSERT_TRUE(program.WaitForList()) << "no main window with a filled list";
  if (FaultsAreEmulated(program.process())) {
    GTEST_SKIP() << "faults of emulated 32-bit code do not reach the program";
  }
  const DWORD pid = ::GetProcessId(program.process());
  const std::vector<std::vector<std::wstring>> rows = program.Rows();

  DWORD first_id = 0;
  const UniqueKernelHandle first = StartFaultingThread(program.process(), first_id);
  ASSERT_TRUE(first) << "error " << ::GetLastError();
  const HWND box = WaitForDialog(pid, &IsErrorBox);
  ASSERT_NE(box, nullptr) << "no error box";
  EXPECT_EQ(TextOf(box), L"volumes");
  EXPECT_EQ(ErrorMessage(box).rfind(L"Access violation at address ", 0), 0u)
      << platform_.ToAnsi(ErrorMessage(box));
  const std::vector<std::wstring> buttons =
      edition::kFull ? std::vector<std::wstring>{L"send bug report", L"show bug report",
                                                 L"continue application", L"restart application",
                                                 L"close application"}
                     : std::vector<std::wstring>{L"OK"};
  EXPECT_EQ(ChildTexts(box, L"Button"), buttons);

  // A second error meanwhile, on another such thread: counted, no second box, and that
  // thread waits for good.
  DWORD second_id = 0;
  const UniqueKernelHandle second = StartFaultingThread(program.process(), second_id);
  ASSERT_TRUE(second);
  if (edition::kFull) {
    // The report names the thread of the error, which the program did not start (the
    // count of further errors and the modules are CrashUi's, in-process).
    ASSERT_TRUE(Press(box, L"show bug report"));
    const HWND shown =
        WaitForDialog(pid, [](HWND dialog) { return TextOf(dialog) == L"bug report"; });
    ASSERT_NE(shown, nullptr);
    const std::vector<std::wstring> report = ChildTexts(shown, L"Edit");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_NE(
        report[0].find(L"thread " + std::to_wstring(first_id) + L" (the error happened here):"),
        std::wstring::npos)
        << platform_.ToAnsi(report[0]);
    // Its stack starts at the address of the error, with its callers below.
    const std::wstring frames =
        report[0].substr(report[0].find(L"(the error happened here):\r\n") + 28);
    const std::wstring first =
        L"  " + std::wstring(Is32BitProcess(program.process()) ? 6 : 14, L'0') + L"10  ?\r\n  ";
    EXPECT_TRUE(frames.rfind(first, 0) == 0 && std::iswxdigit(frames[first.size()]))
        << platform_.ToAnsi(frames);
    // The other threads' stacks too: the window thread is the process's first.
    EXPECT_NE(report[0].find(L" (main thread):\r\n  "), std::wstring::npos);
    ASSERT_TRUE(Press(shown, L"close"));
    ASSERT_TRUE(WaitUntilGone(shown));
  }

  // Continued: the faulting threads never run again, nor end; the window goes on.
  EXPECT_EQ(DialogsOf(pid).size(), 1u);
  ASSERT_TRUE(PressContinue(box));
  ASSERT_TRUE(WaitUntilGone(box));
  EXPECT_EQ(::WaitForSingleObject(first.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(::WaitForSingleObject(second.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(program.Running());
  EXPECT_EQ(program.Rows(), rows);

  DWORD exit_code = 0xdeadbeef;
  if (edition::kFull) {
    DWORD third_id = 0;
    const UniqueKernelHandle third = StartFaultingThread(program.process(), third_id);
    const HWND again = WaitForDialog(pid, &IsErrorBox);
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(Press(again, L"close application"));
    ASSERT_EQ(::WaitForSingleObject(program.process(), kPatienceMs), WAIT_OBJECT_0);
    ::GetExitCodeProcess(program.process(), &exit_code);
    EXPECT_EQ(exit_code, 1u);
  } else {
    ASSERT_TRUE(program.Close(exit_code));
    EXPECT_EQ(exit_code, 0u);
  }
}

// volumes_startup_error.exe: the program of a test build whose start-up fails as
// VOLUMES_STARTUP_ERROR says, before its main window exists.
TEST_F(WineProgram, ErrorDuringStartUpIsReported) {
  enum Then { kEnds, kWindowComes, kBoxOrEnd };
  struct Case {
    const wchar_t* kind;
    const wchar_t* message_start;
    Then then;  // kWindowComes: the error is on a thread of its own; the start-up goes on
  };
  const Case cases[] = {
      {L"throw", L"start-up test error", kEnds},
      {L"fault", L"Access violation at address ", kEnds},
      {L"thread", L"start-up test error on a thread", kWindowComes},
      // The failed thread holds a lock that the box may need, or keeps the window that
      // would own the box from answering: a box, or the process ended, but no hang.
      {L"heap", L"Access violation at address ", kBoxOrEnd},
      {L"dllmain", L"Access violation at address ", kBoxOrEnd},
      {L"wait", L"Access violation at address ", kBoxOrEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform_.ToAnsi(c.kind));
    const ScopedVariable kind(L"VOLUMES_STARTUP_ERROR", c.kind);
    RunningProgram program(ProgramFolder(path_) + L"volumes_startup_error.exe");
    ASSERT_TRUE(program.started()) << "error " << program.start_error();
    if (std::wstring(c.kind) != L"throw" && FaultsAreEmulated(program.process())) continue;
    HWND box = nullptr;
    for (DWORD waited = 0; box == nullptr && waited < kPatienceMs && program.Running();
         waited += 50) {
      for (HWND dialog : DialogsOf(::GetProcessId(program.process()))) {
        if (IsErrorBox(dialog)) box = dialog;
      }
      ::Sleep(50);
    }
    if (c.then == kBoxOrEnd) {
      EXPECT_TRUE(box != nullptr || !program.Running());
      if (box != nullptr) {
        EXPECT_EQ(ErrorMessage(box).rfind(c.message_start, 0), 0u);
      }
      ::TerminateProcess(program.process(), 1);
      continue;
    }
    ASSERT_NE(box, nullptr) << "no error box";
    EXPECT_EQ(ErrorMessage(box).rfind(c.message_start, 0), 0u)
        << platform_.ToAnsi(ErrorMessage(box));
    ASSERT_TRUE(PressContinue(box));
    DWORD exit_code = 0xdeadbeef;
    if (c.then == kWindowComes) {
      ASSERT_TRUE(program.WaitForList());
      ASSERT_TRUE(program.Close(exit_code));
      EXPECT_EQ(exit_code, 0u);
    } else {
      // Nothing to go on with: the program ends.
      ASSERT_EQ(::WaitForSingleObject(program.process(), kPatienceMs), WAIT_OBJECT_0);
      ::GetExitCodeProcess(program.process(), &exit_code);
      EXPECT_EQ(exit_code, 1u);
    }
  }
}

// A folder of the test's own, removed with what the test put there.
class ScratchFolder {
 public:
  ScratchFolder() {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    path_ =
        std::wstring(base) + L"volumes_planted_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() {
    WIN32_FIND_DATAW entry{};
    const HANDLE find = ::FindFirstFileW((path_ + L"*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        ::DeleteFileW((path_ + entry.cFileName).c_str());
      } while (::FindNextFileW(find, &entry));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(path_.c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// Runs a console program to its end; its exit code, or -1.
int RunToEnd(std::wstring command, const std::wstring& folder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder.c_str(), &startup, &process)) {
    return -1;
  }
  DWORD code = static_cast<DWORD>(-1);
  if (::WaitForSingleObject(process.hProcess, kPatienceMs) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.hProcess, &code);
  } else {
    ::TerminateProcess(process.hProcess, 1);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Windows' search order for some DLLs in the programs of the given names: Wine takes
// its own builtin first, unless told "native, then builtin". This is WINEDLLOVERRIDES
// in the registry; the variable itself, set here, would not reach the programs started
// from here, as Wine reads it from the Unix environment of the first process. Windows
// searches that way by itself and is told nothing.
class NativeFirst {
 public:
  NativeFirst(std::vector<std::wstring> programs, const std::vector<std::wstring>& dlls)
      : keys_(UnderWine() ? std::move(programs) : std::vector<std::wstring>{}) {
    for (std::wstring& key : keys_) {
      key = L"Software\\Wine\\AppDefaults\\" + key + L"\\DllOverrides";
      HKEY opened = nullptr;
      if (::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &opened, nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot write the overrides";
        continue;
      }
      for (const std::wstring& dll : dlls) {
        const std::wstring name = dll.substr(0, dll.find(L'.'));
        constexpr wchar_t kOrder[] = L"native,builtin";
        ::RegSetValueExW(opened, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder),
                         sizeof kOrder);
      }
      ::RegCloseKey(opened);
    }
  }
  ~NativeFirst() {
    for (const std::wstring& key : keys_) ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  }
  NativeFirst(const NativeFirst&) = delete;
  NativeFirst& operator=(const NativeFirst&) = delete;

 private:
  std::vector<std::wstring> keys_;
};

// A copy of the program with a marker-writing DLL beside it under each name of a DLL
// that the program loads itself, started there (so the folder is its current directory
// too), with Windows' search order for those names. Not version.dll, which the program
// loads the same way: Wine's own user32.dll imports it (Windows' does not), so with that
// order Wine would load a planted one before the program's first instruction.
TEST_F(WineProgram, NoDllPlantedBesideItRuns) {
  if (!edition::kFull) GTEST_SKIP() << "the reduced edition loads none of these DLLs";
  const std::array<std::wstring, 2> names = {L"mapi32.dll", L"dbghelp.dll"};
  const std::wstring built = ProgramFolder(path_);
  const ScratchFolder folder;
  ASSERT_TRUE(::CopyFileW(path_.c_str(), (folder.path() + L"volumes.exe").c_str(), FALSE));
  ASSERT_TRUE(::CopyFileW((built + L"load_by_name.exe").c_str(),
                          (folder.path() + L"load_by_name.exe").c_str(), FALSE));
  for (const auto& name : names) {
    ASSERT_TRUE(::CopyFileW((built + L"planted_marker.dll").c_str(), (folder.path() + name).c_str(),
                            FALSE));
  }
  const NativeFirst overrides({L"volumes.exe", L"load_by_name.exe"}, {names.begin(), names.end()});
  {
    RunningProgram program(folder.path() + L"volumes.exe");
    ASSERT_TRUE(program.started()) << "error " << program.start_error();
    ASSERT_TRUE(program.WaitForList());
    if (FaultsAreEmulated(program.process())) {
      GTEST_SKIP() << "faults of emulated 32-bit code do not reach the program";
    }
    {
      // The bug report (dbghelp, version) and its mail (mapi32).
      const DWORD pid = ::GetProcessId(program.process());
      DWORD id = 0;
      const UniqueKernelHandle thread = StartFaultingThread(program.process(), id);
      const HWND box = WaitForDialog(pid, &IsErrorBox);
      ASSERT_NE(box, nullptr);
      ASSERT_TRUE(Press(box, L"show bug report"));
      const HWND shown =
          WaitForDialog(pid, [](HWND dialog) { return TextOf(dialog) == L"bug report"; });
      ASSERT_NE(shown, nullptr);
      const std::vector<std::wstring> report = ChildTexts(shown, L"Edit");
      ASSERT_EQ(report.size(), 1u);
      EXPECT_EQ(report[0].find(L"dbghelp.dll is not usable"), std::wstring::npos);
      ASSERT_TRUE(Press(shown, L"close"));
      ASSERT_TRUE(WaitUntilGone(shown));
      // Whatever the system's mail interface answers, it is a box of the program's.
      // Sent: it returns once the mail interface has answered, unless that answer is a
      // box of the program's (Wine's answers without one), which must not say that
      // there is no mail interface at all.
      ASSERT_TRUE(Press(box, L"send bug report", 10000) || [&] {
        const HWND answer = WaitForDialog(pid, [&](HWND dialog) { return dialog != box; });
        if (answer == nullptr) return false;
        EXPECT_EQ(ErrorMessage(answer).find(L"No mail interface"), std::wstring::npos);
        ::PostMessageW(answer, WM_COMMAND, IDOK, 0);
        return WaitUntilGone(answer);
      }());
      ASSERT_TRUE(Press(box, L"close application"));
      ASSERT_EQ(::WaitForSingleObject(program.process(), kPatienceMs), WAIT_OBJECT_0);
    }
  }
  for (const auto& name : names) {
    EXPECT_FALSE(Exists(folder.path() + name + L".ran")) << platform_.ToAnsi(name) << " ran";
  }
  // The check can fail: a program that loads these names bare runs each planted copy.
  for (const auto& name : names) {
    EXPECT_EQ(RunToEnd(L"\"" + folder.path() + L"load_by_name.exe\" " + name, folder.path()), 0);
    EXPECT_TRUE(Exists(folder.path() + name + L".ran")) << platform_.ToAnsi(name) << " did not run";
  }
}

}  // namespace
}  // namespace vol::test
