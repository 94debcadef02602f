// The platform's contract against the simulated machines: every fact of the contract
// on a simulated machine laid out like a typical Windows one, the facts the benchmarks'
// flat machine claims to model on that one, and the facts that Wine cannot show, which
// only the simulated machine answers (each with its source). Last, the simulator's own
// mechanics: scripted failures, call records, the model code page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bench/flat_machine.h"
#include "tests/contract/platform_contract.h"
#include "tests/sim/sim_machine.h"

namespace vol {
namespace {

using contract::Fact;

// A machine as Windows sets one up: the system volume at C:\ with its names, a second
// volume, the usual other names of the namespace, and the Windows folder.
void BuildTypicalMachine(SimMachine& sim) {
  SimDevice& c = sim.AddVolume(SimMachine::Guid(1), L"\\Device\\HarddiskVolume3");
  c.file_system = SimFileSystem{0x43000000, 8, 512, 100000, 500000};
  c.device_number = StorageDeviceNumber{7, 0, 3};
  c.extents = {DiskExtent{0, 1048576, 256000000}};
  c.partition = SimMachine::MbrPartition(3, 1048576, 256000000);
  sim.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\");
  sim.AddVolume(SimMachine::Guid(2), L"\\Device\\HarddiskVolume4").file_system = SimFileSystem{};
  sim.AddMountPath(SimMachine::VolumeGuidPath(2), L"Z:\\");
  for (const wchar_t* name : {L"PhysicalDrive0", L"COM1", L"NUL", L"GLOBALROOT"}) {
    sim.DefineDosName(name, std::wstring(L"\\Device\\") + name);
  }
  sim.AddFolder(L"C:\\windows\\");
}

void BuildTypicalMachine(bench::FlatMachine& flat) {
  flat.AddVolume(SimMachine::Guid(1),
                 {L"\\Device\\HarddiskVolume3", drive_type::kFixed, {7, 0, 3}, 0x43000000, 500000},
                 L"C:\\");
  flat.AddVolume(SimMachine::Guid(2), {L"\\Device\\HarddiskVolume4"}, L"Z:\\");
  for (const wchar_t* name : {L"PhysicalDrive0", L"COM1", L"NUL", L"GLOBALROOT"}) {
    flat.DefineDosName(name, std::wstring(L"\\Device\\") + name);
  }
}

std::string FactName(const ::testing::TestParamInfo<Fact>& info) { return info.param.name; }

class PlatformContract : public ::testing::TestWithParam<Fact> {};

TEST_P(PlatformContract, HoldsOnTheSimulatedMachine) {
  SimMachine sim;
  BuildTypicalMachine(sim);
  const contract::Scene scene = contract::Arrange(sim);
  ASSERT_FALSE(scene.system_volume.empty());
  EXPECT_TRUE(contract::Holds(GetParam(), GetParam().ask(sim, scene), false));
  EXPECT_EQ(sim.open_handles(), 0) << sim.DescribeOpenHandles();
}

TEST_P(PlatformContract, HoldsOnTheFlatMachineWhereItModelsTheCalls) {
  if (!GetParam().flat) GTEST_SKIP() << "the flat machine answers only what a refresh asks";
  bench::FlatMachine flat;
  BuildTypicalMachine(flat);
  const contract::Scene scene = contract::Arrange(flat);
  EXPECT_TRUE(contract::Holds(GetParam(), GetParam().ask(flat, scene), false));
  EXPECT_EQ(flat.open_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Facts, PlatformContract, ::testing::ValuesIn(contract::Facts()), FactName);

// Where the answers of the facts only the simulated machine gives come from, one line
// for each test of SimulatorOnly below.
struct SimulatorOnlySource {
  const char* test;
  contract::Kind kind;
  const char* source;
};
const SimulatorOnlySource kSimulatorOnlySources[] = {
    {"EnumerationFollowsInsertionOrderAndEndsWithNoMoreFiles", contract::Kind::kDocumented,
     "learn.microsoft.com FindFirstVolumeW: ERROR_NO_MORE_FILES without volumes"},
    {"VolumePathNamesRespectTheBufferExactly", contract::Kind::kDocumented,
     "learn.microsoft.com GetVolumePathNamesForVolumeNameW: folders too; ERROR_MORE_DATA"},
    {"DefineDosDeviceStacksAndRemovesByPrefix", contract::Kind::kDocumented,
     "learn.microsoft.com DefineDosDeviceW: stacked definitions, prefix and exact removal"},
    {"MountPointsFollowTrailingBackslashAndOccupancyRules", contract::Kind::kInferred,
     "SetVolumeMountPointW's page: trailing backslash, no second volume; the codes inferred"},
    {"DriveTypesComeFromTheDeviceTheRootLeadsTo", contract::Kind::kInferred,
     "GetDriveTypeW types the drive a root leads to, through letters and folders alike"},
    {"FreeSpaceAndVolumeInformationResolveRoots", contract::Kind::kInferred,
     "roots of every form documented; codes of media not ready or unreadable inferred"},
    {"CreateFileOpensDevicesOfEveryFormUnlessWriteIsDenied", contract::Kind::kDocumented,
     "learn.microsoft.com CreateFileW, \"Physical Disks and Volumes\""},
    {"DeviceRequestsCheckSizesAndNeverWritePastTheBuffer", contract::Kind::kDocumented,
     "learn.microsoft.com IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: ERROR_MORE_DATA, the header"},
};

// The counts the test command's summary shows, as properties of this test's report; every
// test of SimulatorOnly has its source, and every source its test.
TEST(PlatformContractCounts, AreInTheReport) {
  std::vector<std::string> simulator_only;
  const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
  for (int i = 0; i < all.total_test_suite_count(); ++i) {
    const ::testing::TestSuite& suite = *all.GetTestSuite(i);
    if (std::string(suite.name()) != "SimulatorOnly") continue;
    for (int j = 0; j < suite.total_test_count(); ++j) {
      simulator_only.emplace_back(suite.GetTestInfo(j)->name());
    }
  }
  std::vector<contract::Kind> kinds;
  for (const SimulatorOnlySource& source : kSimulatorOnlySources) {
    EXPECT_EQ(std::ranges::count(simulator_only, source.test), 1) << source.test;
    kinds.push_back(source.kind);
  }
  EXPECT_EQ(simulator_only.size(), kinds.size()) << "a SimulatorOnly test without its source";
  const contract::Counts counts = contract::CountFacts(kinds);
  RecordProperty("contract_facts", counts.facts);
  RecordProperty("contract_both", counts.both);
  RecordProperty("contract_simulator_only", counts.simulator_only);
  RecordProperty("contract_wine_deviations", counts.wine_deviations);
  RecordProperty("contract_seen_on_windows", counts.seen_on_windows);
  RecordProperty("contract_documented", counts.documented);
  RecordProperty("contract_inferred", counts.inferred);
}

constexpr wchar_t kSentinel = L'#';

// Splits a multi-string of `count` characters; checks its final extra NUL.
std::vector<std::wstring> SplitMultiString(const wchar_t* buffer, uint32_t count) {
  std::vector<std::wstring> items;
  EXPECT_GE(count, 1u);
  EXPECT_EQ(buffer[count - 1], L'\0');
  for (uint32_t i = 0; i + 1 < count;) {
    std::wstring item(buffer + i);
    i += static_cast<uint32_t>(item.size()) + 1;
    items.push_back(item);
  }
  return items;
}

class SimMachineTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(sim.open_handles(), 0) << sim.DescribeOpenHandles(); }

