// The scan of the machine, the queries it makes and the rows it gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/scan.h"
#include "devices/text_forms.h"
#include "devices/udiskmgmt.h"
#include "tests/sim/sim_machine.h"
#include "tests/unit/fake_view.h"
#include "ui/Ufrmvolume.h"

namespace vol {
namespace {

using Call = SimMachine::Call;

std::wstring HddName(int n) { return L"\\Device\\HarddiskVolume" + std::to_wstring(n); }

class TablesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    EXPECT_EQ(machine.bad_closes(), 0);
  }

  // A hard-disk volume n on disk `disk`, partition `part`, mounted at `mounts`.
  SimDevice& AddDiskVolume(int n, uint32_t disk, uint32_t part,
                           const std::vector<std::wstring>& mounts = {}) {
    SimDevice& device = machine.AddVolume(SimMachine::Guid(n), HddName(n));
    device.device_number = StorageDeviceNumber{7, disk, part};
    device.file_system = SimFileSystem{
        .serial = 0xA000u + static_cast<uint32_t>(n), .free_clusters = 10, .total_clusters = 100};
    for (const std::wstring& mount : mounts) {
      machine.AddMountPath(SimMachine::VolumeGuidPath(n), mount);
    }
    return device;
  }

  std::vector<std::wstring> VolumeNames(const MachineScan& scan) const {
    std::vector<std::wstring> names;
    for (const VolumeRecord& volume : scan.volumes) names.push_back(volume.guid_path);
    return names;
  }

  SimMachine machine;
};

// ---------------------------------------------------------------- GetVolume_Storage

TEST_F(TablesTest, VolumeStorageOpensTheDevicePathWithOrWithoutTrailingBackslash) {
  AddDiskVolume(1, 2, 3);
  const std::wstring guid_path = SimMachine::VolumeGuidPath(1);
  for (const std::wstring& name : {guid_path, WithoutTrailingBackslash(guid_path)}) {
    SCOPED_TRACE(name);
    machine.ClearCalls();
    std::wstring error;
    const std::optional<StorageDeviceNumber> number = GetVolume_Storage(machine, name, error);
    ASSERT_TRUE(number.has_value());
    EXPECT_EQ(number->DeviceType, 7u);
    EXPECT_EQ(number->DeviceNumber, 2u);
    EXPECT_EQ(number->PartitionNumber, 3u);
    ASSERT_EQ(machine.CountCalls(Call::CreateFile), 1);
    const auto& open = machine.calls().front();
    EXPECT_EQ(open.call, Call::CreateFile);
    EXPECT_EQ(open.argument, WithoutTrailingBackslash(guid_path));
    EXPECT_EQ(open.flags, file_access::kNone);
    EXPECT_EQ(open.share_mode,
              file_access::kShareRead | file_access::kShareWrite | file_access::kShareDelete);
    EXPECT_EQ(open.disposition, file_access::kOpenExisting);
    EXPECT_EQ(open.attributes, 0u);
    EXPECT_EQ(open.form, edition::kApi);
    EXPECT_EQ(machine.CountCalls(Call::CloseHandle), 1);
  }
}

TEST_F(TablesTest, VolumeStorageGivesTheSystemTextWhenOpenOrRequestFails) {
  struct Case {
    const char* what;
    uint32_t open_error;
    uint32_t request_error;
  };
  for (const Case& c : {Case{"open refused", win_error::kAccessDenied, 0},
                        Case{"request refused", 0, win_error::kInvalidFunction}}) {
    SCOPED_TRACE(c.what);
    SimMachine local;
    SimDevice& device = local.AddVolume(SimMachine::Guid(1), HddName(1));
    device.open_error = c.open_error;
    if (c.request_error != 0) device.device_number_error = c.request_error;
    const uint32_t error = c.open_error != 0 ? c.open_error : c.request_error;
    std::wstring text;
    EXPECT_FALSE(GetVolume_Storage(local, SimMachine::VolumeGuidPath(1), text).has_value());
    EXPECT_EQ(text, SystemErrorText(local, error));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(local.open_handles(), 0) << local.DescribeOpenHandles();
  }
}

