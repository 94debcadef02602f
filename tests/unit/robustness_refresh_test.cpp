// One refresh against a machine that has a bit of everything: the platform calls it
// makes, counted from the rules of each query, and what it leaves behind when the
// machine's calls fail at random.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "devices/text_forms.h"
#include "tests/sim/sim_machine.h"
#include "tests/unit/fake_view.h"
#include "ui/Ufrmvolume.h"

namespace vol {
namespace {

using Call = SimMachine::Call;
using Numbers = std::pair<uint8_t, uint8_t>;
constexpr Numbers kUnknownNumbers{255, 255};

// ---------------------------------------------------------------- the machine

// What the machine holds for one volume, and so what a refresh may show for it.
struct VolumeSpec {
  int n;
  const wchar_t* nt_name;
  std::vector<std::wstring> mounts;
  uint32_t type = drive_type::kFixed;
  std::optional<StorageDeviceNumber> number;  // absent: the request is refused
  std::vector<DiskExtent> extents;
  uint32_t open_error = 0;  // every open of the volume is refused
  std::optional<SimFileSystem> file_system;

  bool optical() const {
    const std::wstring lower = LowerAscii(nt_name);
    return lower.find(L"cdrom") != std::wstring::npos ||
           lower.find(L"floppy") != std::wstring::npos;
  }
  bool opens() const { return open_error == 0; }
  bool storage_ok() const { return opens() && number.has_value(); }
  // The disk numbers a row may show: the device number, or the first extent's disk with
  // partition unknown, or both unknown when no extent could be read.
  Numbers numbers() const {
    if (storage_ok()) {
      return {static_cast<uint8_t>(number->DeviceNumber),
              static_cast<uint8_t>(number->PartitionNumber)};
    }
    return extent_numbers();
  }
  Numbers extent_numbers() const {
    if (!opens() || extents.empty()) return kUnknownNumbers;
    return {static_cast<uint8_t>(extents.front().DiskNumber), 255};
  }
  bool readable() const { return opens() && file_system.has_value(); }
  int64_t size() const {
    if (!readable()) return 0;
    const uint32_t cluster = file_system->sectors_per_cluster * file_system->bytes_per_sector;
    return int64_t{cluster} * (int64_t{file_system->total_clusters} + 1);
  }
  std::wstring serial() const { return readable() ? HexText(file_system->serial) : L""; }
};

SimFileSystem Fs(uint32_t serial, uint32_t total_clusters) {
  SimFileSystem fs;
  fs.serial = serial;
  fs.total_clusters = total_clusters;
  fs.free_clusters = total_clusters / 2;
  return fs;
}

const std::vector<VolumeSpec>& Volumes() {
  static const std::vector<VolumeSpec> kVolumes{
      {1,
       L"\\Device\\HarddiskVolume1",
       {},
       drive_type::kFixed,
       StorageDeviceNumber{7, 0, 1},
       {DiskExtent{0, 1048576, 104857600}},
       0,
       Fs(0xA001, 25600)},
      {2,
       L"\\Device\\HarddiskVolume2",
       {L"C:\\"},
       drive_type::kFixed,
       StorageDeviceNumber{7, 0, 2},
       {DiskExtent{0, 105906176, 999999488}},
       0,
       Fs(0x1F, 244140)},
      {3,
       L"\\Device\\CdRom0",
       {L"E:\\"},
       drive_type::kCdrom,
       StorageDeviceNumber{2, 0, 0},
       {},
       0,
       Fs(0xCD01, 300000)},
      // Spans two disks: the device-number request is refused.
      {4,
       L"\\Device\\HarddiskVolume4",
       {L"D:\\", L"C:\\mnt\\data\\"},
       drive_type::kFixed,
       std::nullopt,
       {DiskExtent{3, 1048576, 5000000}, DiskExtent{4, 1048576, 5000000}},
       0,
       Fs(0x12345, 70000)},
      {5,
       L"\\Device\\HarddiskVolume5",
       {L"C:\\mnt\\locked\\"},
       drive_type::kFixed,
       StorageDeviceNumber{7, 2, 1},
       {DiskExtent{2, 1048576, 5000000}},
       win_error::kAccessDenied,
       Fs(0x5005, 1000)},
      {6,
       L"\\Device\\Floppy0",
       {L"A:\\"},
       drive_type::kRemovable,
       std::nullopt,
       {},
       0,
       Fs(0xF10F, 2880)},
      // A memory stick without a readable file system.
      {7,
       L"\\Device\\HarddiskVolume7",
       {L"F:\\"},
       drive_type::kRemovable,
       StorageDeviceNumber{7, 1, 1},
       {DiskExtent{1, 32256, 8000000}},
       0,
       std::nullopt},
  };
  return kVolumes;
}

// What the machine holds for one drive letter besides A:, and so what the DOS-device
// view may show for it.
struct LetterSpec {
  wchar_t letter;
  uint32_t type;
  bool floppy;
  bool opens;                                 // \\.\X: can be opened
  std::optional<std::pair<int, int>> number;  // absent: the request is refused
  std::wstring target;