  // Two volumes: C:\ and a folder mount on the first, nothing on the second.
  void AddTwoVolumes() {
    SimDevice& c = sim.AddVolume(SimMachine::Guid(1), L"\\Device\\HarddiskVolume2");
    c.file_system = SimFileSystem{0x1234ABCD, 8, 512, 100, 1000};
    c.device_number = StorageDeviceNumber{7, 0, 2};
    sim.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\");
    sim.AddVolume(SimMachine::Guid(2), L"\\Device\\HarddiskVolume3");
    sim.AddFolder(L"C:\\mnt\\");
  }

  SimMachine sim;
};

// Windows facts that Wine cannot show (it has no folder mounts, no stacked definitions,
// no mount-point changes, no extents, no media that are not ready, no write-protected
// devices): only the simulated machine answers them. kSimulatorOnlySources gives each
// its source.
class SimulatorOnly : public SimMachineTest {};
// The simulator's own workings, which the other tests build on.
class SimulatorMechanics : public SimMachineTest {};

TEST_F(SimulatorOnly, EnumerationFollowsInsertionOrderAndEndsWithNoMoreFiles) {
  std::wstring name = L"untouched";
  EXPECT_EQ(sim.FindFirstVolume(name), kInvalidHandle);
  EXPECT_EQ(sim.GetLastError(), win_error::kNoMoreFiles);
  EXPECT_EQ(name, L"untouched");

  for (int n : {3, 1, 2}) sim.AddVolume(SimMachine::Guid(n), L"\\Device\\V" + std::to_wstring(n));
  Handle find = sim.FindFirstVolume(name);
  ASSERT_NE(find, kInvalidHandle);
  EXPECT_EQ(sim.open_handles(), 1);
  std::vector<std::wstring> seen{name};
  while (sim.FindNextVolume(find, name)) seen.push_back(name);
  EXPECT_EQ(sim.GetLastError(), win_error::kNoMoreFiles);
  EXPECT_EQ(seen,
            (std::vector<std::wstring>{SimMachine::VolumeGuidPath(3), SimMachine::VolumeGuidPath(1),
                                       SimMachine::VolumeGuidPath(2)}));
  EXPECT_FALSE(sim.CloseHandle(find)) << "a volume search is not a file handle";
  EXPECT_TRUE(sim.FindVolumeClose(find));
  EXPECT_FALSE(sim.FindVolumeClose(find));
  EXPECT_EQ(sim.GetLastError(), win_error::kInvalidHandle);
  EXPECT_FALSE(sim.FindNextVolume(find, name));
  EXPECT_EQ(sim.bad_closes(), 2);
}

TEST_F(SimulatorOnly, VolumePathNamesRespectTheBufferExactly) {
  AddTwoVolumes();
  sim.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\mnt\\");
  const uint32_t needed = 3 + 1 + 7 + 1 + 1;  // "C:\" NUL "C:\mnt\" NUL NUL

  std::vector<wchar_t> buffer(needed + 4, kSentinel);
  uint32_t length = 0;
  EXPECT_FALSE(sim.GetVolumePathNamesForVolumeName(SimMachine::VolumeGuidPath(1), buffer.data(),
                                                   needed - 1, &length));
  EXPECT_EQ(sim.GetLastError(), win_error::kMoreData);
  EXPECT_EQ(length, needed);
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), kSentinel),
            static_cast<std::ptrdiff_t>(buffer.size()));

  ASSERT_TRUE(sim.GetVolumePathNamesForVolumeName(SimMachine::VolumeGuidPath(1), buffer.data(),
                                                  needed, &length));
  EXPECT_EQ(length, needed);
  EXPECT_EQ(SplitMultiString(buffer.data(), needed),
            (std::vector<std::wstring>{L"C:\\", L"C:\\mnt\\"}));
  EXPECT_EQ(buffer[needed], kSentinel);

  // No mount paths: an empty list, just the terminating NUL.
  ASSERT_TRUE(sim.GetVolumePathNamesForVolumeName(SimMachine::VolumeGuidPath(2), buffer.data(), 1,
                                                  &length));
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(buffer[0], L'\0');
}

