// VolumeNameToDeviceName and GetDeviceNumber against the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/udiskmgmt.h"
#include "tests/sim/sim_machine.h"
#include "ui/edition.h"

namespace vol {
namespace {

const std::wstring kSystemDevice = L"\\Device\\HarddiskVolume3";

std::vector<SimMachine::CallRecord> CallsOf(const SimMachine& machine, Call call) {
  std::vector<SimMachine::CallRecord> found;
  for (const auto& record : machine.calls()) {
    if (record.call == call) found.push_back(record);
  }
  return found;
}

class DevicesDeviceName : public ::testing::Test {
 protected:
  DevicesDeviceName() {
    machine.AddVolume(SimMachine::Guid(1), kSystemDevice);
    machine.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\");
    machine.ClearCalls();
  }
  void TearDown() override {
    EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    EXPECT_EQ(machine.bad_closes(), 0);
  }

  // The names the query asked the namespace for, in order.
  std::vector<std::wstring> AskedNames() const {
    std::vector<std::wstring> names;
    for (const auto& record : CallsOf(machine, Call::QueryDosDevice)) {
      EXPECT_FALSE(record.null_text);
      EXPECT_EQ(record.form, ApiForm::Wide);
      EXPECT_EQ(record.buffer_size, 260u);
      names.push_back(record.argument);
    }
    return names;
  }