  bool kept() const {
    switch (type) {
      case drive_type::kRemovable:
        return !floppy;
      case drive_type::kFixed:
      case drive_type::kRamdisk:
        return true;
      case drive_type::kNoRootDir:
        return edition::kFull;
      default:
        return false;
    }
  }
  Numbers numbers() const {
    if (!opens || !number) return {255, 255};
    return {static_cast<uint8_t>(number->first), static_cast<uint8_t>(number->second)};
  }
  std::wstring drive() const { return {letter, L':'}; }
};

const std::vector<LetterSpec>& Letters() {
  static const std::vector<LetterSpec> kLetters{
      {L'B', drive_type::kRemovable, true, true, std::nullopt, L"\\Device\\Floppy1"},
      {L'C', drive_type::kFixed, false, true, std::pair{0, 2}, L"\\Device\\HarddiskVolume2"},
      {L'D', drive_type::kFixed, false, true, std::nullopt, L"\\Device\\HarddiskVolume4"},
      {L'E', drive_type::kCdrom, false, true, std::pair{0, 0}, L"\\Device\\CdRom0"},
      {L'F', drive_type::kRemovable, false, true, std::pair{1, 1}, L"\\Device\\HarddiskVolume7"},
      {L'N', drive_type::kRemote, false, false, std::nullopt,
       L"\\Device\\LanmanRedirector\\;N:0000000000001234\\server\\share"},
      // As subst makes it: the type of the folder's drive.
      {L'S', drive_type::kFixed, false, false, std::nullopt, L"\\??\\C:\\work"},
      {L'X', drive_type::kFixed, false, true, std::nullopt, L"\\??\\HarddiskVolumeShadowCopy1"},
  };
  return kLetters;
}

struct ShadowSpec {
  const wchar_t* name;
  SimFileSystem fs;
  wchar_t letter;  // the letter that points at it, or 0
};

const std::vector<ShadowSpec>& Shadows() {
  static const std::vector<ShadowSpec> kShadows{
      {L"HarddiskVolumeShadowCopy1", Fs(0x5C01, 300), L'X'},
      {L"HarddiskVolumeShadowCopy2", Fs(0x5C02, 400), 0},
  };
  return kShadows;
}

void BuildMachine(SimMachine& machine) {
  for (const VolumeSpec& v : Volumes()) {
    SimDevice& device = machine.AddVolume(SimMachine::Guid(v.n), v.nt_name);
    device.drive_type = v.type;
    device.device_number = v.number;
    device.extents = v.extents;
    device.open_error = v.open_error;
    device.file_system = v.file_system;
    for (const std::wstring& mount : v.mounts) {
      machine.AddMountPath(SimMachine::VolumeGuidPath(v.n), mount);
    }
  }
  machine.AddDevice(L"\\Device\\Floppy1").drive_type = drive_type::kRemovable;
  machine.DefineDosName(L"B:", L"\\Device\\Floppy1");
  for (const ShadowSpec& s : Shadows()) {
    machine.AddDevice(std::wstring(L"\\Device\\") + s.name).file_system = s.fs;
    machine.DefineDosName(s.name, std::wstring(L"\\Device\\") + s.name);
  }
  for (const LetterSpec& l : Letters()) {
    if (machine.DosTargets(l.drive()).empty()) machine.DefineDosName(l.drive(), l.target);
  }
  machine.SetDriveType(L'N', drive_type::kRemote);
  machine.DefineDosName(L"COM1", L"\\Device\\Serial0");
  machine.DefineDosName(L"PhysicalDrive0", L"\\Device\\Harddisk0\\DR0");
  machine.AddFolder(L"C:\\mnt\\data\\");
  machine.AddFolder(L"C:\\mnt\\locked\\");
}

std::wstring ShadowTarget(const ShadowSpec& s) { return L"\\??\\" + LowerAscii(s.name); }

class RobustRefreshTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildMachine(machine); }
  void TearDown() override {
    EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    EXPECT_EQ(machine.bad_closes(), 0);
  }