TEST_F(SimulatorOnly, DefineDosDeviceStacksAndRemovesByPrefix) {
  struct Step {
    uint32_t flags;
    const wchar_t* target;  // null: no target
    bool ok;
    uint32_t error;
    std::vector<std::wstring> targets_after;  // of X:, most recent first
  };
  const std::wstring raw1 = L"\\Device\\HarddiskVolume1";
  const std::wstring raw12 = L"\\Device\\HarddiskVolume12";
  // The targets as QueryDosDevice lists them, most recent first.
  const auto Targets = [this](const std::wstring& name) {
    std::vector<wchar_t> buffer(256, kSentinel);
    const uint32_t count = sim.QueryDosDevice(&name, buffer.data(), 256, ApiForm::Wide);
    return count ? SplitMultiString(buffer.data(), count) : std::vector<std::wstring>{};
  };
  const std::vector<Step> steps = {
      {0, nullptr, false, win_error::kInvalidParameter, {}},
      {ddd::kRemoveDefinition, nullptr, false, win_error::kFileNotFound, {}},
      {ddd::kRawTargetPath, raw12.c_str(), true, 0, {raw12}},
      {ddd::kRawTargetPath, raw1.c_str(), true, 0, {raw1, raw12}},
      {0, L"C:\\temp", true, 0, {L"\\??\\C:\\temp", raw1, raw12}},
      // Without the raw flag the compare text gets the \??\ prefix too.
      {ddd::kRemoveDefinition,
       raw1.c_str(),
       false,
       win_error::kFileNotFound,
       {L"\\??\\C:\\temp", raw1, raw12}},
      // Exact match finds only \Device\HarddiskVolume1 itself ...
      {ddd::kRemoveDefinition | ddd::kRawTargetPath | ddd::kExactMatchOnRemove,
       L"\\device\\harddiskvolume1",
       true,
       0,
       {L"\\??\\C:\\temp", raw12}},
      {ddd::kRemoveDefinition | ddd::kRawTargetPath | ddd::kExactMatchOnRemove,
       L"\\Device\\HarddiskVolume",
       false,
       win_error::kFileNotFound,
       {L"\\??\\C:\\temp", raw12}},
      // ... a prefix removes the first definition it begins.
      {ddd::kRemoveDefinition | ddd::kRawTargetPath,
       L"\\Device\\HarddiskVolume",
       true,
       0,
       {L"\\??\\C:\\temp"}},
      {ddd::kRemoveDefinition, nullptr, true, 0, {}},
      {ddd::kRemoveDefinition, nullptr, false, win_error::kFileNotFound, {}},
  };
  sim.DefineDosName(L"A:", L"\\Device\\Floppy0");
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    const Step& step = steps[i];
    const std::wstring target = step.target ? step.target : L"";
    sim.SetLastError(0);
    EXPECT_EQ(
        sim.DefineDosDevice(step.flags, L"X:", step.target ? &target : nullptr, ApiForm::Wide),
        step.ok);
    EXPECT_EQ(sim.GetLastError(), step.error);
    EXPECT_EQ(Targets(L"x:"), step.targets_after);
  }
  // X: left the namespace when its stack ran empty; defined again it comes last.
  EXPECT_EQ(sim.DosNames(), std::vector<std::wstring>{L"A:"});
  const std::wstring target = raw1;
  EXPECT_TRUE(sim.DefineDosDevice(ddd::kRawTargetPath, L"X:", &target, ApiForm::Wide));
  sim.DefineDosName(L"Z:", L"\\Device\\Floppy1");
  // A definition stacked under another spelling of the name keeps the name's place.
  sim.DefineDosName(L"x:", L"\\??\\C:\\temp");
  EXPECT_EQ(sim.DosNames(), (std::vector<std::wstring>{L"A:", L"X:", L"Z:"}));
  EXPECT_EQ(Targets(L"X:"), (std::vector<std::wstring>{L"\\??\\C:\\temp", raw1}));
}

