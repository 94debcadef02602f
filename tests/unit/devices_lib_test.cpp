// The partition request, mount points, the mount-point lookup and DOS device definitions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/lib.h"
#include "tests/sim/sim_machine.h"
#include "ui/edition.h"

namespace vol {
namespace {

const std::wstring kDevice1 = L"\\Device\\HarddiskVolume1";
const std::wstring kDevice2 = L"\\Device\\HarddiskVolume2";
const std::wstring kFolder = L"C:\\mnt";

class DevicesLib : public ::testing::Test {
 protected:
  DevicesLib() {
    machine.AddVolume(SimMachine::Guid(1), kDevice1);
    machine.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\");
    machine.AddVolume(SimMachine::Guid(2), kDevice2);
    machine.ClearCalls();
  }
  void TearDown() override {
    EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    EXPECT_EQ(machine.bad_closes(), 0);
  }

  std::vector<SimMachine::CallRecord> CallsOf(Call call) const {
    std::vector<SimMachine::CallRecord> found;
    for (const auto& record : machine.calls()) {
      if (record.call == call) found.push_back(record);
    }
    return found;
  }
  std::vector<uint32_t> DefineFlags(ApiForm form) const {
    std::vector<uint32_t> flags;
    for (const auto& record : CallsOf(Call::DefineDosDevice)) {
      EXPECT_EQ(record.form, form);
      flags.push_back(record.flags);
    }
    return flags;
  }

  SimMachine machine;
};

TEST_F(DevicesLib, PartitionRequestOnTheCallersHandle) {
  const Handle volume = machine.CreateFile(L"\\\\.\\C:", file_access::kGenericRead,
                                           file_access::kShareRead | file_access::kShareWrite,
                                           file_access::kOpenExisting, 0, ApiForm::Wide);
  ASSERT_NE(volume, kInvalidHandle);
  PartitionInformationEx info{};
  info.PartitionNumber = 99;
  // Refused (no partition entry, or no handle): the buffer keeps what it held.
  EXPECT_FALSE(GetPartitionInfoEx(machine, volume, info));
  EXPECT_FALSE(GetPartitionInfoEx(machine, kInvalidHandle, info));
  EXPECT_EQ(info.PartitionNumber, 99u);

  machine.Device(kDevice1).partition = SimMachine::MbrPartition(1, 1048576, 2097152);
  EXPECT_TRUE(GetPartitionInfoEx(machine, volume, info));
  EXPECT_EQ(info.PartitionNumber, 1u);
  EXPECT_EQ(info.StartingOffset, 1048576);
  for (const auto& request : CallsOf(Call::DeviceIoControl)) {
    EXPECT_EQ(request.flags, ioctl::kDiskGetPartitionInfoEx);
    EXPECT_EQ(request.buffer_size, 144u);
    EXPECT_EQ(request.input_size, 0u);
  }
  // The caller's handle stays the caller's.
  EXPECT_EQ(machine.CountCalls(Call::CloseHandle), 0);
  EXPECT_EQ(machine.open_handles(), 1);
  machine.CloseHandle(volume);
}

TEST_F(DevicesLib, MountPointLookupLoadsAndFreesKernel32OnEveryCall) {
  for (int round = 0; round < 2; ++round) {
    std::wstring volume_name = L"stale";
    GetMountPointVolumeName(machine, L"C:\\", volume_name);
    EXPECT_EQ(volume_name, SimMachine::VolumeGuidPath(1));
  }
  const auto loads = CallsOf(Call::LoadLibrary);
  ASSERT_EQ(loads.size(), 2u);
  EXPECT_EQ(loads[0].argument, L"kernel32.dll");
  EXPECT_EQ(loads[0].form, edition::kApi);
  const auto lookups = CallsOf(Call::GetProcAddress);
  ASSERT_EQ(lookups.size(), 2u);
  EXPECT_EQ(lookups[0].argument, L"GetVolumeNameForVolumeMountPointA");
  const auto asks = CallsOf(Call::CallGetVolumeNameForVolumeMountPoint);
  ASSERT_EQ(asks.size(), 2u);
  EXPECT_EQ(asks[0].argument, L"C:\\");
  EXPECT_EQ(asks[0].buffer_size, 261u);
  EXPECT_EQ(machine.CountCalls(Call::FreeLibrary), 2);
}

TEST_F(DevicesLib, MountPointLookupWithoutLibraryOrExportLeavesTheNameAlone) {
  for (bool library_missing : {true, false}) {
    SCOPED_TRACE(library_missing ? "library missing" : "export missing");
    SimMachine missing;
    missing.AddVolume(SimMachine::Guid(1), kDevice1);
    missing.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\");
    missing.SetLibraryMissing(library_missing);
    missing.SetExportMissing(!library_missing);
    std::wstring volume_name = L"unchanged";
    GetMountPointVolumeName(missing, L"C:\\", volume_name);
    EXPECT_EQ(volume_name, L"unchanged");
    EXPECT_EQ(missing.CountCalls(Call::CallGetVolumeNameForVolumeMountPoint), 0);
    EXPECT_EQ(missing.CountCalls(Call::FreeLibrary), library_missing ? 0 : 1);
    EXPECT_EQ(missing.open_handles(), 0);
    EXPECT_TRUE(missing.messages().empty());
  }
}

TEST_F(DevicesLib, PathThatIsNoMountPointGivesEmptyText) {
  for (const wchar_t* path : {L"C:\\nothing\\", L"Q:\\", L""}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(path)));
    std::wstring volume_name = L"stale";
    GetMountPointVolumeName(machine, path, volume_name);
    EXPECT_EQ(volume_name, L"");
  }
}

