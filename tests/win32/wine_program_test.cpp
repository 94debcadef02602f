// The real program: started as a user starts it, read from outside through its
// controls' own messages, told of volumes arriving and going by the system's
// broadcast, and closed again.
#include <windows.h>
// The common-control and device-broadcast headers build on windows.h.
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "gtest/gtest.h"
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
    wchar_t display[256] = {};
    if (::GetEnvironmentVariableW(L"DISPLAY", display, 256) == 0) {
      GTEST_SKIP() << "no X display (set DISPLAY, e.g. to an Xvfb server)";
    }
    if (sizeof(void*) == 4 && EmulatedGuestBase() != 0) {
      GTEST_SKIP() << "under emulation a 32-bit program cannot read another one's memory; "
                      "the 64-bit full edition's suite program32 reads this volumes.exe";
    }
  }

  // One row per volume of the system: caption and PathName as the system lists them.
  void ExpectVolumeRows(const std::vector<std::vector<std::wstring>>& rows) {
    const std::vector<ListedVolume> system = VolumesOfTheSystem(platform_);
    ASSERT_EQ(rows.size(), system.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(platform_.ToAnsi(system[i].name));
      ASSERT_EQ(rows[i].size(), edition::kFull ? 7u : 5u);
      EXPECT_EQ(rows[i][0], system[i].name);
      ASSERT_FALSE(system[i].paths.empty());
      EXPECT_EQ(rows[i][1 + kSubPathName], system[i].paths.front());
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
    // Rebuilt: no row selected any more, and E: (no volume of Wine's) adds none.
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

}  // namespace
}  // namespace vol::test