TEST_F(SimulatorOnly, MountPointsFollowTrailingBackslashAndOccupancyRules) {
  AddTwoVolumes();
  const std::wstring v2 = SimMachine::VolumeGuidPath(2);
  std::wstring v2_bare = v2;
  v2_bare.pop_back();
  sim.DefineDosName(L"E:", L"\\Device\\CdRom0");
  struct Case {
    const wchar_t* mount;
    std::wstring volume;
    uint32_t error;  // 0 = success
  } const cases[] = {
      {L"F:", v2, win_error::kInvalidName},
      {L"F:\\", v2_bare, win_error::kInvalidParameter},
      {L"F:\\", SimMachine::VolumeGuidPath(5), win_error::kInvalidParameter},
      {L"c:\\", v2, win_error::kDirNotEmpty},
      {L"e:\\", v2, win_error::kDirNotEmpty},
      {L"C:\\nowhere\\", v2, win_error::kPathNotFound},
      {L"f:\\", v2, 0},
      {L"C:\\MNT\\", v2, 0},
      {L"C:\\mnt\\", v2, win_error::kDirNotEmpty},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.mount, c.mount + std::wcslen(c.mount)));
    EXPECT_EQ(sim.SetVolumeMountPoint(c.mount, c.volume), c.error == 0);
    if (c.error) {
      EXPECT_EQ(sim.GetLastError(), c.error);
    }
  }
  EXPECT_EQ(sim.MountPaths(v2), (std::vector<std::wstring>{L"f:\\", L"C:\\MNT\\"}));
  EXPECT_EQ(sim.DosTargets(L"F:"), std::vector<std::wstring>{L"\\Device\\HarddiskVolume3"});

  EXPECT_FALSE(sim.DeleteVolumeMountPoint(L"F:"));
  EXPECT_EQ(sim.GetLastError(), win_error::kInvalidName);
  EXPECT_FALSE(sim.DeleteVolumeMountPoint(L"G:\\"));
  EXPECT_EQ(sim.GetLastError(), win_error::kFileNotFound);
  EXPECT_FALSE(sim.DeleteVolumeMountPoint(L""));
  EXPECT_EQ(sim.GetLastError(), win_error::kInvalidParameter);
  EXPECT_TRUE(sim.DeleteVolumeMountPoint(L"F:\\"));
  EXPECT_TRUE(sim.DeleteVolumeMountPoint(L"c:\\mnt\\"));
  EXPECT_TRUE(sim.MountPaths(v2).empty());
  EXPECT_TRUE(sim.DosTargets(L"F:").empty());
  EXPECT_TRUE(sim.SetVolumeMountPoint(L"F:\\", v2)) << "the letter is free again";
}

