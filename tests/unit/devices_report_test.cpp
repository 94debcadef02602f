// GetVolumeReport: whole reports of each edition, compared line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devices/udiskmgmt.h"
#include "tests/sim/sim_machine.h"
#include "ui/edition.h"

namespace vol {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kDevice = L"\\Device\\HarddiskVolume2";
const Guid kBasicData{0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
const Guid kPartitionId{
    0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

void ExpectSameLines(const Lines& actual, const Lines& expected) {
  for (std::size_t i = 0; i < std::max(actual.size(), expected.size()); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(i < actual.size() ? actual[i] : L"<missing>",
              i < expected.size() ? expected[i] : L"<none>");
  }
}

// The index of the first call of a kind, or -1.
int FirstCall(const SimMachine& machine, Call call) {
  const auto& calls = machine.calls();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].call == call) return static_cast<int>(i);
  }
  return -1;
}

class DevicesReport : public ::testing::Test {
 protected:
  DevicesReport() {
    SimDevice& device = machine.AddVolume(SimMachine::Guid(1), kDevice);
    device.device_number = StorageDeviceNumber{7, 0, 2};
    device.partition =
        SimMachine::MbrPartition(2, 1048576, 53687091200, 0x07, /*boot=*/true, /*hidden=*/2048);
    device.file_system = SimFileSystem{.serial = 0x1F,
                                       .sectors_per_cluster = 8,
                                       .bytes_per_sector = 512,
                                       .free_clusters = 192,
                                       .total_clusters = 384};
    machine.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\");
    machine.ClearCalls();
  }
  void TearDown() override {
    EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    EXPECT_EQ(machine.bad_closes(), 0);
  }

  SimDevice& device() { return machine.Device(kDevice); }
  static std::wstring VolumeDevicePath() {
    std::wstring path = SimMachine::VolumeGuidPath(1);
    path.pop_back();
    return path;
  }
  Lines Report(const std::wstring& target) {
    Lines lines{L"left over from before"};
    GetVolumeReport(machine, target, lines);
    return lines;
  }

  // The pieces of a report, put together in each edition's order.
  static Lines Expected(std::wstring disk, Lines partition, const std::wstring& guid,
                        const std::wstring& serial, Lines free_space) {
    if (edition::kFull) {
      if (partition.empty()) partition = {L"->Partition_Info: NONE"};
      return Concat({{L"->Parent DeviceNumber: " + disk},
                     partition,
                     {L"->VolumeGUID: " + guid, L"->Serial:" + serial},
                     free_space});
    }
    return Concat({partition, {L"->DeviceNumber: " + disk, L"->VolumeGUID: " + guid}, free_space});
  }

  const Lines kMbrLines{
      L"->Partition_Info",         L"Style: MBR",
      L"StartingOffset: 1048576",  L"PartitionLength: 53687091200 bytes, 51200 Mbytes",
      L"PartitionNumber: 2",       L"PartitionType: 7",
      L"HiddenSectors: 2048",      L"BootIndicator: True",
      L"RecognizedPartition: True"};
  const Lines kFreeSpaceLines{
      L"->GetDiskFreeSpace",         L"Sectors per cluster: 8",
      L"Bytes per sector: 512",      L"ClusterSize: 4096",
      L"Total clusters: 384 (1 MB)", L"Free Clusters: 192 (0 MB) / Used Clusters: 192 (1 MB)"};
  SimMachine machine;
};