// ---------------------------------------------------------------- GetVolumeExtent

TEST_F(TablesTest, VolumeExtentGivesTheFirstExtentOnly) {
  SimDevice& device = AddDiskVolume(1, 0, 1);
  device.extents = {DiskExtent{4, 1048576, 500000000}, DiskExtent{6, 2048, 7}};
  const auto extent = GetVolumeExtent(machine, SimMachine::VolumeGuidPath(1));
  ASSERT_TRUE(extent.has_value());
  EXPECT_EQ(extent->DiskNumber, 4u);
  EXPECT_EQ(extent->StartingOffset, 1048576);
  EXPECT_EQ(extent->ExtentLength, 500000000);

  const auto& open = machine.calls().front();
  EXPECT_EQ(open.argument, WithoutTrailingBackslash(SimMachine::VolumeGuidPath(1)));
  EXPECT_EQ(open.flags, file_access::kGenericRead | file_access::kGenericWrite);
  EXPECT_EQ(open.share_mode, file_access::kShareRead | file_access::kShareWrite);
  for (const auto& call : machine.calls()) {
    if (call.call == Call::DeviceIoControl) {
      EXPECT_EQ(call.flags, ioctl::kVolumeGetVolumeDiskExtents);
      EXPECT_EQ(call.buffer_size, 260u);
    }
  }
}