TEST_F(SimulatorOnly, DriveTypesComeFromTheDeviceTheRootLeadsTo) {
  AddTwoVolumes();
  sim.AddVolume(SimMachine::Guid(3), L"\\Device\\CdRom0").drive_type = drive_type::kCdrom;
  sim.AddMountPath(SimMachine::VolumeGuidPath(3), L"D:\\");
  sim.DefineDosName(L"S:", L"\\??\\C:\\temp");
  sim.DefineDosName(L"T:", L"\\??\\D:");  // a link to a link still reaches the CD drive
  sim.SetDriveType(L'r', drive_type::kRemote);
  struct Case {
    const wchar_t* root;
    uint32_t type;
  } const cases[] = {
      {L"d:\\", drive_type::kCdrom},
      {L"S:\\", drive_type::kFixed},
      {L"T:\\", drive_type::kCdrom},
      {L"R:\\", drive_type::kRemote},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.root, c.root + std::wcslen(c.root)));
    EXPECT_EQ(sim.GetDriveType(c.root, ApiForm::Wide), c.type);
  }
}

TEST_F(SimulatorOnly, FreeSpaceAndVolumeInformationResolveRoots) {
  AddTwoVolumes();
  sim.SetVolumeMountPoint(L"C:\\mnt\\", SimMachine::VolumeGuidPath(1));
  sim.Device(L"\\device\\harddiskvolume3").open_error = win_error::kNotReady;
  std::wstring guid_bare = SimMachine::VolumeGuidPath(1);
  guid_bare.pop_back();
  struct Case {
    std::wstring root;
    uint32_t error;
  } const cases[] = {
      {L"C:\\", 0},
      {L"c:\\\\", 0},
      {SimMachine::VolumeGuidPath(1), 0},
      {L"\\??\\Volume" + SimMachine::Guid(1) + L"\\", 0},
      {L"C:\\MNT\\", 0},
      {guid_bare, win_error::kInvalidName},
      {L"Q:\\", win_error::kPathNotFound},
      {SimMachine::VolumeGuidPath(2), win_error::kNotReady},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.root.begin(), c.root.end()));
    uint32_t spc = 0, bps = 0, free = 0, total = 0, serial = 0;
    EXPECT_EQ(sim.GetDiskFreeSpace(c.root, &spc, &bps, &free, &total, ApiForm::Wide), c.error == 0);
    EXPECT_EQ(sim.GetVolumeInformation(c.root, &serial, nullptr, nullptr), c.error == 0);
    if (c.error) {
      EXPECT_EQ(sim.GetLastError(), c.error);
    } else {
      EXPECT_EQ(serial, 0x1234ABCDu);
      EXPECT_EQ(total, 1000u);
    }
  }
  sim.Device(L"\\Device\\HarddiskVolume3").open_error = 0;
  EXPECT_FALSE(sim.GetVolumeInformation(SimMachine::VolumeGuidPath(2), nullptr, nullptr, nullptr));
  EXPECT_EQ(sim.GetLastError(), win_error::kUnrecognizedVolume);
}