TEST_F(DevicesReport, MbrVolumeWholeReport) {
  const Lines full{L"->Parent DeviceNumber: 0",
                   L"->Partition_Info",
                   L"Style: MBR",
                   L"StartingOffset: 1048576",
                   L"PartitionLength: 53687091200 bytes, 51200 Mbytes",
                   L"PartitionNumber: 2",
                   L"PartitionType: 7",
                   L"HiddenSectors: 2048",
                   L"BootIndicator: True",
                   L"RecognizedPartition: True",
                   L"->VolumeGUID: " + SimMachine::VolumeGuidPath(1),
                   L"->Serial:001F",
                   L"->GetDiskFreeSpace",
                   L"Sectors per cluster: 8",
                   L"Bytes per sector: 512",
                   L"ClusterSize: 4096",
                   L"Total clusters: 384 (1 MB)",
                   L"Free Clusters: 192 (0 MB) / Used Clusters: 192 (1 MB)"};
  const Lines reduced{L"->Partition_Info",
                      L"Style: MBR",
                      L"StartingOffset: 1048576",
                      L"PartitionLength: 53687091200 bytes, 51200 Mbytes",
                      L"PartitionNumber: 2",
                      L"PartitionType: 7",
                      L"HiddenSectors: 2048",
                      L"BootIndicator: True",
                      L"RecognizedPartition: True",
                      L"->DeviceNumber: 0",
                      L"->VolumeGUID: " + SimMachine::VolumeGuidPath(1),
                      L"->GetDiskFreeSpace",
                      L"Sectors per cluster: 8",
                      L"Bytes per sector: 512",
                      L"ClusterSize: 4096",
                      L"Total clusters: 384 (1 MB)",
                      L"Free Clusters: 192 (0 MB) / Used Clusters: 192 (1 MB)"};
  ExpectSameLines(Report(VolumeDevicePath()), edition::kFull ? full : reduced);
}

TEST_F(DevicesReport, OpensOnceAndClosesBeforeTheFreeSpaceQuery) {
  Report(VolumeDevicePath());
  ASSERT_EQ(machine.CountCalls(Call::CreateFile), 1);
  const auto& open = machine.calls()[FirstCall(machine, Call::CreateFile)];
  EXPECT_EQ(open.argument, VolumeDevicePath());
  EXPECT_EQ(open.flags, file_access::kGenericRead);
  EXPECT_EQ(open.share_mode, file_access::kShareRead | file_access::kShareWrite);
  EXPECT_EQ(open.disposition, file_access::kOpenExisting);
  EXPECT_EQ(open.attributes, file_access::kAttributeNormal);
  EXPECT_EQ(open.form, edition::kApi);
  EXPECT_EQ(machine.CountCalls(Call::CloseHandle), 1);
  EXPECT_LT(FirstCall(machine, Call::CloseHandle), FirstCall(machine, Call::GetDiskFreeSpace));
  EXPECT_EQ(machine.CountCalls(Call::GetVolumeInformation), edition::kFull ? 1 : 0);
  EXPECT_EQ(machine.calls()[FirstCall(machine, Call::GetDiskFreeSpace)].form, edition::kApi);
}

TEST_F(DevicesReport, GptVolume) {
  // Top bit set: the attribute word prints as a negative number.
  device().partition = SimMachine::GptPartition(3, 16777216, 1073741824, kBasicData, kPartitionId,
                                                u"Basic data partition", 0x8000000000000001ull);
  const Lines gpt{L"->Partition_Info",
                  L"Style: GPT",
                  L"StartingOffset: 16777216",
                  L"PartitionLength: 1073741824 bytes, 1024 Mbytes",
                  L"PartitionNumber: 3",
                  L"PartitionType: {EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}",
                  L"PartitionId: {01234567-89AB-CDEF-0123-456789ABCDEF}",
                  L"Attributes: -9223372036854775807",
                  L"Name: Basic data partition"};
  ExpectSameLines(Report(VolumeDevicePath()),
                  Expected(L"0", gpt, SimMachine::VolumeGuidPath(1), L"001F", kFreeSpaceLines));
}

TEST_F(DevicesReport, GptNameUpToItsFirstNulInTheBuildsText) {
  const struct {
    std::u16string name;
    std::wstring line;
  } cases[] = {
      // A full field has no NUL; the line stops at the record's end.
      {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", L"Name: ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"},
      {std::u16string(u"EFI\0hidden", 10), L"Name: EFI"},
      {u"", L"Name: "},
      {u"Daten\u00E9\u4E2D", edition::kFull ? L"Name: Daten\u00E9?" : L"Name: Daten\u00E9\u4E2D"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.line));
    device().partition = SimMachine::GptPartition(1, 0, 1048576, kBasicData, kPartitionId, c.name);
    const Lines lines = Report(VolumeDevicePath());
    const std::size_t name_line = edition::kFull ? 9 : 8;
    ASSERT_GT(lines.size(), name_line);
    EXPECT_EQ(lines[name_line - 1], L"Attributes: 0");
    EXPECT_EQ(lines[name_line], c.line);
  }
}