TEST_F(TablesTest, VolumeExtentIsNoneWheneverNothingCanBeRead) {
  struct Case {
    const char* what;
    void (*set_up)(SimDevice&);
  };
  const Case cases[] = {
      {"open refused", [](SimDevice& d) { d.open_error = win_error::kAccessDenied; }},
      {"write access refused", [](SimDevice& d) { d.write_open_error = win_error::kAccessDenied; }},
      {"request refused", [](SimDevice& d) { d.extents_error = win_error::kInvalidFunction; }},
      {"no extents", [](SimDevice& d) { d.extents.clear(); }},
      {"spanned over more extents than fit",
       [](SimDevice& d) {
         d.extents.assign(11, DiskExtent{3, 512, 1024});
       }},
      // A reply that claims extents but stops after its header: the unread part of the
      // buffer was zero, never stale.
      {"header only",
       [](SimDevice& d) { d.raw_extents_reply = std::vector<uint8_t>{5, 0, 0, 0, 0, 0, 0, 0}; }},
      // No extent counted: whatever follows the header is not an extent.
      {"count zero, bytes after it",
       [](SimDevice& d) {
         std::vector<uint8_t> reply(32, 0);
         reply[8] = 7;
         reply[16] = 1;
         d.raw_extents_reply = reply;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimMachine local;
    SimDevice& device = local.AddVolume(SimMachine::Guid(1), HddName(1));
    c.set_up(device);
    std::optional<DiskExtent> extent;
    EXPECT_NO_THROW(extent = GetVolumeExtent(local, SimMachine::VolumeGuidPath(1)));
    EXPECT_FALSE(extent.has_value());
    EXPECT_EQ(local.open_handles(), 0) << local.DescribeOpenHandles();
  }
}

TEST_F(TablesTest, VolumeExtentTrustsNoCountBeyondTheBuffer) {
  // Header claiming 0xFFFFFFFF extents, then one extent on disk 9.
  std::vector<uint8_t> reply(260, 0);
  reply[0] = reply[1] = reply[2] = reply[3] = 0xFF;
  reply[8] = 9;
  SimDevice& device = machine.AddVolume(SimMachine::Guid(1), HddName(1));
  device.raw_extents_reply = reply;
  EXPECT_EQ(GetVolumeExtent(machine, SimMachine::VolumeGuidPath(1)).value().DiskNumber, 9u);
}

// ---------------------------------------------------------------- GetShadowCopyDevices

TEST_F(TablesTest, ShadowCopyListTakesOnlyShadowCopyNamesInSystemOrder) {
  machine.DefineDosName(L"HarddiskVolume1", HddName(1));
  machine.DefineDosName(L"HarddiskVolumeShadowCopy1", L"\\Device\\HarddiskVolumeShadowCopy1");
  machine.DefineDosName(L"COM1", L"\\Device\\Serial0");
  machine.DefineDosName(L"harddiskvolumeshadowcopy12", L"\\Device\\HarddiskVolumeShadowCopy12");
  machine.DefineDosName(L"HarddiskVolumeShadow", L"\\Device\\Null");  // too short to match

  std::optional<std::vector<std::wstring>> list;
  GetShadowCopyDevices(machine, list);
  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(*list, (std::vector<std::wstring>{L"HarddiskVolumeShadowCopy1",
                                              L"harddiskvolumeshadowcopy12"}));
  for (const auto& call : machine.calls()) {
    if (call.call == Call::QueryDosDevice) {
      EXPECT_EQ(call.form, edition::kApi);
    }
  }
}

TEST_F(TablesTest, ShadowCopyListKeepsWhatTheCallerAlreadyHad) {
  machine.DefineDosName(L"HarddiskVolumeShadowCopy3", L"\\Device\\HarddiskVolumeShadowCopy3");
  std::optional<std::vector<std::wstring>> list =
      std::vector<std::wstring>{L"first", L"HarddiskVolumeShadowCopy3"};
  GetShadowCopyDevices(machine, list);
  EXPECT_EQ(*list, (std::vector<std::wstring>{L"first", L"HarddiskVolumeShadowCopy3",
                                              L"HarddiskVolumeShadowCopy3"}));
}

// ---------------------------------------------------------------- the volumes of a scan

TEST_F(TablesTest, OpticalAndFloppyVolumesAreLeftOutAndAskedNothingMore) {
  AddDiskVolume(1, 0, 1, {L"C:\\"});
  machine.AddVolume(SimMachine::Guid(2), L"\\Device\\CdRom0").drive_type = drive_type::kCdrom;
  machine.AddVolume(SimMachine::Guid(3), L"\\Device\\Floppy0").drive_type = drive_type::kRemovable;
  AddDiskVolume(4, 1, 1);
  machine.AddVolume(SimMachine::Guid(5), L"\\Device\\Some\\CDROM9");  // any case

  const MachineScan scan = Scan(machine, {});
  EXPECT_EQ(VolumeNames(scan), (std::vector<std::wstring>{SimMachine::VolumeGuidPath(1),
                                                          SimMachine::VolumeGuidPath(4)}));
  EXPECT_EQ(scan.volumes[1].nt_name, HddName(4));
  EXPECT_TRUE(scan.drives.empty() && scan.shadows.empty());  // not asked for
  EXPECT_EQ(machine.CountCalls(Call::GetVolumePathNamesForVolumeName), 2);
  EXPECT_TRUE(machine.messages().empty());
  EXPECT_EQ(machine.CountCalls(Call::FindVolumeClose), 1);
}

TEST_F(TablesTest, MountPathsAreTheSystemsListAndPathNameItsFirst) {
  AddDiskVolume(1, 0, 1);                            // no mount path
  AddDiskVolume(2, 0, 2, {L"D:\\", L"C:\\mnt\\"});   // letter first
  AddDiskVolume(3, 0, 3, {L"C:\\data\\", L"E:\\"});  // folder first
  const MachineScan scan = Scan(machine, {});
  EXPECT_EQ(scan.volumes[2].mount_paths, (std::vector<std::wstring>{L"C:\\data\\", L"E:\\"}));
  const std::vector<ListRecord> rows = ShownRecords(scan);
  EXPECT_EQ(rows[0].pathname, L"");
  EXPECT_EQ(rows[1].pathname, L"D:\\");
  EXPECT_EQ(rows[2].pathname, L"C:\\data\\");
}

TEST_F(TablesTest, MountPathsSurviveAListLongerThanMaxPath) {
  std::vector<std::wstring> mounts;
  for (int i = 0; i < 12; ++i) {
    mounts.push_back(L"C:\\mounted\\in\\a\\rather\\deep\\folder" + std::to_wstring(i) + L"\\");
  }
  AddDiskVolume(1, 0, 1, mounts);
  EXPECT_EQ(Scan(machine, {}).volumes[0].mount_paths, mounts);

  std::vector<uint32_t> sizes;
  for (const auto& call : machine.calls()) {
    if (call.call == Call::GetVolumePathNamesForVolumeName) sizes.push_back(call.buffer_size);
  }
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0], 260u);
  EXPECT_GT(sizes[1], 260u);
}