  void Refresh(bool view_on) {
    view.checked[Command::Getnonvolumedrives1] = view_on;
    machine.ClearCalls();
    form.refresh_list();
  }

  SimMachine machine;
  testing::FakeView view;
  Tfrmvolumes form{machine, view};
};

// ---------------------------------------------------------------- calls of one refresh

// The system queries whose counts the rules fix. Text conversions are not system queries.
constexpr std::array kCountedCalls{
    Call::FindFirstVolume,      Call::FindNextVolume,
    Call::FindVolumeClose,      Call::GetVolumePathNamesForVolumeName,
    Call::SetVolumeMountPoint,  Call::DeleteVolumeMountPoint,
    Call::LoadLibrary,          Call::FreeLibrary,
    Call::GetProcAddress,       Call::CallGetVolumeNameForVolumeMountPoint,
    Call::QueryDosDevice,       Call::DefineDosDevice,
    Call::GetDriveType,         Call::GetDiskFreeSpace,
    Call::GetVolumeInformation, Call::CreateFile,
    Call::DeviceIoControl,      Call::CloseHandle,
    Call::GetLastError,         Call::SetLastError,
    Call::FormatMessage,        Call::Sleep,
    Call::MessageBox,           Call::ShowMessage,
    Call::SetClipboardText,     Call::LocalDateTimeText,
    Call::ExecutablePath,
};

// The request on a handle that opened, and its close.
void AddRequestAndClose(std::map<Call, int>& n) {
  ++n[Call::DeviceIoControl];
  ++n[Call::CloseHandle];
}

// The counts, derived from what each query asks per volume and per letter.
std::map<Call, int> ExpectedCalls(bool view_on) {
  std::map<Call, int> n;
  // The search: one start, one step per volume (the last one says there are no more), one close.
  n[Call::FindFirstVolume] = 1;
  n[Call::FindVolumeClose] = 1;
  for (const VolumeSpec& v : Volumes()) {
    ++n[Call::FindNextVolume];
    ++n[Call::QueryDosDevice];  // its NT device name
    if (v.optical()) continue;  // no row, nothing more asked
    ++n[Call::GetVolumePathNamesForVolumeName];
    // The device number: open, request, close.
    ++n[Call::CreateFile];
    if (v.opens()) AddRequestAndClose(n);
    if (!v.storage_ok()) {
      // The error text of the failure, then the extents: open, request, close.
      ++n[Call::GetLastError];
      ++n[Call::FormatMessage];
      ++n[Call::CreateFile];
      if (v.opens()) AddRequestAndClose(n);
    }
    if (edition::kVolumeSizeAndSerial) {
      ++n[Call::GetDiskFreeSpace];
      ++n[Call::GetVolumeInformation];
    }
  }
  if (!view_on) return n;
  ++n[Call::QueryDosDevice];  // the whole list, for the drive-letter set
  n[Call::GetDriveType] += 26;
  for (const LetterSpec& l : Letters()) {
    if (l.type == drive_type::kRemovable) ++n[Call::QueryDosDevice];  // the floppy test
    if (!l.kept()) continue;
    ++n[Call::CreateFile];
    if (l.opens) AddRequestAndClose(n);
    ++n[Call::QueryDosDevice];  // its target
  }
  if (edition::kShadowCopies) {
    ++n[Call::QueryDosDevice];  // the whole list again, for the shadow copies
    for (const ShadowSpec& s : Shadows()) {
      if (s.letter != 0) continue;  // a listed letter points at it
      ++n[Call::GetDiskFreeSpace];
      ++n[Call::GetVolumeInformation];
    }
  }
  return n;
}