TEST_F(DevicesReport, RawAndUnknownStylesStopAfterThePartitionNumber) {
  const struct {
    uint32_t style;
    const wchar_t* line;
  } cases[] = {{kPartitionStyleRaw, L"Style: RAW"}, {3, L"???"}, {0xFFFFFFFF, L"???"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    PartitionInformationEx info = SimMachine::MbrPartition(1, 32256, 2097152, 0x07, true, 63);
    info.PartitionStyle = c.style;
    device().partition = info;
    const Lines partition{L"->Partition_Info", c.line, L"StartingOffset: 32256",
                          L"PartitionLength: 2097152 bytes, 2 Mbytes", L"PartitionNumber: 1"};
    ExpectSameLines(
        Report(VolumeDevicePath()),
        Expected(L"0", partition, SimMachine::VolumeGuidPath(1), L"001F", kFreeSpaceLines));
  }
}

TEST_F(DevicesReport, MbrNumbersPrintInDecimal) {
  // Type 0xEE, a length just under 1 MB, an unsigned hidden-sector count above 2^31.
  device().partition = SimMachine::MbrPartition(4, 0, 1048575, 0xEE, false, 0x80000000u);
  device().device_number = StorageDeviceNumber{7, 4000000000u, 1};
  const Lines partition{L"->Partition_Info",          L"Style: MBR",
                        L"StartingOffset: 0",         L"PartitionLength: 1048575 bytes, 0 Mbytes",
                        L"PartitionNumber: 4",        L"PartitionType: 238",
                        L"HiddenSectors: 2147483648", L"BootIndicator: False",
                        L"RecognizedPartition: True"};
  ExpectSameLines(
      Report(VolumeDevicePath()),
      Expected(L"4000000000", partition, SimMachine::VolumeGuidPath(1), L"001F", kFreeSpaceLines));
}

TEST_F(DevicesReport, FailedDeviceNumberAndPartitionRequests) {
  device().device_number.reset();
  device().partition.reset();
  ExpectSameLines(Report(VolumeDevicePath()),
                  Expected(L"NONE", {}, SimMachine::VolumeGuidPath(1), L"001F", kFreeSpaceLines));
  EXPECT_EQ(machine.CountCalls(Call::CloseHandle), 1);
}

TEST_F(DevicesReport, TargetThatCannotBeOpenedStillGetsTheRootPathLines) {
  machine.Fail(Call::CreateFile, win_error::kAccessDenied);
  ExpectSameLines(Report(VolumeDevicePath()),
                  Expected(L"NONE", {}, SimMachine::VolumeGuidPath(1), L"001F", kFreeSpaceLines));
  // A failed open leaves nothing to ask and nothing to close.
  EXPECT_EQ(machine.CountCalls(Call::DeviceIoControl), 0);
  EXPECT_EQ(machine.CountCalls(Call::CloseHandle), 0);
}

TEST_F(DevicesReport, SerialNumberForms) {
  const struct {
    uint32_t serial;
    const wchar_t* text;
  } cases[] = {{0, L"0000"},
               {0xA, L"000A"},
               {0xBEEF, L"BEEF"},
               {0x1BEEF, L"1BEEF"},
               {0xDEADBEEF, L"DEADBEEF"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serial);
    device().file_system->serial = c.serial;
    ExpectSameLines(
        Report(VolumeDevicePath()),
        Expected(L"0", kMbrLines, SimMachine::VolumeGuidPath(1), c.text, kFreeSpaceLines));
  }
}

TEST_F(DevicesReport, ClusterArithmetic) {
  const struct {
    SimFileSystem fs;
    Lines lines;
  } cases[] = {
      // The used megabytes are the difference of two truncated values.
      {{.sectors_per_cluster = 8,
        .bytes_per_sector = 512,
        .free_clusters = 192,
        .total_clusters = 384},
       kFreeSpaceLines},
      // Cluster size times cluster count needs 64 bits.
      {{.sectors_per_cluster = 128,
        .bytes_per_sector = 4096,
        .free_clusters = 4294967295u,
        .total_clusters = 4294967295u},
       {L"->GetDiskFreeSpace", L"Sectors per cluster: 128", L"Bytes per sector: 4096",
        L"ClusterSize: 524288", L"Total clusters: 4294967295 (2147483647 MB)",
        L"Free Clusters: 4294967295 (2147483647 MB) / Used Clusters: 0 (0 MB)"}},
      // The cluster size itself is kept to 32 bits.
      {{.sectors_per_cluster = 65536,
        .bytes_per_sector = 65536,
        .free_clusters = 1,
        .total_clusters = 2},
       {L"->GetDiskFreeSpace", L"Sectors per cluster: 65536", L"Bytes per sector: 65536",
        L"ClusterSize: 0", L"Total clusters: 2 (0 MB)",
        L"Free Clusters: 1 (0 MB) / Used Clusters: 1 (0 MB)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines[4]);
    device().file_system = c.fs;
    device().file_system->serial = 0x1F;
    ExpectSameLines(Report(VolumeDevicePath()),
                    Expected(L"0", kMbrLines, SimMachine::VolumeGuidPath(1), L"001F", c.lines));
  }
}

TEST_F(DevicesReport, RootPathFromTheTarget) {
  const struct {
    std::wstring target, root;
  } cases[] = {
      {L"\\\\.\\C:", L"C:\\"},
      {L"C:\\", L"C:\\\\"},  // a DOS-device row of the full edition
      {L"C:", L"C:\\"},      // a DOS-device row of the reduced edition
      {VolumeDevicePath(), SimMachine::VolumeGuidPath(1)},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1",
       L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\"},
      {L"\\\\.\\X\\\\.\\Y", L"XY\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.target));
    machine.ClearCalls();
    Report(c.target);
    for (Call call : {Call::GetDiskFreeSpace, Call::CallGetVolumeNameForVolumeMountPoint}) {
      SCOPED_TRACE(CallName(call));
      const int at = FirstCall(machine, call);
      ASSERT_GE(at, 0);
      EXPECT_EQ(machine.calls()[at].argument, c.root);
    }
    EXPECT_EQ(machine.open_handles(), 0);
  }
}

TEST_F(DevicesReport, DriveTargetsOfEachEdition) {
  // A DOS-device row hands over C:\ (full) or C: (reduced). Neither opens as a device;
  // the root-path lines still come. The full edition's doubled backslash names no mount
  // point, but the file-system queries still answer for the drive.
  if (edition::kFull) {
    ExpectSameLines(Report(L"C:\\"), Expected(L"NONE", {}, L"", L"001F", kFreeSpaceLines));
  } else {
    ExpectSameLines(Report(L"C:"),
                    Expected(L"NONE", {}, SimMachine::VolumeGuidPath(1), L"", kFreeSpaceLines));
  }
  EXPECT_EQ(machine.CountCalls(Call::CloseHandle), 0);
}

TEST_F(DevicesReport, FailedQueriesBecomeLinesWithTheSystemText) {
  machine.Fail(Call::GetVolumeInformation, win_error::kNotReady);
  device().file_system.reset();
  machine.SetLibraryMissing(true);
  const Lines lines = Report(VolumeDevicePath());
  const std::wstring free_space_failure =
      L"GetDiskFreeSpace failed:The volume does not contain a recognized file system.\r\n"
      L"Please make sure that all required file system drivers are loaded and that the volume "
      L"is not corrupted";
  const Lines full =
      Concat({{L"->Parent DeviceNumber: 0"},
              kMbrLines,
              {L"->VolumeGUID: ", L"GetVolumeInformation failed:The device is not ready",
               free_space_failure}});
  const Lines reduced =
      Concat({kMbrLines, {L"->DeviceNumber: 0", L"->VolumeGUID: ", free_space_failure}});
  ExpectSameLines(lines, edition::kFull ? full : reduced);
}

}  // namespace
}  // namespace vol