TEST_F(TablesTest, DiskAndPartitionNumbersFallBackInOrder) {
  AddDiskVolume(1, 258, 259);  // only the low 8 bits are shown
  SimDevice& spanned = AddDiskVolume(2, 0, 0);
  spanned.device_number.reset();
  spanned.extents = {DiskExtent{5, 0, 1 << 20}, DiskExtent{6, 0, 1 << 20}};
  AddDiskVolume(3, 0, 0).open_error = win_error::kAccessDenied;
  SimDevice& no_extents = AddDiskVolume(4, 0, 0);
  no_extents.device_number.reset();
  no_extents.extents_error = win_error::kInvalidFunction;
  // Errors inside the queries (out of memory while the path is converted) fall back as
  // failed requests do: volume 5's number query, and both of volume 6's.
  AddDiskVolume(5, 0, 0).extents = {DiskExtent{8, 0, 1 << 20}};
  SimMachine::FailureRule& once = machine.Fail(Call::CreateFile, 0, SimMachine::Guid(5));
  once.times = 1;
  once.throws = true;
  AddDiskVolume(6, 0, 0);
  machine.Fail(Call::CreateFile, 0, SimMachine::Guid(6)).throws = true;

  const MachineScan scan = Scan(machine, {});
  const std::vector<ListRecord> rows = ShownRecords(scan);
  struct Expected {
    uint8_t disk, part;
  };
  const Expected expected[] = {{2, 3}, {5, 255}, {255, 255}, {255, 255}, {8, 255}, {255, 255}};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].disknumber, expected[i].disk);
    EXPECT_EQ(rows[i].partitionnumber, expected[i].part);
    // Why the device number is missing stays with the volume.
    EXPECT_EQ(scan.volumes[i].device_number_error.empty(), i == 0);
  }
  EXPECT_EQ(scan.volumes[2].device_number_error,
            SystemErrorText(machine, win_error::kAccessDenied));
  EXPECT_EQ(scan.volumes[4].device_number_error, L"std::bad_alloc");
  EXPECT_TRUE(machine.messages().empty());  // a failing number query is not reported
}

TEST_F(TablesTest, SizeAndSerialFollowTheEdition) {
  SimDevice& big = AddDiskVolume(1, 0, 1);
  big.file_system = SimFileSystem{
      .serial = 0x1F, .sectors_per_cluster = 8, .bytes_per_sector = 512, .total_clusters = 1000};
  AddDiskVolume(2, 0, 2).file_system.reset();  // no readable file system
  const std::vector<ListRecord> rows = ShownRecords(Scan(machine, {}));
  if (edition::kVolumeSizeAndSerial) {
    EXPECT_EQ(rows[0].size, 1001 * 4096);
    EXPECT_EQ(rows[0].serial, L"001F");
    EXPECT_EQ(rows[1].size, 0);
    EXPECT_EQ(rows[1].serial, L"");
    for (const auto& call : machine.calls()) {
      if (call.call == Call::GetDiskFreeSpace || call.call == Call::GetVolumeInformation) {
        EXPECT_EQ(call.argument.back(), L'\\');  // asked with the enumerated name
      }
    }
  } else {
    EXPECT_EQ(machine.CountCalls(Call::GetDiskFreeSpace), 0);
    EXPECT_EQ(machine.CountCalls(Call::GetVolumeInformation), 0);
    EXPECT_EQ(rows[0].size, 0);
    EXPECT_EQ(rows[0].serial, L"");
  }
}