// A lookup that fills the whole buffer without a terminator.
class FullBufferMachine : public SimMachine {
 public:
  bool CallGetVolumeNameForVolumeMountPoint(ProcAddress function, const std::string& mount_path,
                                            char* buffer, uint32_t buffer_length) override {
    SimMachine::CallGetVolumeNameForVolumeMountPoint(function, mount_path, buffer, buffer_length);
    std::fill(buffer, buffer + buffer_length, 'V');
    return true;
  }
};

TEST(DevicesLibMalformed, UnterminatedVolumeNameIsCutAtTheBufferEnd) {
  FullBufferMachine machine;
  std::wstring volume_name;
  GetMountPointVolumeName(machine, L"C:\\", volume_name);
  EXPECT_EQ(volume_name, std::wstring(261, L'V'));
  EXPECT_EQ(machine.open_handles(), 0);
}

TEST_F(DevicesLib, AddDosDeviceTriesRawTargetFirst) {
  EXPECT_TRUE(AddDosDevice(machine, L"Q:", kDevice2));
  EXPECT_EQ(DefineFlags(ApiForm::Ansi), std::vector<uint32_t>{1});
  EXPECT_EQ(machine.DosTargets(L"Q:"), std::vector<std::wstring>{kDevice2});

  machine.ClearCalls();
  machine.Fail(Call::DefineDosDevice, win_error::kInvalidParameter).flags = 1;
  EXPECT_TRUE(AddDosDevice(machine, L"R:", kFolder));
  EXPECT_EQ(DefineFlags(ApiForm::Ansi), (std::vector<uint32_t>{1, 0}));

  machine.ClearCalls();
  machine.Fail(Call::DefineDosDevice, win_error::kInvalidParameter);
  EXPECT_FALSE(AddDosDevice(machine, L"S:", kDevice2));
  EXPECT_EQ(DefineFlags(ApiForm::Ansi), (std::vector<uint32_t>{1, 0}));
}

TEST_F(DevicesLib, AddDosDeviceNeverStacksOnANameInUse) {
  const struct {
    const wchar_t* name;
    uint32_t query_error;  // non-zero: the namespace cannot say whether the name is free
  } cases[] = {{L"C:", 0}, {L"c:", 0}, {L"Q:", win_error::kAccessDenied}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.name)));
    SimMachine local;
    local.DefineDosName(L"C:", kDevice2);
    if (c.query_error != 0) local.Fail(Call::QueryDosDevice, c.query_error);
    EXPECT_FALSE(AddDosDevice(local, c.name, kFolder));
    EXPECT_EQ(local.CountCalls(Call::DefineDosDevice), 0);
    EXPECT_EQ(local.DosTargets(L"C:"), std::vector<std::wstring>{kDevice2});
    EXPECT_TRUE(local.DosTargets(L"Q:").empty());
  }
}

TEST_F(DevicesLib, RemoveDosDeviceTriesPlainRemovalFirst) {
  // A definition made from an ordinary path goes with the first, plain removal.
  ASSERT_TRUE(machine.DefineDosDevice(0, L"Q:", &kFolder, ApiForm::Wide));
  machine.ClearCalls();
  EXPECT_TRUE(RemoveDosDevice(machine, L"Q:", kFolder));
  EXPECT_EQ(DefineFlags(edition::kApi), std::vector<uint32_t>{2});
  EXPECT_TRUE(machine.DosTargets(L"Q:").empty());

  // An NT device name needs the raw removal; a prefix of the target is enough.
  for (const std::wstring& target : {kDevice2, std::wstring(L"\\Device\\Harddisk")}) {
    SCOPED_TRACE(::testing::PrintToString(target));
    machine.DefineDosName(L"Q:", kDevice2);
    machine.ClearCalls();
    EXPECT_TRUE(RemoveDosDevice(machine, L"Q:", target));
    EXPECT_EQ(DefineFlags(edition::kApi), (std::vector<uint32_t>{2, 3}));
    EXPECT_TRUE(machine.DosTargets(L"Q:").empty());
  }

  // A target that matches no definition: both forms are refused.
  machine.DefineDosName(L"Q:", kDevice2);
  machine.ClearCalls();
  EXPECT_FALSE(RemoveDosDevice(machine, L"Q:", L"\\Device\\Floppy0"));
  EXPECT_EQ(DefineFlags(edition::kApi), (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(machine.DosTargets(L"Q:"), std::vector<std::wstring>{kDevice2});
}

}  // namespace
}  // namespace vol