TEST_F(RobustRefreshTest, OneRefreshMakesExactlyTheCallsTheRulesPrescribe) {
  for (const bool view_on : {false, true, false, true}) {
    SCOPED_TRACE(view_on ? "view on" : "view off");
    Refresh(view_on);
    const std::map<Call, int> expected = ExpectedCalls(view_on);
    for (const Call call : kCountedCalls) {
      const auto it = expected.find(call);
      EXPECT_EQ(machine.CountCalls(call), it == expected.end() ? 0 : it->second) << CallName(call);
    }
    const std::size_t volume_rows = 5;
    const std::size_t dos_rows = 2;  // S: and X:
    const std::size_t shadow_rows = edition::kShadowCopies ? 1 : 0;
    EXPECT_EQ(view.rows.size(), volume_rows + (view_on ? dos_rows + shadow_rows : 0));
    EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
  }
}

TEST_F(RobustRefreshTest, NoQueryIsAskedTwiceAndEveryOpenIsClosedOnce) {
  Refresh(true);
  std::set<std::tuple<std::wstring, uint32_t>> opens;
  std::set<std::tuple<std::wstring, uint32_t>> names;  // name, buffer length
  std::set<std::wstring> roots_free_space, roots_information;
  std::map<Handle, int> closes;
  std::vector<Handle> opened;
  std::vector<std::wstring> drive_types;
  for (const auto& c : machine.calls()) {
    SCOPED_TRACE(std::string(CallName(c.call)) + " " +
                 std::string(c.argument.begin(), c.argument.end()));
    switch (c.call) {
      case Call::CreateFile:
        EXPECT_TRUE(opens.emplace(c.argument, c.flags).second) << "opened twice";
        if (!c.failed) opened.push_back(c.handle);
        break;
      case Call::CloseHandle:
        ++closes[c.handle];
        break;
      case Call::QueryDosDevice:
        if (!c.null_text) {
          EXPECT_TRUE(names.emplace(c.argument, c.buffer_size).second) << "asked twice";
        }
        break;
      case Call::GetDiskFreeSpace:
        EXPECT_TRUE(roots_free_space.insert(c.argument).second) << "asked twice";
        break;
      case Call::GetVolumeInformation:
        EXPECT_TRUE(roots_information.insert(c.argument).second) << "asked twice";
        break;
      case Call::GetDriveType:
        drive_types.push_back(c.argument);
        break;
      default:
        break;
    }
  }
  EXPECT_EQ(closes.size(), opened.size());
  for (const Handle handle : opened) EXPECT_EQ(closes[handle], 1) << "handle " << handle;
  ASSERT_EQ(drive_types.size(), 26u);
  for (int i = 0; i < 26; ++i) {
    const std::wstring root{static_cast<wchar_t>(L'A' + i), L':', L'\\'};
    EXPECT_EQ(drive_types[static_cast<std::size_t>(i)], root);
  }
}