TEST_F(TablesTest, EnumerationFailingAtTheStartSaysWhyOnceAndFindsNoVolume) {
  AddDiskVolume(1, 0, 1, {L"C:\\"});
  machine.Fail(Call::FindFirstVolume, win_error::kAccessDenied);
  std::vector<std::wstring> reasons;
  const MachineScan scan = Scan(
      machine, {.search_failed = [&](const std::wstring& reason) { reasons.push_back(reason); }});
  EXPECT_TRUE(scan.volumes.empty());
  EXPECT_EQ(reasons, std::vector<std::wstring>{L"invalid handle"});
  EXPECT_TRUE(machine.messages().empty());  // the caller says it
  EXPECT_EQ(machine.CountCalls(Call::FindVolumeClose), 0);
}

TEST_F(TablesTest, EnumerationEndingEarlyKeepsWhatItHadAndClosesTheSearch) {
  AddDiskVolume(1, 0, 1);
  AddDiskVolume(2, 0, 2);
  machine.Fail(Call::FindNextVolume, win_error::kNotReady);
  EXPECT_EQ(VolumeNames(Scan(machine, {})),
            (std::vector<std::wstring>{SimMachine::VolumeGuidPath(1)}));
  EXPECT_EQ(machine.CountCalls(Call::FindVolumeClose), 1);

  // An error that no volume's fallbacks take ends the search in the same way, and says why.
  machine.ClearFailures();
  AddDiskVolume(3, 0, 3);
  machine.Fail(Call::GetVolumePathNamesForVolumeName, 0, SimMachine::Guid(3)).throws = true;
  std::vector<std::wstring> reasons;
  const auto told = [&](const std::wstring& reason) { reasons.push_back(reason); };
  EXPECT_EQ(
      VolumeNames(Scan(machine, {.search_failed = told})),
      (std::vector<std::wstring>{SimMachine::VolumeGuidPath(1), SimMachine::VolumeGuidPath(2)}));
  EXPECT_EQ(reasons, std::vector<std::wstring>{L"std::bad_alloc"});
  EXPECT_EQ(machine.CountCalls(Call::FindVolumeClose), 2);
}

TEST_F(TablesTest, EveryQualifyingVolumeIsListedBeyondSixteen) {
  for (int n = 1; n <= 40; ++n) AddDiskVolume(n, 0, static_cast<uint32_t>(n));
  const MachineScan scan = Scan(machine, {});
  const std::vector<std::wstring> names = VolumeNames(scan);
  ASSERT_EQ(names.size(), 40u);
  for (int n = 1; n <= 40; ++n) EXPECT_EQ(names[n - 1], SimMachine::VolumeGuidPath(n));
  EXPECT_EQ(ShownRecords(scan).size(), 40u);
}

// ---------------------------------------------------------------- size and serial

TEST(VolumeSizeTest, CountsOneClusterMoreInSixtyFourBits) {
  struct Case {
    uint32_t spc, bps, total;
    int64_t size;
  };
  const Case cases[] = {
      {8, 512, 1000, 1001 * 4096},
      {1, 512, 0, 512},
      {128, 512, 0xFFFFFFFFu, int64_t{1} << 48},  // 2^32 clusters of 64 KiB
      {0x20000, 0x10000, 500, 0},                 // the cluster size wraps at 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.spc << " x " << c.bps << " x " << c.total);
    EXPECT_EQ(get_volume_size(FreeSpace{c.spc, c.bps, 0, c.total}), c.size);
  }
  EXPECT_EQ(get_volume_size(std::nullopt), 0);
}

// ---------------------------------------------------------------- DOS-device table

