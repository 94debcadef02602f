// The DOS-device list walk, the drive-letter set and the floppy test.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devices/ubits.h"
#include "devices/udiskmgmt.h"
#include "tests/sim/sim_machine.h"
#include "ui/edition.h"

namespace vol {
namespace {

std::vector<std::wstring> WalkedNames(Platform& platform) {
  std::vector<std::wstring> names;
  ForEachDosDeviceName(platform, edition::kApi,
                       [&names](std::wstring_view name) { names.emplace_back(name); });
  return names;
}

// The buffer lengths handed to the list query, in order.
std::vector<uint32_t> ListQueryLengths(const SimMachine& machine) {
  std::vector<uint32_t> lengths;
  for (const auto& record : machine.calls()) {
    if (record.call != Call::QueryDosDevice) continue;
    EXPECT_TRUE(record.null_text);
    EXPECT_EQ(record.form, edition::kApi);
    lengths.push_back(record.buffer_size);
  }
  return lengths;
}

class DevicesDosNames : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(machine.open_handles(), 0); }
  SimMachine machine;
};

TEST_F(DevicesDosNames, WalkGivesEveryNameInTheSystemsOrder) {
  machine.DefineDosName(L"C:", L"\\Device\\HarddiskVolume1");
  machine.DefineDosName(L"COM1", L"\\Device\\Serial0");
  machine.DefineDosName(L"HarddiskVolumeShadowCopy1", L"\\Device\\HarddiskVolumeShadowCopy1");
  machine.ClearCalls();
  EXPECT_EQ(WalkedNames(machine), machine.DosNames());
  EXPECT_EQ(ListQueryLengths(machine), std::vector<uint32_t>{65534});
}

TEST_F(DevicesDosNames, ListLongerThanTheFirstBufferIsReadWhole) {
  // Each "LongDeviceNameN..." takes 16 to 19 characters with its terminator.
  const struct {
    int names;
    std::vector<uint32_t> lengths;
  } cases[] = {
      {3000, {65534}},
      {4000, {65534, 131069}},
      {10000, {65534, 131069, 262139}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names);
    SimMachine big;
    big.AddManyDosNames(L"LongDeviceName", c.names, L"\\Device\\Null");
    big.DefineDosName(L"X:", L"\\Device\\HarddiskVolume9");  // the list's last name
    big.ClearCalls();
    const auto names = WalkedNames(big);
    EXPECT_EQ(names, big.DosNames());
    EXPECT_EQ(ListQueryLengths(big), c.lengths);
    big.ClearCalls();
    EXPECT_EQ(GetDosDriveMask(big), SetBit(0, 23));
  }
}

// Scripted failures: the simulated machine answers a list too long as Windows documents
// (ERROR_INSUFFICIENT_BUFFER, the contract's NameListGrows fact); ERROR_MORE_DATA is what
// field reports give (pywin32's bug 488; Windows XP with a 64 KB buffer), also where the
// buffer was already large.
TEST_F(DevicesDosNames, ListQueryFailuresEndTheWalkOrGrowTheBuffer) {
  const struct {
    const char* what;
    uint32_t error;
    int times;
    std::vector<uint32_t> lengths;
    bool names;
  } cases[] = {
      {"refused", win_error::kAccessDenied, -1, {65534}, false},
      {"more data once", win_error::kMoreData, 1, {65534, 131069}, true},
      {"more data at every size",
       win_error::kMoreData,
       -1,
       {65534, 131069, 262139, 524279, 1048559, 2097119, 4194239, 8388479},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimMachine local;
    local.DefineDosName(L"C:", L"\\Device\\HarddiskVolume1");
    local.Fail(Call::QueryDosDevice, c.error).times = c.times;
    std::vector<std::wstring> names;
    EXPECT_NO_THROW(names = WalkedNames(local));
    EXPECT_EQ(names, c.names ? local.DosNames() : std::vector<std::wstring>{});
    EXPECT_EQ(ListQueryLengths(local), c.lengths);
  }
  machine.Fail(Call::QueryDosDevice, win_error::kMoreData);
  EXPECT_EQ(GetDosDriveMask(machine), 0u);
}

TEST_F(DevicesDosNames, DriveMaskCountsTwoCharacterNamesWithAColonButNeverA) {
  for (const wchar_t* name : {L"A:", L"C:", L"COM1", L"PhysicalDrive0", L"D:", L"E:x", L"1:",
                              L"Volume{5a1e0000-0000-11f0-9000-000000000001}", L"F", L"G::"}) {
    machine.DefineDosName(name, L"\\Device\\Something");
  }
  EXPECT_EQ(GetDosDriveMask(machine), 12u);
}

TEST_F(DevicesDosNames, DriveMaskTakesSmallLettersAlike) {
  for (const wchar_t* name : {L"a:", L"b:", L"c:", L"Z:"}) {
    machine.DefineDosName(name, L"\\Device\\Something");
  }
  const uint32_t mask = GetDosDriveMask(machine);
  EXPECT_EQ(mask, SetBit(SetBit(SetBit(0, 1), 2), 25));
  EXPECT_FALSE(IsBitSet(mask, 0));
}

TEST(DevicesBits, SetAndTestOneBit) {
  EXPECT_EQ(SetBit(0, 25), 33554432u);
  EXPECT_TRUE(IsBitSet(33554432u, 25));
  EXPECT_FALSE(IsBitSet(33554432u, 24));
  EXPECT_EQ(SetBit(SetBit(0, 2), 2), 4u);
  EXPECT_TRUE(IsBitSet(SetBit(0, 31), 31));
}

// A namespace that answers the list query with a reply of the test's choosing.
class ScriptedListMachine : public SimMachine {
 public:
  std::wstring reply;  // copied into the buffer, cut at its length
  uint32_t count = 0;  // what the call returns
  uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer, uint32_t buffer_length,
                          ApiForm form) override {
    SimMachine::QueryDosDevice(device_name, buffer, buffer_length, form);
    std::copy_n(reply.begin(), std::min<std::size_t>(reply.size(), buffer_length), buffer);
    SetLastError(count == 0 ? win_error::kAccessDenied : win_error::kSuccess);
    return count;
  }
};