// ---------------------------------------------------------------- failing at random

// Whether a query of this kind and argument (and buffer length, when given) failed
// during the last refresh.
bool QueryFailed(const SimMachine& machine, Call call, const std::wstring& argument,
                 std::optional<uint32_t> buffer = std::nullopt) {
  return std::ranges::any_of(machine.calls(), [&](const SimMachine::CallRecord& c) {
    return c.call == call && c.failed && LowerAscii(c.argument) == LowerAscii(argument) &&
           (!buffer || c.buffer_size == *buffer);
  });
}

bool Contains(const std::wstring& text, std::wstring_view part) {
  return LowerAscii(text).find(part) != std::wstring::npos;
}

// Which fallbacks a refresh showed, so that a long run can tell it reached them all.
struct Seen {
  bool enumeration_failed = false, enumeration_cut_short = false, optical_listed = false;
  bool extent_numbers = false, unopened_numbers = false, empty_device_name = false;
  bool empty_path = false, unknown_size = false, floppy_listed = false, letter_numbers = false;
  bool shadow_row_for_a_letter = false;
};

// Checks the scan and the list after a refresh whose calls may have failed: every
// value is either the machine's truth or the fallback the rules give for a failed
// query, nothing is missing, and nothing optical shows.
void ExpectConsistent(const SimMachine& machine, const MachineScan& scan,
                      const testing::FakeView& view, bool view_on,
                      std::size_t shown_messages_before, Seen& seen) {
  // How far the enumeration got: the first volume, then one per successful step.
  const bool started = !std::ranges::any_of(
      machine.calls(), [](const auto& c) { return c.call == Call::FindFirstVolume && c.failed; });
  std::size_t enumerated = 0;
  if (started) {
    enumerated =
        1 + static_cast<std::size_t>(std::ranges::count_if(machine.calls(), [](const auto& c) {
          return c.call == Call::FindNextVolume && !c.failed;
        }));
  }
  EXPECT_EQ(machine.CountCalls(Call::FindVolumeClose), started ? 1 : 0);
  const auto& messages = machine.messages();
  ASSERT_EQ(messages.size(), shown_messages_before + (started ? 0 : 1));
  if (!started) {
    EXPECT_EQ(messages.back().text, L"list_volumes:invalid handle");
  }
  seen.enumeration_failed |= !started;
  seen.enumeration_cut_short |= started && enumerated < Volumes().size();

  // The list's cells, read as the user sees them: the volume rows first, in the scan's
  // order, then the drive letters, then the shadow copies.
  const auto Number = [](const std::wstring& cell) {
    return static_cast<uint8_t>(cell.empty() ? 0 : std::stoi(cell));
  };
  // The volumes: the enumerated ones in order, each non-optical one present; an optical
  // one only when its device name could not be read.
  std::size_t row = 0;
  for (std::size_t i = 0; i < enumerated; ++i) {
    const VolumeSpec& v = Volumes()[i];
    const std::wstring guid_path = SimMachine::VolumeGuidPath(v.n);
    SCOPED_TRACE(guid_path);
    if (row >= scan.volumes.size() || scan.volumes[row].guid_path != guid_path) {
      EXPECT_TRUE(v.optical()) << "a volume is missing";
      continue;
    }
    const VolumeRecord& volume = scan.volumes[row];
    ASSERT_LT(row, view.rows.size());
    const ListRow& r = view.rows[row++];
    EXPECT_EQ(r.caption, guid_path);
    if (v.optical()) {
      EXPECT_EQ(volume.nt_name, L"") << "an optical volume is listed";
      seen.optical_listed = true;
    }
    seen.empty_device_name |= volume.nt_name.empty();
    const std::wstring& path = r.sub(kSubPathName);
    seen.empty_path |= path.empty() && !v.mounts.empty();
    EXPECT_TRUE(volume.nt_name == v.nt_name || volume.nt_name.empty()) << volume.nt_name;
    EXPECT_EQ(r.sub(kSubDosDevice), volume.nt_name);
    const std::wstring first_mount = v.mounts.empty() ? L"" : v.mounts.front();
    EXPECT_TRUE(path == first_mount || path.empty()) << path;
    const Numbers numbers{Number(r.sub(kSubDiskNumber)), Number(r.sub(kSubPartitionNumber))};
    const Numbers fallback = v.extent_numbers();
    const Numbers unopened = kUnknownNumbers;
    EXPECT_TRUE(numbers == v.numbers() || numbers == fallback || numbers == unopened)
        << int{numbers.first} << "/" << int{numbers.second};
    seen.extent_numbers |= v.storage_ok() && numbers == fallback && fallback != unopened;
    seen.unopened_numbers |= v.storage_ok() && numbers == unopened;
    if (edition::kVolumeSizeAndSerial) {
      const std::wstring& size = r.sub(kSubVolumeSize);
      EXPECT_TRUE(size == std::to_wstring(v.size()) || size == L"0") << size;
      seen.unknown_size |= size == L"0" && v.size() != 0;
      EXPECT_TRUE(r.sub(kSubSerial) == v.serial() || r.sub(kSubSerial).empty())
          << r.sub(kSubSerial);
    } else {
      EXPECT_FALSE(volume.free_space || volume.serial) << "asked in the reduced edition";
    }
  }
  const std::size_t used = row;
  EXPECT_EQ(used, scan.volumes.size()) << "volumes the machine does not have";
  for (const ListRow& r : view.rows) {
    EXPECT_EQ(r.sub_items.size(), edition::kFull ? 6u : 4u);
    EXPECT_FALSE(Contains(r.sub(kSubDosDevice), L"cdrom")) << r.sub(kSubDosDevice);
  }
  if (!view_on) {
    EXPECT_EQ(view.rows.size(), used);
    return;
  }

  // The drive letters: in letter order, each one the view keeps (a floppy only when the
  // floppy test itself failed), values true or fallen back.
  std::size_t at = 0;
  for (const LetterSpec& l : Letters()) {
    SCOPED_TRACE(l.drive());
    if (at >= scan.drives.size() || scan.drives[at].drive() != l.drive()) continue;
    const bool floppy_unseen =
        l.floppy && QueryFailed(machine, Call::QueryDosDevice, l.drive(), 1024);
    EXPECT_TRUE(l.kept() || floppy_unseen) << "a letter the view drops is listed";
    seen.floppy_listed |= floppy_unseen;
    const DriveRecord& d = scan.drives[at++];
    const Numbers numbers = d.device_number
                                ? Numbers{static_cast<uint8_t>(d.device_number->DeviceNumber),
                                          static_cast<uint8_t>(d.device_number->PartitionNumber)}
                                : kUnknownNumbers;
    EXPECT_TRUE(numbers == l.numbers() || numbers == kUnknownNumbers);
    seen.letter_numbers |= numbers != l.numbers();
    EXPECT_TRUE(d.nt_name == l.target || d.nt_name.empty()) << d.nt_name;
  }
  EXPECT_EQ(at, scan.drives.size()) << "letters the machine does not have";
  // A drive letter's row shows its letter; a shadow copy's shows no path.
  const auto dos_rows = static_cast<std::size_t>(
      std::count_if(view.rows.begin() + static_cast<std::ptrdiff_t>(used), view.rows.end(),
                    [](const ListRow& r) { return !r.sub(kSubPathName).empty(); }));
  for (std::size_t i = used; i < used + dos_rows; ++i) {
    const ListRow& r = view.rows[i];
    const auto drive =
        std::ranges::find(scan.drives, r.sub(kSubPathName).substr(0, 2), &DriveRecord::drive);
    ASSERT_NE(drive, scan.drives.end()) << "a row of a letter the scan did not find";
    EXPECT_EQ(r.sub(kSubDosDevice), drive->nt_name);
  }

  // Shadow copies: in the namespace's order, each once, unless a listed letter points at it.
  std::size_t shadow_at = used + dos_rows;
  for (const ShadowSpec& s : Shadows()) {
    if (shadow_at >= view.rows.size()) break;
    const ListRow& r = view.rows[shadow_at];
    if (r.sub(kSubDosDevice) != ShadowTarget(s)) continue;
    SCOPED_TRACE(ShadowTarget(s));
    EXPECT_FALSE(is_dosdevice_target(scan.drives, ShadowTarget(s)));
    seen.shadow_row_for_a_letter |= s.letter != 0;
    EXPECT_TRUE(r.caption.empty() && r.sub(kSubPathName).empty() && r.sub(kSubDiskNumber).empty() &&
                r.sub(kSubPartitionNumber).empty());
    const int64_t size = int64_t{s.fs.sectors_per_cluster * s.fs.bytes_per_sector} *
                         (int64_t{s.fs.total_clusters} + 1);
    EXPECT_TRUE(r.sub(kSubVolumeSize) == std::to_wstring(size) || r.sub(kSubVolumeSize) == L"0");
    EXPECT_TRUE(r.sub(kSubSerial) == HexText(s.fs.serial) || r.sub(kSubSerial).empty());
    ++shadow_at;
  }
  EXPECT_EQ(shadow_at, view.rows.size()) << "rows the tables do not account for";
  if (!edition::kShadowCopies) {
    EXPECT_EQ(shadow_at, used + dos_rows);
  }
}