class DosDeviceTableTest : public TablesTest {
 protected:
  // C: system volume, D: optical, E: network, F: floppy, G: memory stick (not a listed
  // volume's letter), N: a letter without root directory, R: RAM disk, A: floppy,
  // U: a letter whose type nobody knows.
  void BuildMachine() {
    AddDiskVolume(1, 0, 1, {L"C:\\"});
    SimDevice& cd = machine.AddVolume(SimMachine::Guid(2), L"\\Device\\CdRom0");
    cd.drive_type = drive_type::kCdrom;
    machine.AddMountPath(SimMachine::VolumeGuidPath(2), L"D:\\");
    machine.DefineDosName(L"E:", L"\\Device\\LanmanRedirector\\;E:0\\server\\share");
    machine.SetDriveType(L'E', drive_type::kRemote);
    machine.AddDevice(L"\\Device\\Floppy1").drive_type = drive_type::kRemovable;
    machine.DefineDosName(L"F:", L"\\Device\\Floppy1");
    SimDevice& stick = machine.AddDevice(L"\\Device\\HarddiskVolume9");
    stick.drive_type = drive_type::kRemovable;
    stick.device_number = StorageDeviceNumber{7, 2, 1};
    machine.DefineDosName(L"G:", L"\\Device\\HarddiskVolume9");
    machine.DefineDosName(L"N:", L"\\??\\C:\\somewhere");
    machine.SetDriveType(L'N', drive_type::kNoRootDir);
    SimDevice& ram = machine.AddDevice(L"\\Device\\Ramdisk0");
    ram.drive_type = drive_type::kRamdisk;
    ram.device_number = StorageDeviceNumber{7, 300, 0};
    machine.DefineDosName(L"R:", L"\\Device\\Ramdisk0");
    machine.AddDevice(L"\\Device\\Floppy0").drive_type = drive_type::kRemovable;
    machine.DefineDosName(L"A:", L"\\Device\\Floppy0");
    machine.DefineDosName(L"U:", L"\\Device\\Mystery");
    machine.SetDriveType(L'U', drive_type::kUnknown);
  }

  std::vector<std::wstring> Drives(const MachineScan& scan) const {
    std::vector<std::wstring> drives;
    for (const DriveRecord& drive : scan.drives) drives.push_back(drive.drive());
    return drives;
  }
};

TEST_F(DosDeviceTableTest, KeepsTheDriveTypesOfTheEditionInLetterOrder) {
  BuildMachine();
  const MachineScan scan = Scan(machine, {.dos_devices = true});
  const std::vector<std::wstring> expected =
      edition::kListNoRootDir ? std::vector<std::wstring>{L"C:", L"G:", L"N:", L"R:"}
                              : std::vector<std::wstring>{L"C:", L"G:", L"R:"};
  EXPECT_EQ(Drives(scan), expected);
  EXPECT_EQ(scan.drives[0].nt_name, HddName(1));
  EXPECT_EQ(scan.drives[1].nt_name, L"\\Device\\HarddiskVolume9");
  EXPECT_EQ(scan.drives[1].type, drive_type::kRemovable);
  ASSERT_TRUE(scan.drives[1].device_number.has_value());
  EXPECT_EQ(scan.drives[1].device_number->DeviceNumber, 2u);
  EXPECT_EQ(scan.drives[1].device_number->PartitionNumber, 1u);
  for (const auto& call : machine.calls()) {
    if (call.call == Call::GetDriveType) {
      EXPECT_EQ(call.form, edition::kApi);
    }
  }
}

TEST_F(DosDeviceTableTest, FailedDeviceNumberReadsAsTwoFiftyFive) {
  SimDevice& stick = machine.AddDevice(L"\\Device\\HarddiskVolume9");
  stick.drive_type = drive_type::kFixed;
  stick.open_error = win_error::kAccessDenied;
  machine.DefineDosName(L"K:", L"\\Device\\HarddiskVolume9");
  const MachineScan scan = Scan(machine, {.dos_devices = true});
  ASSERT_EQ(Drives(scan), std::vector<std::wstring>{L"K:"});
  EXPECT_FALSE(scan.drives[0].device_number.has_value());
  const ListRecord row = ShownRecords(scan).at(0);
  EXPECT_EQ(row.disknumber, 255);
  EXPECT_EQ(row.partitionnumber, 255);
}