TEST(DevicesDosNamesMalformed, WalkStaysInsideTheBuffer) {
  using std::literals::string_literals::operator""s;
  const struct {
    const char* what;
    std::wstring reply;
    uint32_t count;
    std::vector<std::wstring> names;
  } cases[] = {
      {"well formed", L"C:\0D:\0\0"s, 7, {L"C:", L"D:"}},
      {"no terminator at the end", L"C:\0D:"s, 5, {L"C:", L"D:"}},
      {"count cuts a name", L"C:\0D:\0"s, 4, {L"C:", L"D"}},
      {"empty names", L"\0\0C:\0\0\0"s, 7, {L"C:"}},
      {"one-character names", L"X\0Y\0"s, 4, {L"X", L"Y"}},
      {"failed call with data", L"C:\0"s, 0, {}},
      {"count beyond the buffer", std::wstring(65534, L'n'), 70000, {std::wstring(65534, L'n')}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedListMachine machine;
    machine.reply = c.reply;
    machine.count = c.count;
    EXPECT_EQ(WalkedNames(machine), c.names);
  }
}

TEST(DevicesDosNamesMalformed, MaskOfAnUnterminatedList) {
  using std::literals::string_literals::operator""s;
  ScriptedListMachine machine;
  machine.reply = L"A:\0C:\0D:"s;
  machine.count = 8;
  EXPECT_EQ(GetDosDriveMask(machine), 12u);
}

TEST_F(DevicesDosNames, FloppyTestReadsTheFirstTargetOfTheName) {
  machine.DefineDosName(L"A:", L"\\Device\\Floppy0");
  machine.DefineDosName(L"B:", L"\\Device\\fLOPPY1");
  machine.DefineDosName(L"C:", L"\\Device\\HarddiskVolume1");
  machine.DefineDosName(L"E:", L"\\Device\\Floppy2");  // older definition, hidden below
  machine.DefineDosName(L"E:", L"\\Device\\HarddiskVolume5");
  const struct {
    const wchar_t* name;
    bool floppy;
  } cases[] = {{L"A:", true}, {L"B:", true}, {L"C:", false}, {L"E:", false}, {L"Q:", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.name)));
    machine.ClearCalls();
    EXPECT_EQ(IsFloppyDevice(machine, c.name), c.floppy);
    ASSERT_EQ(machine.calls().size(), 1u);
    const auto& query = machine.calls()[0];
    EXPECT_EQ(query.call, Call::QueryDosDevice);
    EXPECT_EQ(query.argument, c.name);
    EXPECT_EQ(query.buffer_size, 1024u);
    EXPECT_EQ(query.form, edition::kApi);
  }
}

}  // namespace
}  // namespace vol