TEST_F(SimulatorOnly, CreateFileOpensDevicesOfEveryFormUnlessWriteIsDenied) {
  AddTwoVolumes();
  sim.Device(L"\\Device\\HarddiskVolume3").write_open_error = win_error::kAccessDenied;
  std::wstring c_device = SimMachine::VolumeGuidPath(1);
  c_device.pop_back();
  struct Case {
    std::wstring path;
    uint32_t access;
    uint32_t error;
  } const cases[] = {
      {c_device, 0, 0},
      {L"\\\\.\\c:", file_access::kGenericRead | file_access::kGenericWrite, 0},
      {L"\\??\\C:", 0, 0},
      {L"\\\\.\\Q:", 0, win_error::kFileNotFound},
      {L"\\\\?\\Volume" + SimMachine::Guid(2), file_access::kGenericRead, 0},
      {L"\\\\?\\Volume" + SimMachine::Guid(2), file_access::kGenericWrite,
       win_error::kAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.path.begin(), c.path.end()));
    const Handle h =
        sim.CreateFile(c.path, c.access, 3, file_access::kOpenExisting, 0, ApiForm::Wide);
    EXPECT_EQ(h == kInvalidHandle, c.error != 0);
    if (h == kInvalidHandle) {
      EXPECT_EQ(sim.GetLastError(), c.error);
    } else {
      EXPECT_EQ(sim.open_handles(), 1);
      EXPECT_TRUE(sim.CloseHandle(h));
    }
  }
  EXPECT_EQ(sim.calls().front().flags, 0u);
  EXPECT_EQ(sim.calls().front().share_mode, 3u);
  EXPECT_EQ(sim.bad_closes(), 0);
}