TEST_F(DosDeviceTableTest, RowsLeaveOutTheLettersOfListedVolumes) {
  BuildMachine();
  const std::vector<ListRow> rows =
      SortedRows(ShownRecords(Scan(machine, {.dos_devices = true})), {});
  const std::wstring slash = edition::kDosRowBackslash ? L"\\" : L"";
  std::vector<std::pair<std::wstring, std::wstring>> shown;  // PathName, Dos Device
  for (const ListRow& row : rows) {
    if (!row.caption.empty()) continue;  // a volume row
    EXPECT_EQ(row.sub_items.size(), edition::kFull ? 6u : 4u);
    shown.emplace_back(row.sub(kSubPathName), row.sub(kSubDosDevice));
  }
  std::vector<std::pair<std::wstring, std::wstring>> expected{
      {L"G:" + slash, L"\\Device\\HarddiskVolume9"}};
  if (edition::kListNoRootDir) expected.emplace_back(L"N:" + slash, L"\\??\\C:\\somewhere");
  expected.emplace_back(L"R:" + slash, L"\\Device\\Ramdisk0");
  EXPECT_EQ(shown, expected);
  ASSERT_EQ(rows.size(), 1 + expected.size());
  EXPECT_EQ(rows[1].sub(kSubDiskNumber), L"2");
  EXPECT_EQ(rows[1].sub(kSubPartitionNumber), L"1");
  EXPECT_EQ(rows.back().sub(kSubDiskNumber), L"44");  // 300, low 8 bits
  if (edition::kVolumeSizeAndSerial) {
    EXPECT_EQ(rows[1].sub(kSubVolumeSize), L"");
    EXPECT_EQ(rows[1].sub(kSubSerial), L"");
  }
}

TEST(ShownRecordsTest, AVolumesLetterAndADosDeviceTargetCompareWithoutCase) {
  MachineScan scan;
  scan.volumes = {{.guid_path = L"v1", .mount_paths = {L"c:\\"}},
                  {.guid_path = L"v2", .mount_paths = {L"E:\\mnt\\"}},  // a folder on E: counts
                  {.guid_path = L"v3"}};                                // no mount path
  for (const wchar_t letter : {L'C', L'D', L'E'}) scan.drives.push_back({.letter = letter});
  std::vector<std::wstring> shown;
  for (const ListRecord& row : ShownRecords(scan)) shown.push_back(row.pathname);
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"c:\\", L"E:\\mnt\\", L"",
                                              edition::kDosRowBackslash ? L"D:\\" : L"D:"}));

  scan.drives = {{.letter = L'X', .nt_name = L"\\??\\HarddiskVolumeShadowCopy1"}};
  EXPECT_TRUE(is_dosdevice_target(scan.drives, L"\\??\\harddiskvolumeshadowcopy1"));
  EXPECT_FALSE(is_dosdevice_target(scan.drives, L"\\??\\harddiskvolumeshadowcopy2"));
  EXPECT_FALSE(is_dosdevice_target({}, L""));
}

TEST(UnitMaskTest, NamesTheLowestDriveBit) {
  const std::pair<uint32_t, std::wstring> cases[] = {
      {0, L""},          {1u << 0, L"A:"}, {1u << 4, L"E:"},   {(1u << 4) | (1u << 5), L"E:"},
      {1u << 25, L"Z:"}, {1u << 26, L""},  {0xFC000000u, L""}, {0xFC000000u | (1u << 7), L"H:"},
  };
  for (const auto& [mask, drive] : cases) {
    SCOPED_TRACE(mask);
    EXPECT_EQ(unitmask_to_drive(mask), drive);
  }
}

// ---------------------------------------------------------------- list rows