TEST_F(RobustRefreshTest, AThousandRefreshesWithCallsFailingAtRandomStayConsistent) {
  std::size_t messages = 0;
  Seen seen;
  for (uint32_t i = 0; i < 1000; ++i) {
    const bool view_on = i % 2 == 1;
    const unsigned percent = 5 + i % 46;  // 5 % to 50 % of the calls fail
    SCOPED_TRACE("refresh " + std::to_string(i) + ", " + std::to_string(percent) + " % failing" +
                 (view_on ? ", view on" : ", view off"));
    machine.FailAtRandom(0x7A5E0000u + i, percent);
    Refresh(view_on);
    machine.ClearFailures();
    ASSERT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    ASSERT_EQ(machine.bad_closes(), 0);
    ExpectConsistent(machine, form.scan(), view, view_on, messages, seen);
    messages = machine.messages().size();
    if (::testing::Test::HasFailure()) return;  // one broken refresh tells enough
  }
  // The run reached every fallback the rules give.
  EXPECT_TRUE(seen.enumeration_failed);
  EXPECT_TRUE(seen.enumeration_cut_short);
  EXPECT_TRUE(seen.optical_listed);
  EXPECT_TRUE(seen.extent_numbers);
  EXPECT_TRUE(seen.unopened_numbers);
  EXPECT_TRUE(seen.empty_device_name);
  EXPECT_TRUE(seen.empty_path);
  EXPECT_EQ(seen.unknown_size, edition::kVolumeSizeAndSerial);
  EXPECT_TRUE(seen.floppy_listed);
  EXPECT_TRUE(seen.letter_numbers);
  EXPECT_EQ(seen.shadow_row_for_a_letter, edition::kShadowCopies);
}

TEST_F(RobustRefreshTest, EveryCallFailingLeavesOnlyTheFallbacks) {
  for (const bool view_on : {false, true}) {
    SCOPED_TRACE(view_on ? "view on" : "view off");
    machine.FailAtRandom(1, 100);
    Refresh(view_on);
    machine.ClearFailures();
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(form.scan().volumes.empty() && form.scan().drives.empty());
    ASSERT_FALSE(machine.messages().empty());
    EXPECT_EQ(machine.messages().back().text, L"list_volumes:invalid handle");
  }
}

}  // namespace
}  // namespace vol