TEST_F(SimulatorOnly, DeviceRequestsCheckSizesAndNeverWritePastTheBuffer) {
  AddTwoVolumes();
  SimDevice& c = sim.Device(L"\\Device\\HarddiskVolume2");
  c.extents = {{1, 1048576, 500}, {2, 2048, 700}};
  c.partition = SimMachine::MbrPartition(2, 1048576, 500);
  const Handle h = sim.CreateFile(L"\\\\.\\C:", 0, 3, file_access::kOpenExisting, 0, ApiForm::Wide);
  ASSERT_NE(h, kInvalidHandle);

  struct Case {
    uint32_t code;
    uint32_t out_size;
    uint32_t error;     // 0 = success
    uint32_t returned;  // bytes_returned
  } const cases[] = {
      {ioctl::kStorageGetDeviceNumber, 12, 0, 12},
      {ioctl::kVolumeGetVolumeDiskExtents, 31, win_error::kInsufficientBuffer, 0},
      {ioctl::kVolumeGetVolumeDiskExtents, 32, win_error::kMoreData, 8},
      {ioctl::kVolumeGetVolumeDiskExtents, 55, win_error::kMoreData, 8},
      {ioctl::kVolumeGetVolumeDiskExtents, 56, 0, 56},
      {ioctl::kDiskGetPartitionInfoEx, 143, win_error::kInsufficientBuffer, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code << std::dec << " size " << c.out_size);
    std::vector<uint8_t> out(c.out_size + 16, 0xEE);
    uint32_t returned = 999;
    EXPECT_EQ(sim.DeviceIoControl(h, c.code, nullptr, 0, out.data(), c.out_size, &returned),
              c.error == 0);
    if (c.error) {
      EXPECT_EQ(sim.GetLastError(), c.error);
    }
    EXPECT_EQ(returned, c.returned);
    for (size_t i = c.out_size; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << i;
    if (c.code == ioctl::kVolumeGetVolumeDiskExtents && c.returned > 0) {
      uint32_t count = 0;
      std::memcpy(&count, out.data(), 4);
      EXPECT_EQ(count, 2u) << "the header tells how many extents there are";
    }
    if (c.code == ioctl::kVolumeGetVolumeDiskExtents && c.error == 0) {
      DiskExtent second;
      std::memcpy(&second, out.data() + kFirstExtentOffset + sizeof(DiskExtent), sizeof second);
      EXPECT_EQ(second.DiskNumber, 2u);
      EXPECT_EQ(second.StartingOffset, 2048);
      EXPECT_EQ(second.ExtentLength, 700);
    }
  }

  // A failed close must not disturb the error of the request before it.
  uint32_t returned = 0;
  EXPECT_FALSE(sim.DeviceIoControl(h, 0x1, nullptr, 0, nullptr, 0, &returned));
  EXPECT_TRUE(sim.CloseHandle(h));
  EXPECT_EQ(sim.GetLastError(), win_error::kInvalidFunction);
  EXPECT_FALSE(
      sim.DeviceIoControl(h, ioctl::kStorageGetDeviceNumber, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(sim.GetLastError(), win_error::kInvalidHandle);
  EXPECT_FALSE(sim.CloseHandle(h));
  EXPECT_EQ(sim.bad_closes(), 1);
}

TEST_F(SimulatorMechanics, VolumeNameForMountPointThroughTheLoadedModule) {
  AddTwoVolumes();
  sim.DefineDosName(L"K:", L"\\Device\\HarddiskVolume3");
  const Module kernel32 = sim.LoadLibrary(L"KERNEL32.DLL", ApiForm::Ansi);
  ASSERT_NE(kernel32, 0u);
  EXPECT_EQ(sim.GetProcAddress(kernel32, "getvolumenameforvolumemountpointa"), 0u);
  EXPECT_EQ(sim.GetLastError(), win_error::kProcNotFound);
  const ProcAddress function = sim.GetProcAddress(kernel32, "GetVolumeNameForVolumeMountPointA");
  ASSERT_NE(function, 0u);

  const std::string v1 = sim.ToAnsi(SimMachine::VolumeGuidPath(1));
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_FALSE(sim.CallGetVolumeNameForVolumeMountPoint(function, "C:\\", buffer,
                                                        static_cast<uint32_t>(v1.size())));
  EXPECT_EQ(buffer[0], '#');
  struct Case {
    const char* mount;
    std::string volume;  // empty: fails with error
    uint32_t error;
  } const cases[] = {
      {"c:\\", v1, 0},
      {v1.c_str(), v1, 0},
      {"K:\\", sim.ToAnsi(SimMachine::VolumeGuidPath(2)), 0},
      {"C:", "", win_error::kInvalidName},
      {"Q:\\", "", win_error::kFileNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mount);
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(sim.CallGetVolumeNameForVolumeMountPoint(function, c.mount, buffer,
                                                       static_cast<uint32_t>(v1.size() + 1)),
              c.error == 0);
    if (c.error) {
      EXPECT_EQ(sim.GetLastError(), c.error);
    } else {
      EXPECT_EQ(std::string(buffer), c.volume);
      EXPECT_EQ(buffer[v1.size() + 1], '#');
    }
  }
  EXPECT_EQ(sim.open_handles(), 1);
  EXPECT_TRUE(sim.FreeLibrary(kernel32));
  EXPECT_FALSE(sim.FreeLibrary(kernel32));
  EXPECT_EQ(sim.bad_closes(), 1);

  sim.SetLibraryMissing(true);
  EXPECT_EQ(sim.LoadLibrary(L"kernel32.dll", ApiForm::Wide), 0u);
  sim.SetLibraryMissing(false);
  sim.SetExportMissing(true);
  const Module again = sim.LoadLibrary(L"kernel32.dll", ApiForm::Wide);
  EXPECT_EQ(sim.GetProcAddress(again, "GetVolumeNameForVolumeMountPointA"), 0u);
  EXPECT_EQ(sim.GetLastError(), win_error::kProcNotFound);
  sim.FreeLibrary(again);
}

TEST_F(SimulatorMechanics, ScriptedFailuresMatchArgumentFlagsAndCount) {
  AddTwoVolumes();
  sim.Fail(Call::CreateFile, win_error::kSharingViolation, L"volume" + SimMachine::Guid(1));
  sim.Fail(Call::DeviceIoControl, win_error::kNotReady, L"\\\\.\\C:").flags =
      ioctl::kDiskGetPartitionInfoEx;
  sim.Fail(Call::QueryDosDevice, win_error::kNotEnoughMemory).times = 1;

  std::wstring path = SimMachine::VolumeGuidPath(1);
  path.pop_back();
  EXPECT_EQ(sim.CreateFile(path, 0, 7, 3, 0, ApiForm::Ansi), kInvalidHandle);
  EXPECT_EQ(sim.GetLastError(), win_error::kSharingViolation);
  ASSERT_NE(sim.LastCall(Call::CreateFile), nullptr);
  EXPECT_TRUE(sim.LastCall(Call::CreateFile)->failed);

  const Handle h = sim.CreateFile(L"\\\\.\\C:", 0, 0, 3, 0x80, ApiForm::Ansi);
  ASSERT_NE(h, kInvalidHandle);
  uint8_t out[144];
  uint32_t returned = 0;
  EXPECT_TRUE(
      sim.DeviceIoControl(h, ioctl::kStorageGetDeviceNumber, nullptr, 0, out, 12, &returned));
  EXPECT_FALSE(
      sim.DeviceIoControl(h, ioctl::kDiskGetPartitionInfoEx, nullptr, 0, out, 144, &returned));
  EXPECT_EQ(sim.GetLastError(), win_error::kNotReady);
  EXPECT_TRUE(sim.CloseHandle(h));

  wchar_t buffer[64];
  const std::wstring c = L"C:";
  EXPECT_EQ(sim.QueryDosDevice(&c, buffer, 64, ApiForm::Wide), 0u);
  EXPECT_EQ(sim.GetLastError(), win_error::kNotEnoughMemory);
  EXPECT_NE(sim.QueryDosDevice(&c, buffer, 64, ApiForm::Wide), 0u) << "only once";

  sim.ClearFailures();
  EXPECT_NE(sim.CreateFile(path, 0, 7, 3, 0, ApiForm::Ansi), kInvalidHandle);
  sim.CloseHandle(sim.LastCall(Call::CreateFile)->handle);
  EXPECT_EQ(sim.CountCalls(Call::CreateFile), 3);
}

TEST_F(SimulatorMechanics, RandomFailuresRepeatForTheSameStartValue) {
  AddTwoVolumes();
  auto run = [this](uint32_t start) {
    sim.FailAtRandom(start, 30);
    std::vector<bool> outcomes;
    for (int i = 0; i < 200; ++i) {
      const Handle h = sim.CreateFile(L"\\\\.\\C:", 0, 3, 3, 0, ApiForm::Wide);
      outcomes.push_back(h != kInvalidHandle);
      if (h != kInvalidHandle) sim.CloseHandle(h);  // a failing close still releases
    }
    return outcomes;
  };
  const auto first = run(42);
  const auto failures = std::count(first.begin(), first.end(), false);
  EXPECT_GT(failures, 20);
  EXPECT_LT(failures, 120);
  EXPECT_EQ(run(42), first);
  EXPECT_NE(run(43), first);
  sim.FailAtRandom(0, 0);
  EXPECT_EQ(sim.bad_closes(), 0);
}

TEST_F(SimulatorMechanics, AnsiFormsSeeTheCodePage) {
  // U+00E9 fits the code page; U+0416 does not; U+1F600 is a surrogate pair where
  // wchar_t is 16 bits and still one character.
  std::wstring text = L"\u00e9\u0416";
  text += (sizeof(wchar_t) == 2) ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                                 : std::wstring{wchar_t(0x1F600)};
  EXPECT_EQ(sim.ToAnsi(text), "\xe9??");
  EXPECT_EQ(sim.FromAnsi("\xe9?"), L"\u00e9?");

  sim.DefineDosName(L"Dr\u0416ve", L"\\Device\\X\u0416");
  const std::wstring name = L"Dr\u0416ve";
  wchar_t buffer[32];
  ASSERT_NE(sim.QueryDosDevice(&name, buffer, 32, ApiForm::Wide), 0u);
  EXPECT_EQ(std::wstring(buffer), L"\\Device\\X\u0416");
  EXPECT_EQ(sim.QueryDosDevice(&name, buffer, 32, ApiForm::Ansi), 0u)
      << "the ANSI form asks for Dr?ve";
  ASSERT_EQ(sim.QueryDosDevice(nullptr, buffer, 32, ApiForm::Ansi), 7u);
  EXPECT_EQ(std::wstring(buffer), L"Dr?ve");
}

}  // namespace
}  // namespace vol