TEST_F(TablesTest, ShadowCopyRowsAreHiddenByALetterThatPointsAtThem) {
  for (int n : {1, 2}) {
    SimDevice& copy = machine.AddDevice(L"\\Device\\HarddiskVolumeShadowCopy" + std::to_wstring(n));
    copy.file_system =
        SimFileSystem{.serial = 0x100u * static_cast<uint32_t>(n), .total_clusters = 99};
    machine.DefineDosName(L"HarddiskVolumeShadowCopy" + std::to_wstring(n),
                          L"\\Device\\HarddiskVolumeShadowCopy" + std::to_wstring(n));
  }
  MachineScan scan = Scan(machine, {.dos_devices = true});
  if (!edition::kShadowCopies) {
    EXPECT_TRUE(scan.shadows.empty());
    return;
  }
  const std::vector<ListRow> rows = SortedRows(ShownRecords(scan), {});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (ListRow{L"",
                              {L"", L"", L"", L"\\??\\harddiskvolumeshadowcopy1",
                               std::to_wstring(100 * 4096), L"0100"}}));
  EXPECT_EQ(rows[1].sub(kSubDosDevice), L"\\??\\harddiskvolumeshadowcopy2");

  // X: defined to the first shadow copy, as "Add Dos Device Letter" on its row does.
  machine.DefineDosName(L"X:", L"\\??\\harddiskvolumeshadowcopy1");
  scan = Scan(machine, {.dos_devices = true});
  ASSERT_EQ(scan.shadows.size(), 1u);
  EXPECT_EQ(scan.shadows[0].target, L"\\??\\harddiskvolumeshadowcopy2");
}

// Disk numbers of 10 and more, serials of differing widths and a lower-case path: a
// sort by the cells' text would give another order for each of these columns.
TEST_F(TablesTest, RowsSortWithinTheirKindByValueKeepingTiesInTableOrder) {
  struct Volume {
    int n;
    uint32_t disk, part;
    const wchar_t* mount;
    uint32_t serial, clusters;
  };
  for (const Volume& v :
       {Volume{9, 10, 2, L"E:\\", 0xFFFF, 99}, Volume{10, 9, 1, L"c:\\data\\", 0x10000, 1000},
        Volume{100, 100, 1, nullptr, 0x1F, 9}, Volume{11, 10, 1, L"D:\\", 0xFFFF, 100}}) {
    AddDiskVolume(v.n, v.disk, v.part,
                  v.mount ? std::vector<std::wstring>{v.mount} : std::vector<std::wstring>{})
        .file_system = SimFileSystem{.serial = v.serial, .total_clusters = v.clusters};
  }
  for (const auto& [letter, disk] : {std::pair{L'G', 12u}, std::pair{L'H', 3u}}) {
    SimDevice& device = machine.AddDevice(L"\\Device\\Ramdisk" + std::to_wstring(disk));
    device.drive_type = drive_type::kRamdisk;
    device.device_number = StorageDeviceNumber{7, disk, 0};
    machine.DefineDosName(std::wstring{letter, L':'}, device.nt_name);
  }
  const std::vector<ListRecord> records = ShownRecords(Scan(machine, {.dos_devices = true}));

  // Each row by its "Dos Device" cell's end.
  const auto order = [&](int sub_item, bool descending) {
    std::wstring names;
    for (const ListRow& row : SortedRows(records, {sub_item + 1, descending})) {
      const std::wstring& device = row.sub(kSubDosDevice);
      names += device.substr(device.find_last_not_of(L"0123456789") + 1) + L" ";
    }
    return names;
  };
  EXPECT_EQ(order(-2, false), L"9 10 100 11 12 3 ") << "unsorted: the tables' order";
  EXPECT_EQ(order(kSubDiskNumber, false), L"10 9 11 100 3 12 ");
  EXPECT_EQ(order(kSubDiskNumber, true), L"100 9 11 10 12 3 ");
  EXPECT_EQ(order(kSubPartitionNumber, false), L"10 100 11 9 12 3 ");
  EXPECT_EQ(order(kSubDosDevice, false), L"9 10 11 100 3 12 ");
  EXPECT_EQ(order(kSubPathName, false), L"100 10 11 9 12 3 ");
  EXPECT_EQ(order(-1, true), L"100 9 11 10 12 3 ") << "by the volume GUID path";
  if (edition::kVolumeSizeAndSerial) {
    EXPECT_EQ(order(kSubVolumeSize, false), L"100 9 11 10 12 3 ");
    EXPECT_EQ(order(kSubSerial, false), L"100 9 11 10 12 3 ");
    EXPECT_EQ(order(kSubSerial, true), L"10 9 11 100 12 3 ");
  }
}

}  // namespace
}  // namespace vol