  SimMachine machine;
};

TEST_F(DevicesDeviceName, DosNameIsAskedUnchanged) {
  std::wstring device_name = L"stale";
  VolumeNameToDeviceName(machine, L"C:", device_name);
  EXPECT_EQ(device_name, kSystemDevice);
  EXPECT_EQ(AskedNames(), std::vector<std::wstring>{L"C:"});
  EXPECT_TRUE(machine.messages().empty());
}

TEST_F(DevicesDeviceName, VolumeGuidPathIsAskedWithoutPrefixAndLastCharacter) {
  std::wstring device_name;
  VolumeNameToDeviceName(machine, SimMachine::VolumeGuidPath(1), device_name);
  EXPECT_EQ(device_name, kSystemDevice);
  EXPECT_EQ(AskedNames(), std::vector<std::wstring>{L"Volume" + SimMachine::Guid(1)});
}

TEST_F(DevicesDeviceName, UnknownNameGivesEmptyTextAndNoMessage) {
  for (const std::wstring name :
       {L"Q:", L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\"}) {
    SCOPED_TRACE(::testing::PrintToString(name));
    std::wstring device_name = L"stale";
    VolumeNameToDeviceName(machine, name, device_name);
    EXPECT_EQ(device_name, L"");
  }
  EXPECT_EQ(AskedNames().size(), 2u);
  EXPECT_TRUE(machine.messages().empty());
}

TEST_F(DevicesDeviceName, ShortAndOddNamesAreSlicedSafely) {
  machine.DefineDosName(L"AB", L"\\Device\\Odd");
  const struct {
    std::wstring volume_name;
    std::vector<std::wstring> asked;  // nothing when the slice is empty
    std::wstring device_name;
  } cases[] = {
      {L"", {}, L""},
      {L"\\", {}, L""},
      {L"\\\\?\\", {}, L""},
      {L"\\\\?\\V", {}, L""},
      {L"\\\\?\\AB", {L"A"}, L""},
      {L"\\\\?\\ABC", {L"AB"}, L"\\Device\\Odd"},
      // A colon anywhere means the name is asked as it stands.
      {L":", {L":"}, L""},
      {L"\\\\?\\Volume{x}:\\", {L"\\\\?\\Volume{x}:\\"}, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.volume_name));
    machine.ClearCalls();
    std::wstring device_name = L"stale";
    VolumeNameToDeviceName(machine, c.volume_name, device_name);
    EXPECT_EQ(device_name, c.device_name);
    EXPECT_EQ(AskedNames(), c.asked);
  }
  EXPECT_TRUE(machine.messages().empty());
}

TEST_F(DevicesDeviceName, FirstTargetIsTakenInTheBuildsText) {
  // The most recent definition comes first; only it counts.
  machine.DefineDosName(L"Q:", L"\\Device\\Older");
  machine.DefineDosName(L"Q:", L"\\Device\\Caf\u00E9\u0100");
  std::wstring device_name;
  VolumeNameToDeviceName(machine, L"Q:", device_name);
  // The full edition's text is ANSI: what the code page cannot hold becomes '?'.
  EXPECT_EQ(device_name, edition::kFull ? L"\\Device\\Caf\u00E9?" : L"\\Device\\Caf\u00E9\u0100");
}

// An error inside the query (here the text conversion running out of memory) is shown,
// the name stays empty and the caller goes on.
TEST_F(DevicesDeviceName, AnErrorInsideIsShownAndGivesNoName) {
  machine.Fail(Call::QueryDosDevice, 0).throws = true;
  std::wstring device_name = L"stale";
  EXPECT_NO_THROW(VolumeNameToDeviceName(machine, SimMachine::VolumeGuidPath(1), device_name));
  EXPECT_EQ(device_name, L"");
  ASSERT_EQ(machine.messages().size(), 1u);
  const SimMachine::ShownMessage& box = machine.messages()[0];
  EXPECT_EQ(box.text, L"VolumeNameToDeviceName:std::bad_alloc");
  // The full edition's own box, with no owner and an OK button; the reduced edition's
  // plain dialog.
  EXPECT_EQ(box.plain_dialog, !edition::kFull);
  if (edition::kFull) {
    EXPECT_EQ(box.caption, L"lindquay");
    EXPECT_EQ(box.type, 0u);
  }
}

// A namespace that answers with a full buffer and no terminator.
class UnterminatedMachine : public SimMachine {
 public:
  uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer, uint32_t buffer_length,
                          ApiForm form) override {
    SimMachine::QueryDosDevice(device_name, buffer, buffer_length, form);
    std::fill(buffer, buffer + buffer_length, L'x');
    return buffer_length + 10;
  }
};

TEST(DevicesDeviceNameMalformed, UnterminatedReplyIsReadUpToTheBufferEnd) {
  UnterminatedMachine machine;
  std::wstring device_name;
  VolumeNameToDeviceName(machine, L"C:", device_name);
  EXPECT_EQ(device_name, std::wstring(260, L'x'));
}

class DevicesDeviceNumber : public DevicesDeviceName {
 protected:
  DevicesDeviceNumber() {
    machine.Device(kSystemDevice).device_number = StorageDeviceNumber{7, 1, 2};
  }
};

TEST_F(DevicesDeviceNumber, ReadsDiskAndPartitionWithTheEditionsOpenMode) {
  const std::optional<StorageDeviceNumber> number = GetDeviceNumber(machine, L"\\\\.\\C:");
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(number->DeviceNumber, 1u);
  EXPECT_EQ(number->PartitionNumber, 2u);

  const auto opens = CallsOf(machine, Call::CreateFile);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].argument, L"\\\\.\\C:");
  EXPECT_EQ(opens[0].flags, edition::kFull ? 0u : file_access::kGenericRead);
  EXPECT_EQ(opens[0].share_mode,
            edition::kFull ? 0u : file_access::kShareRead | file_access::kShareWrite);
  EXPECT_EQ(opens[0].disposition, file_access::kOpenExisting);
  EXPECT_EQ(opens[0].attributes, file_access::kAttributeNormal);
  EXPECT_EQ(opens[0].form, edition::kApi);

  const auto requests = CallsOf(machine, Call::DeviceIoControl);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].flags, ioctl::kStorageGetDeviceNumber);
  EXPECT_EQ(requests[0].buffer_size, 12u);
  EXPECT_EQ(requests[0].input_size, 0u);
  EXPECT_EQ(machine.CountCalls(Call::CloseHandle), 1);
}

TEST_F(DevicesDeviceNumber, FailuresGiveNothing) {
  machine.AddVolume(SimMachine::Guid(2), L"\\Device\\HarddiskVolume4");  // no device number
  machine.AddMountPath(SimMachine::VolumeGuidPath(2), L"E:\\");
  machine.AddVolume(SimMachine::Guid(3), L"\\Device\\HarddiskVolume5");
  machine.AddMountPath(SimMachine::VolumeGuidPath(3), L"F:\\");
  machine.Device(L"\\Device\\HarddiskVolume5").device_number = StorageDeviceNumber{7, 3, 1};
  machine.Device(L"\\Device\\HarddiskVolume5").open_error = win_error::kAccessDenied;
  const struct {
    const wchar_t* path;
    int closes;  // only an opened handle is closed
  } cases[] = {{L"\\\\.\\Q:", 0}, {L"\\\\.\\E:", 1}, {L"\\\\.\\F:", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.path)));
    machine.ClearCalls();
    EXPECT_FALSE(GetDeviceNumber(machine, c.path).has_value());
    EXPECT_EQ(machine.CountCalls(Call::CloseHandle), c.closes);
    EXPECT_EQ(machine.open_handles(), 0);
  }
}

}  // namespace
}  // namespace vol
