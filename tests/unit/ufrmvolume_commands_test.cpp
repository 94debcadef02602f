// The main window's handlers, driven through a fake view against the simulated machine.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "devices/text_forms.h"
#include "devices/udiskmgmt.h"
#include "tests/sim/sim_machine.h"
#include "tests/unit/fake_view.h"
#include "ui/Ufrmvolume.h"

namespace vol {
namespace {

using Call = SimMachine::Call;
using testing::FakeView;

std::wstring HddName(int n) { return L"\\Device\\HarddiskVolume" + std::to_wstring(n); }
const std::wstring kStick = L"\\Device\\HarddiskVolume9";
const std::wstring kShadow = L"\\??\\harddiskvolumeshadowcopy1";
const std::wstring kDosSlash = edition::kDosRowBackslash ? L"\\" : L"";

// Volume 1 at C:\, volume 2 at D:\ and C:\mnt\, volume 3 unmounted, volume 4 in a folder
// only; a memory stick named G: without being a listed volume; one shadow copy.
class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddDiskVolume(1, {L"C:\\"});
    AddDiskVolume(2, {L"D:\\", L"C:\\mnt\\"});
    AddDiskVolume(3, {});
    AddDiskVolume(4, {L"C:\\data\\"});
    SimDevice& stick = machine.AddDevice(kStick);
    stick.drive_type = drive_type::kRemovable;
    stick.device_number = StorageDeviceNumber{7, 2, 1};
    stick.file_system = SimFileSystem{.serial = 0x5157, .total_clusters = 50};
    machine.DefineDosName(L"G:", kStick);
    SimDevice& copy = machine.AddDevice(L"\\Device\\HarddiskVolumeShadowCopy1");
    copy.file_system = SimFileSystem{.serial = 0x5C, .total_clusters = 20};
    machine.DefineDosName(L"HarddiskVolumeShadowCopy1", L"\\Device\\HarddiskVolumeShadowCopy1");
    form.FormShow();
    machine.ClearCalls();
  }
  void TearDown() override {
    EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    EXPECT_EQ(machine.bad_closes(), 0);
  }

  void AddDiskVolume(int n, const std::vector<std::wstring>& mounts) {
    SimDevice& device = machine.AddVolume(SimMachine::Guid(n), HddName(n));
    device.device_number = StorageDeviceNumber{7, 0, static_cast<uint32_t>(n)};
    device.file_system =
        SimFileSystem{.serial = 0x1000u * static_cast<uint32_t>(n), .total_clusters = 100};
    for (const std::wstring& mount : mounts) {
      machine.AddMountPath(SimMachine::VolumeGuidPath(n), mount);
    }
  }

  void ShowDosDevices() {
    if (!view.IsChecked(Command::Getnonvolumedrives1)) form.Getnonvolumedrives1Click();
    machine.ClearCalls();
  }
  void SelectVolume(int n) { SelectVolume(SimMachine::VolumeGuidPath(n)); }
  void SelectVolume(const std::wstring& name) { ASSERT_TRUE(view.Select(0, name)); }
  void SelectStick() {
    ShowDosDevices();
    ASSERT_TRUE(view.Select(1 + kSubPathName, L"G:" + kDosSlash));
  }
  void SelectShadowCopy() {
    ShowDosDevices();
    ASSERT_TRUE(view.Select(1 + kSubDosDevice, kShadow));
  }

  const ListRow* ShownVolume(int n) const {
    for (const ListRow& row : view.rows) {
      if (row.caption == SimMachine::VolumeGuidPath(n)) return &row;
    }
    return nullptr;
  }
  std::vector<std::wstring> Arguments(Call call) const {
    std::vector<std::wstring> arguments;
    for (const auto& record : machine.calls()) {
      if (record.call == call) arguments.push_back(record.argument);
    }
    return arguments;
  }
  std::vector<std::wstring> MessageTexts() const {
    std::vector<std::wstring> texts;
    for (const auto& message : machine.messages()) texts.push_back(message.text);
    return texts;
  }
  // Index of the first recorded call of a kind, or -1.
  int FirstCall(Call call) const {
    for (std::size_t i = 0; i < machine.calls().size(); ++i) {
      if (machine.calls()[i].call == call) return static_cast<int>(i);
    }
    return -1;
  }
  // Nothing reached the system, the screen or the list.
  void ExpectNothingHappened(int rows_before) {
    EXPECT_EQ(machine.CountCalls(Call::SetVolumeMountPoint), 0);
    EXPECT_EQ(machine.CountCalls(Call::DeleteVolumeMountPoint), 0);
    EXPECT_EQ(machine.CountCalls(Call::DefineDosDevice), 0);
    EXPECT_EQ(machine.CountCalls(Call::Sleep), 0);
    EXPECT_TRUE(machine.messages().empty());
    EXPECT_FALSE(machine.clipboard().has_value());
    EXPECT_TRUE(view.properties.empty());
    EXPECT_EQ(view.set_rows_calls, rows_before);
  }

  SimMachine machine;
  FakeView view;
  Tfrmvolumes form{machine, view};
};

// ---------------------------------------------------------------- start-up and refresh

TEST_F(CommandsTest, StartUpSetsTheTitleAndFillsTheList) {
  EXPECT_EQ(view.title, L"Karrowin 0.3 by " VOLUMES_CONTACT);
  EXPECT_EQ(view.set_rows_calls, 1);
  // Path, disk, partition, device; the full edition adds size (8 * 512 bytes a cluster,
  // 100 clusters and one more) and serial.
  const std::wstring first_paths[] = {L"C:\\", L"D:\\", L"", L"C:\\data\\"};
  std::vector<ListRow> expected;
  for (int n = 1; n <= 4; ++n) {
    ListRow row{SimMachine::VolumeGuidPath(n),
                {first_paths[n - 1], L"0", std::to_wstring(n), HddName(n)},
                static_cast<std::size_t>(n - 1)};
    if (edition::kFull)
      row.sub_items.insert(row.sub_items.end(), {L"413696", std::to_wstring(n) + L"000"});
    expected.push_back(row);
  }
  EXPECT_EQ(view.rows, expected);
  EXPECT_EQ(view.status_text, L"");
  EXPECT_FALSE(view.IsChecked(Command::Getnonvolumedrives1));
}

// Header clicks: the first sorts ascending, a second on the same column reverses, a click
// on another column starts ascending again; the selected record stays selected and the
// header shows the order.
TEST_F(CommandsTest, HeaderClicksSortReverseAndKeepTheSelectedRecord) {
  SelectVolume(2);
  constexpr int kPathName = 1, kPartition = 3;  // the columns' places in the list
  const struct {
    int column;
    bool descending;
    std::vector<int> volumes;  // in the order shown
  } clicks[] = {
      {kPathName, false, {3, 1, 4, 2}},  // "", C:\, C:\data\, D:\ .
      {kPathName, true, {2, 4, 1, 3}},  {kPartition, false, {1, 2, 3, 4}},
      {kPartition, true, {4, 3, 2, 1}}, {kPathName, false, {3, 1, 4, 2}},
  };
  for (const auto& click : clicks) {
    SCOPED_TRACE(::testing::Message() << "column " << click.column);
    form.lvvolumesColumnClick(click.column);
    std::vector<std::wstring> shown, expected;
    for (const ListRow& row : view.rows) shown.push_back(row.caption);
    for (int n : click.volumes) expected.push_back(SimMachine::VolumeGuidPath(n));
    EXPECT_EQ(shown, expected);
    ASSERT_TRUE(view.sort_order.has_value());
    EXPECT_EQ(view.sort_order->column, click.column);
    EXPECT_EQ(view.sort_order->descending, click.descending);
    ASSERT_NE(view.SelectedRow(), nullptr);
    EXPECT_EQ(view.SelectedRow()->caption, SimMachine::VolumeGuidPath(2));
  }
}

TEST(FormShowTitleTest, ReducedBuildKeepsItsCaptionWhenStartedAsLindquay) {
  struct Case {
    std::wstring path;
    bool quiet;  // the title stays the layout caption in the reduced build
  };
  const Case cases[] = {
      {L"C:\\Program Files\\volumes\\volumes.exe", false},
      {L"C:\\Tools\\LINDQUAY.EXE", true},
      {L"D:/portable/Lindquay.exe", true},
      {L"lindquay.exe", true},
      {L"C:\\lindquay.exe\\volumes.exe", false},
      {L"C:\\Tools\\lindquay.exe.bak", false},
      {L"C:\\Tools\\xlindquay.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SimMachine machine;
    machine.SetExecutablePath(c.path);
    testing::FakeView view;
    Tfrmvolumes form(machine, view);
    form.FormShow();
    const bool quiet = c.quiet && edition::kQuietExecutableRule;
    EXPECT_EQ(view.title, quiet ? L"" : L"Karrowin 0.3 by " VOLUMES_CONTACT);
    EXPECT_EQ(view.set_rows_calls, 1);
    EXPECT_EQ(machine.open_handles(), 0);
  }
}

TEST_F(CommandsTest, RefreshListsVolumesThenDosDevicesThenShadowCopies) {
  machine.AddDevice(L"\\Device\\Ramdisk0").drive_type = drive_type::kRamdisk;
  machine.DefineDosName(L"B:", L"\\Device\\Ramdisk0");  // defined after G:, listed before it
  form.Getnonvolumedrives1Click();
  EXPECT_EQ(view.set_rows_calls, 2);
  std::vector<std::wstring> order;
  for (const ListRow& row : view.rows) {
    order.push_back(!row.caption.empty()             ? row.caption
                    : !row.sub(kSubPathName).empty() ? row.sub(kSubPathName)
                                                     : row.sub(kSubDosDevice));
  }
  std::vector<std::wstring> expected;
  for (int n = 1; n <= 4; ++n) expected.push_back(SimMachine::VolumeGuidPath(n));
  expected.push_back(L"B:" + kDosSlash);
  expected.push_back(L"G:" + kDosSlash);  // C: and D: are listed volumes' letters
  if (edition::kShadowCopies) expected.push_back(kShadow);
  EXPECT_EQ(order, expected);
}

TEST_F(CommandsTest, SwitchingTheDosDeviceViewOnAndOffTwice) {
  const std::vector<ListRow> volumes_only = view.rows;
  std::vector<ListRow> with_devices;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    form.Getnonvolumedrives1Click();
    EXPECT_TRUE(view.IsChecked(Command::Getnonvolumedrives1));
    EXPECT_GT(view.rows.size(), volumes_only.size());
    if (round == 0) with_devices = view.rows;
    EXPECT_EQ(view.rows, with_devices);

    form.Refresh1Click();  // a refresh keeps the view on
    EXPECT_TRUE(view.IsChecked(Command::Getnonvolumedrives1));
    EXPECT_EQ(view.rows, with_devices);

    form.Getnonvolumedrives1Click();
    EXPECT_FALSE(view.IsChecked(Command::Getnonvolumedrives1));
    EXPECT_EQ(view.rows, volumes_only);
  }
  EXPECT_EQ(view.set_rows_calls, 1 + 2 * 3);
}

TEST_F(CommandsTest, FailedEnumerationStillShowsTheDosDevices) {
  ShowDosDevices();
  machine.Fail(Call::FindFirstVolume, win_error::kAccessDenied);
  form.Refresh1Click();
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{L"list_volumes:invalid handle"});
  ASSERT_FALSE(view.rows.empty());
  for (const ListRow& row : view.rows) EXPECT_EQ(row.caption, L"");
  // Without listed volumes, C: and D: are DOS-device rows now.
  EXPECT_TRUE(view.Select(1 + kSubPathName, L"C:" + kDosSlash));
}

// The list cannot take the new rows: it keeps the old ones, and so do the records they
// point at, although the machine has changed meanwhile.
TEST_F(CommandsTest, ARefreshTheListCannotTakeLeavesTheRowsAndRecordsAgreeing) {
  const std::vector<ListRow> before = view.rows;
  machine.RemoveVolume(SimMachine::VolumeGuidPath(1));
  view.set_rows_fails = true;
  EXPECT_THROW(form.Refresh1Click(), std::bad_alloc);
  view.set_rows_fails = false;
  ASSERT_EQ(view.rows, before);
  for (const ListRow& row : view.rows) {
    view.selected = row.record;
    form.CopyVolumeName1Click();
    ASSERT_TRUE(machine.clipboard().has_value());
    EXPECT_EQ(machine.clipboard()->text, row.caption);
  }
}

// ---------------------------------------------------------------- the selected-row rule

TEST_F(CommandsTest, NoSelectedRowDoesNothingOrAsksForAVolume) {
  struct Case {
    void (Tfrmvolumes::*handler)();
    bool asks;  // shows "pick a volume"
  };
  const Case cases[] = {
      {&Tfrmvolumes::Unmount1Click, false},
      {&Tfrmvolumes::Mount1Click, false},
      {&Tfrmvolumes::Mount2Click, false},
      {&Tfrmvolumes::RemoveDosDevice1Click, false},
      {&Tfrmvolumes::AddDosDevice1Click, false},
      {&Tfrmvolumes::CopyVolumeName1Click, false},
      {&Tfrmvolumes::CopyDosDevicetoclipboard1Click, false},
      {&Tfrmvolumes::GetVolumeInformations1Click, true},
      {&Tfrmvolumes::lvvolumesDblClick, true},
      {&Tfrmvolumes::GetSerialNumber1Click, edition::kFull},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    machine.ClearCalls();
    const std::size_t messages_before = machine.messages().size();
    ASSERT_FALSE(view.selected.has_value());
    (form.*cases[i].handler)();
    EXPECT_TRUE(view.input_box_calls.empty());
    EXPECT_TRUE(view.properties.empty());
    EXPECT_EQ(view.set_rows_calls, 1);
    EXPECT_FALSE(machine.clipboard().has_value());
    EXPECT_EQ(machine.CountCalls(Call::DefineDosDevice) +
                  machine.CountCalls(Call::SetVolumeMountPoint) +
                  machine.CountCalls(Call::DeleteVolumeMountPoint) +
                  machine.CountCalls(Call::Sleep) + machine.CountCalls(Call::GetVolumeInformation),
              0);
    ASSERT_EQ(machine.messages().size(), messages_before + (cases[i].asks ? 1 : 0));
    if (cases[i].asks) {
      EXPECT_EQ(machine.messages().back().text, L"pick a volume");
      EXPECT_TRUE(machine.messages().back().plain_dialog);
    }
  }
}

TEST_F(CommandsTest, VolumeCommandsIgnoreDosDeviceAndShadowCopyRows) {
  for (int kind = 0; kind < (edition::kShadowCopies ? 2 : 1); ++kind) {
    SCOPED_TRACE(kind == 0 ? "DOS-device row" : "shadow-copy row");
    kind == 0 ? SelectStick() : SelectShadowCopy();
    const int rows_before = view.set_rows_calls;
    form.Unmount1Click();
    form.Mount1Click();
    form.Mount2Click();
    EXPECT_TRUE(view.input_box_calls.empty());
    ExpectNothingHappened(rows_before);
  }
}

// ---------------------------------------------------------------- unmount and mount

TEST_F(CommandsTest, UnmountRemovesOnlyTheFirstMountPathThenWaitsAndRefreshes) {
  SelectVolume(2);
  form.Unmount1Click();
  EXPECT_EQ(Arguments(Call::DeleteVolumeMountPoint), std::vector<std::wstring>{L"D:\\"});
  EXPECT_EQ(machine.MountPaths(SimMachine::VolumeGuidPath(2)),
            std::vector<std::wstring>{L"C:\\mnt\\"});
  EXPECT_TRUE(machine.messages().empty());
  EXPECT_EQ(machine.slept_milliseconds(), 500u);
  EXPECT_LT(FirstCall(Call::DeleteVolumeMountPoint), FirstCall(Call::Sleep));
  EXPECT_LT(FirstCall(Call::Sleep), FirstCall(Call::FindFirstVolume));  // wait, then refresh
  EXPECT_EQ(view.set_rows_calls, 2);
  ASSERT_NE(ShownVolume(2), nullptr);
  EXPECT_EQ(ShownVolume(2)->sub(kSubPathName), L"C:\\mnt\\");
  EXPECT_FALSE(view.selected.has_value());
}

TEST_F(CommandsTest, UnmountWithoutMountPathFailsButStillWaitsAndRefreshes) {
  SelectVolume(3);
  form.Unmount1Click();
  EXPECT_EQ(Arguments(Call::DeleteVolumeMountPoint), std::vector<std::wstring>{L""});
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{L"unmount failed"});
  EXPECT_TRUE(machine.messages()[0].plain_dialog);
  EXPECT_EQ(machine.slept_milliseconds(), 500u);
  EXPECT_EQ(view.set_rows_calls, 2);
}

TEST_F(CommandsTest, AutomaticMountTakesTheFirstLetterTheSystemAccepts) {
  SelectVolume(3);
  form.Mount1Click();
  EXPECT_EQ(Arguments(Call::SetVolumeMountPoint),
            (std::vector<std::wstring>{L"C:\\", L"D:\\", L"E:\\"}));
  EXPECT_TRUE(machine.messages().empty());
  EXPECT_EQ(view.set_rows_calls, 2);
  ASSERT_NE(ShownVolume(3), nullptr);
  EXPECT_EQ(ShownVolume(3)->sub(kSubPathName), L"E:\\");
}

TEST_F(CommandsTest, AutomaticMountRefusedEverywhereSaysSo) {
  machine.Fail(Call::SetVolumeMountPoint, win_error::kAccessDenied);
  SelectVolume(3);
  form.Mount1Click();
  std::vector<std::wstring> every_letter;  // C:\ to Z:\, 24 in all, and A: and B: never
  for (wchar_t letter = L'C'; letter <= L'Z'; ++letter)
    every_letter.push_back({letter, L':', L'\\'});
  EXPECT_EQ(Arguments(Call::SetVolumeMountPoint), every_letter);
  // One message, the command's: mount_vol itself shows nothing.
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{L"mount failed"});
  EXPECT_EQ(view.set_rows_calls, 2);
}

struct MountAnswer {
  const char* what;
  std::wstring answer;
  std::vector<std::wstring> attempts;  // SetVolumeMountPoint mount paths
  bool fails;
};
void PrintTo(const MountAnswer& answer, std::ostream* out) { *out << answer.what; }

class MountAtPathTest : public CommandsTest, public ::testing::WithParamInterface<MountAnswer> {};

TEST_P(MountAtPathTest, UsesTheTypedTextUnchanged) {
  const MountAnswer& c = GetParam();
  SelectVolume(3);
  view.input_answers = {c.answer};
  form.Mount2Click();
  EXPECT_EQ(view.input_box_calls.size(), 1u);
  EXPECT_EQ(Arguments(Call::SetVolumeMountPoint), c.attempts);
  EXPECT_EQ(MessageTexts(),
            c.fails ? std::vector<std::wstring>{L"mount failed"} : std::vector<std::wstring>{});
  EXPECT_EQ(view.set_rows_calls, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MountAtPathTest,
    ::testing::Values(
        MountAnswer{"a letter", L"k:\\", {L"k:\\"}, false},
        MountAnswer{"the untouched default", L"x:\\", {L"x:\\"}, false},
        // OK on an emptied field means the automatic mode.
        MountAnswer{"an emptied field", L"", {L"C:\\", L"D:\\", L"E:\\"}, false},
        MountAnswer{"no backslash", L"x:", {L"x:"}, true},
        MountAnswer{"a taken letter", L"C:\\", {L"C:\\"}, true},
        MountAnswer{"a folder that does not exist", L"C:\\nowhere\\", {L"C:\\nowhere\\"}, true},
        MountAnswer{"thousands of characters",
                    std::wstring(5000, L'k'),
                    {std::wstring(5000, L'k')},
                    true}));

// While a command's input box is open, the system announces a volume that the list
// shows before the chosen one, or the chosen volume leaving; the refresh that runs then
// replaces every record. The command still acts on what the user chose.
struct Meanwhile {
  const char* what;
  Command command;
  bool chosen_leaves;
};
void PrintTo(const Meanwhile& meanwhile, std::ostream* out) { *out << meanwhile.what; }

class WhileTheBoxIsOpenTest : public CommandsTest,
                              public ::testing::WithParamInterface<Meanwhile> {};

TEST_P(WhileTheBoxIsOpenTest, TheCommandActsOnTheRowItWasGiven) {
  const Meanwhile& c = GetParam();
  if (!edition::kFull && c.command == Command::AddDosDevice1) GTEST_SKIP() << "full build only";
  form.lvvolumesColumnClick(0);  // by name: volume 0 comes first
  SelectVolume(3);
  const bool mount = c.command == Command::Mount2;
  view.input_answers = {mount ? L"k:\\" : L"Q:"};
  view.while_input_box_open = [&] {
    c.chosen_leaves ? machine.RemoveVolume(SimMachine::VolumeGuidPath(3)) : AddDiskVolume(0, {});
    const DevBroadcastVolume record{sizeof record, dbt::kDevTypVolume, 0, 0, 0};
    form.WMDeviceChange(c.chosen_leaves ? dbt::kDeviceRemoveComplete : dbt::kDeviceArrival,
                        reinterpret_cast<const DevBroadcastHeader*>(&record));
  };
  form.RunHandlerOf(c.command);
  EXPECT_GE(view.set_rows_calls, 4);  // the header click, the announcement, the command's
  const SimMachine::CallRecord* call =
      machine.LastCall(mount ? Call::SetVolumeMountPoint : Call::DefineDosDevice);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->argument, mount ? L"k:\\" : L"Q:");
  EXPECT_EQ(call->argument2, mount ? SimMachine::VolumeGuidPath(3) : HddName(3));
}

INSTANTIATE_TEST_SUITE_P(
    Announcements, WhileTheBoxIsOpenTest,
    ::testing::Values(Meanwhile{"mount, a volume arrives", Command::Mount2, false},
                      Meanwhile{"mount, the chosen volume leaves", Command::Mount2, true},
                      Meanwhile{"add letter, a volume arrives", Command::AddDosDevice1, false},
                      Meanwhile{"add letter, the chosen volume leaves", Command::AddDosDevice1,
                                true}));

TEST_F(CommandsTest, MountAtAPathCancelledDoesNothing) {
  SelectVolume(3);
  view.input_answers = {std::nullopt};
  form.Mount2Click();
  EXPECT_EQ(view.input_box_calls.size(), 1u);
  ExpectNothingHappened(1);
  EXPECT_TRUE(machine.MountPaths(SimMachine::VolumeGuidPath(3)).empty());
}

// ---------------------------------------------------------------- DOS device names

TEST_F(CommandsTest, RemoveDosDeviceNamesTheDriveWithoutItsFirstBackslash) {
  SelectStick();
  form.RemoveDosDevice1Click();
  ASSERT_GE(machine.CountCalls(Call::DefineDosDevice), 1);
  const auto& first = machine.calls()[static_cast<std::size_t>(FirstCall(Call::DefineDosDevice))];
  EXPECT_EQ(first.argument, L"G:");
  EXPECT_EQ(first.argument2, kStick);
  EXPECT_EQ(first.flags, ddd::kRemoveDefinition);
  EXPECT_TRUE(machine.DosTargets(L"G:").empty());
  EXPECT_TRUE(machine.messages().empty());
  // No wait and no refresh: the row stays until the next refresh.
  EXPECT_EQ(machine.CountCalls(Call::Sleep), 0);
  EXPECT_EQ(machine.CountCalls(Call::FindFirstVolume), 0);
}

TEST_F(CommandsTest, RemoveDosDeviceOnAVolumeRow) {
  struct Case {
    int volume;
    std::wstring name;
    bool fails;
  };
  // A drive root gives its letter in both builds; a folder keeps a backslash and is refused.
  const Case cases[] = {{1, L"C:", false}, {4, L"C:data\\", true}, {3, L"", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.volume);
    machine.ClearCalls();
    const std::size_t messages_before = machine.messages().size();
    SelectVolume(c.volume);
    form.RemoveDosDevice1Click();
    const std::vector<std::wstring> names = Arguments(Call::DefineDosDevice);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], c.name);
    EXPECT_EQ(machine.messages().size(), messages_before + (c.fails ? 1 : 0));
    if (c.fails) {
      EXPECT_EQ(machine.messages().back().text, L"failed");
      EXPECT_EQ(names.size(), 2u);  // flags 2, then 3
    }
  }
  EXPECT_TRUE(machine.DosTargets(L"C:").empty());
}

TEST_F(CommandsTest, RemoveDosDeviceOnAShadowCopyRowIsRefused) {
  if (!edition::kShadowCopies) GTEST_SKIP() << "no shadow-copy rows in this build";
  SelectShadowCopy();
  form.RemoveDosDevice1Click();
  EXPECT_EQ(Arguments(Call::DefineDosDevice), (std::vector<std::wstring>{L"", L""}));
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{L"failed"});
}

TEST_F(CommandsTest, AddDosDeviceReportsInTheStatusBarAndRefreshes) {
  if (!edition::kFull) GTEST_SKIP() << "the reduced build adds no DOS device letters";
  struct Case {
    const char* what;
    std::optional<std::wstring> answer;
    std::wstring status;
    std::wstring new_row;  // PathName of the DOS-device row the new name adds
  };
  const Case cases[] = {
      {"a letter", L"Q:", L"Add Device OK", L"Q:\\"},
      {"the untouched default", L"x:", L"Add Device OK", L"X:\\"},
      {"an emptied field", L"", L"Cannot DefineDosDevice.", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SelectStick();
    machine.ClearCalls();
    view.input_box_calls.clear();
    view.input_answers = {c.answer};
    const int rows_before = view.set_rows_calls;
    form.AddDosDevice1Click();
    EXPECT_EQ(view.input_box_calls.size(), 1u);
    const std::vector<std::wstring> names = Arguments(Call::DefineDosDevice);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], *c.answer);
    EXPECT_EQ(machine.calls()[static_cast<std::size_t>(FirstCall(Call::DefineDosDevice))].flags,
              ddd::kRawTargetPath);
    EXPECT_EQ(view.status_text, c.status);
    EXPECT_TRUE(machine.messages().empty());
    EXPECT_EQ(machine.CountCalls(Call::Sleep), 0);
    EXPECT_EQ(view.set_rows_calls, rows_before + 1);
    if (!c.new_row.empty()) {
      EXPECT_EQ(machine.DosTargets(*c.answer), std::vector<std::wstring>{kStick});
      // The new letter names the stick as well, so it is one more DOS-device row.
      EXPECT_TRUE(view.Select(1 + kSubPathName, c.new_row));
    }
  }
}

TEST_F(CommandsTest, AddDosDeviceCancelledDoesNothing) {
  if (!edition::kFull) GTEST_SKIP() << "the reduced build adds no DOS device letters";
  SelectStick();
  view.status_text = L"earlier line";
  view.input_answers = {std::nullopt};
  const int rows_before = view.set_rows_calls;
  form.AddDosDevice1Click();
  EXPECT_EQ(view.input_box_calls.size(), 1u);
  EXPECT_EQ(view.status_text, L"earlier line");
  ExpectNothingHappened(rows_before);
}

TEST_F(CommandsTest, ReducedBuildHasNoFullOnlyCommands) {
  if (edition::kFull) GTEST_SKIP() << "the full build has them all";
  SelectVolume(1);
  form.AddDosDevice1Click();
  form.CopyDosDevicetoclipboard1Click();
  form.GetSerialNumber1Click();
  EXPECT_TRUE(view.input_box_calls.empty());
  ExpectNothingHappened(1);
}

// ---------------------------------------------------------------- copy and serial number

TEST_F(CommandsTest, CopyCommandsPutTheCellOnTheClipboard) {
  SelectVolume(1);
  form.CopyVolumeName1Click();
  ASSERT_TRUE(machine.clipboard().has_value());
  EXPECT_EQ(machine.clipboard()->text, SimMachine::VolumeGuidPath(1));
  EXPECT_EQ(machine.clipboard()->form, edition::kClipboardForm);

  form.CopyDosDevicetoclipboard1Click();
  EXPECT_EQ(machine.clipboard()->text, edition::kFull ? HddName(1) : SimMachine::VolumeGuidPath(1));

  SelectStick();
  form.CopyVolumeName1Click();
  EXPECT_EQ(machine.clipboard()->text, L"");  // a DOS-device row has no volume name
  EXPECT_EQ(view.set_rows_calls, 2);          // only the view switch refreshed
}

// Ctrl+Shift+C: the captions, then every row as the list shows it, selected or not.
TEST_F(CommandsTest, CopyListPutsTheRowsAsShownOnTheClipboard) {
  const std::wstring captions =
      edition::kFull ? L"Volume\tPathName\tDisk #\tPart #\tDos Device\tVolume Size\tSerial\r\n"
                     : L"Volume\tPathName\tDiskNumber\tPartitionNumber\tDos Device\r\n";
  const auto v = [](int n) { return SimMachine::VolumeGuidPath(n); };
  // By PathName: "", C:\, C:\data\, D:\; then the DOS device, then the shadow copy.
  // clang-format off
  const std::wstring full =
      v(3) + L"\t\t0\t3\t" + HddName(3) + L"\t413696\t3000\r\n" +
      v(1) + L"\tC:\\\t0\t1\t" + HddName(1) + L"\t413696\t1000\r\n" +
      v(4) + L"\tC:\\data\\\t0\t4\t" + HddName(4) + L"\t413696\t4000\r\n" +
      v(2) + L"\tD:\\\t0\t2\t" + HddName(2) + L"\t413696\t2000\r\n" +
      L"\tG:\\\t2\t1\t" + kStick + L"\t\t\r\n" +
      L"\t\t\t\t" + kShadow + L"\t86016\t005C\r\n";
  const std::wstring reduced =
      v(3) + L"\t\t0\t3\t" + HddName(3) + L"\r\n" +
      v(1) + L"\tC:\\\t0\t1\t" + HddName(1) + L"\r\n" +
      v(4) + L"\tC:\\data\\\t0\t4\t" + HddName(4) + L"\r\n" +
      v(2) + L"\tD:\\\t0\t2\t" + HddName(2) + L"\r\n" +
      L"\tG:\t2\t1\t" + kStick + L"\r\n";
  // clang-format on
  SelectStick();
  form.lvvolumesColumnClick(1);
  form.CopyListAsText();
  ASSERT_TRUE(machine.clipboard().has_value());
  EXPECT_EQ(machine.clipboard()->text, captions + (edition::kFull ? full : reduced));
  EXPECT_EQ(machine.clipboard()->form, ApiForm::Wide);
  EXPECT_EQ(ListText({}), captions) << "an empty list gives the caption line alone";
}

TEST_F(CommandsTest, SerialNumberAsksForThePathOfTheRowKind) {
  if (!edition::kFull) GTEST_SKIP() << "the reduced build has no serial-number command";
  struct Case {
    const char* what;
    std::function<void()> select;
    std::wstring path, shown;
  };
  const Case cases[] = {
      {"volume row", [this] { SelectVolume(2); }, SimMachine::VolumeGuidPath(2), L"2000"},
      {"DOS-device row", [this] { SelectStick(); }, L"G:\\", L"5157"},
      {"shadow-copy row", [this] { SelectShadowCopy(); }, kShadow + L"\\", L"005C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.select();
    machine.ClearCalls();
    const std::size_t messages_before = machine.messages().size();
    form.GetSerialNumber1Click();
    EXPECT_EQ(Arguments(Call::GetVolumeInformation), std::vector<std::wstring>{c.path});
    ASSERT_EQ(machine.messages().size(), messages_before + 1);
    EXPECT_EQ(machine.messages().back().text, c.shown);
    EXPECT_TRUE(machine.messages().back().plain_dialog);
  }
}

TEST_F(CommandsTest, SerialNumberThatCannotBeReadShowsAnEmptyMessage) {
  if (!edition::kFull) GTEST_SKIP() << "the reduced build has no serial-number command";
  machine.Device(HddName(3)).file_system.reset();
  SelectVolume(3);
  form.GetSerialNumber1Click();
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{L""});
}

// ---------------------------------------------------------------- properties window

TEST_F(CommandsTest, PropertiesWindowReportsOnTheTargetOfTheRowKind) {
  struct Case {
    const char* what;
    std::function<void()> select;
    std::wstring target, disk, volume_guid, serial, clusters;
  };
  std::vector<Case> cases{
      {"volume row", [this] { SelectVolume(1); },
       WithoutTrailingBackslash(SimMachine::VolumeGuidPath(1)), L"0", SimMachine::VolumeGuidPath(1),
       L"1000", L"100"},
      // A drive's root is a folder, not its device: no device number.
      {"DOS-device row", [this] { SelectStick(); }, L"G:" + kDosSlash, L"NONE", L"", L"5157",
       L"50"},
  };
  if (edition::kShadowCopies)
    cases.push_back(
        {"shadow-copy row", [this] { SelectShadowCopy(); }, kShadow, L"NONE", L"", L"005C", L"20"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.select();
    machine.ClearCalls();
    const std::size_t windows_before = view.properties.size();
    form.GetVolumeInformations1Click();
    ASSERT_EQ(view.properties.size(), windows_before + 1);
    const testing::FakePropertiesView& window = *view.properties.back();
    EXPECT_EQ(window.caption, L"Properties for " + c.target);
    EXPECT_EQ(window.set_lines_calls, 1);
    EXPECT_EQ(Arguments(Call::CreateFile).front(), c.target);  // the report's own open
    // No partition entry on this machine; clusters of 8 sectors of 512 bytes, none free.
    std::vector<std::wstring> expected =
        edition::kFull ? std::vector<std::wstring>{L"->Parent DeviceNumber: " + c.disk,
                                                   L"->Partition_Info: NONE"}
                       : std::vector<std::wstring>{L"->DeviceNumber: " + c.disk};
    expected.push_back(L"->VolumeGUID: " + c.volume_guid);
    if (edition::kFull) expected.push_back(L"->Serial:" + c.serial);
    expected.insert(expected.end(),
                    {L"->GetDiskFreeSpace", L"Sectors per cluster: 8", L"Bytes per sector: 512",
                     L"ClusterSize: 4096", L"Total clusters: " + c.clusters + L" (0 MB)",
                     L"Free Clusters: 0 (0 MB) / Used Clusters: " + c.clusters + L" (0 MB)"});
    EXPECT_EQ(window.lines, expected);
    EXPECT_TRUE(machine.messages().empty());
  }
}

TEST_F(CommandsTest, PropertiesCaptionShowsTheWholeTargetButTheReportStopsAtTheBlank) {
  machine.AddVolume(L"{odd} name", HddName(8));
  form.Refresh1Click();
  SelectVolume(L"\\\\?\\Volume{odd} name\\");
  machine.ClearCalls();
  form.GetVolumeInformations1Click();
  ASSERT_EQ(view.properties.size(), 1u);
  EXPECT_EQ(view.properties[0]->caption, L"Properties for \\\\?\\Volume{odd} name");
  EXPECT_EQ(Arguments(Call::CreateFile).front(), L"\\\\?\\Volume{odd}");
}

TEST_F(CommandsTest, EachUseOpensAWindowOfItsOwnAndDoubleClickDoesTheSame) {
  SelectVolume(2);
  form.GetVolumeInformations1Click();
  form.lvvolumesDblClick();
  ASSERT_EQ(view.properties.size(), 2u);
  EXPECT_EQ(view.properties[0]->caption, view.properties[1]->caption);
  EXPECT_EQ(view.properties[0]->lines, view.properties[1]->lines);
  EXPECT_EQ(view.set_rows_calls, 1);  // the main list is left alone
}

// ---------------------------------------------------------------- menu dispatch

struct Dispatch {
  Command command;
  bool full_only;
  // Whether the command's handler ran, judged from what it leaves behind.
  std::function<bool(SimMachine&, FakeView&)> took_effect;
};
void PrintTo(const Dispatch& dispatch, std::ostream* out) {
  *out << static_cast<int>(dispatch.command);
}

// The one input box the command showed, with the caption both boxes share.
bool InputBoxWas(const FakeView& view, const std::wstring& prompt, const std::wstring& text) {
  return view.input_box_calls.size() == 1 && view.input_box_calls[0].caption == L"Lindquay" &&
         view.input_box_calls[0].prompt == prompt && view.input_box_calls[0].default_text == text;
}

class DispatchTest : public CommandsTest, public ::testing::WithParamInterface<Dispatch> {};

TEST_P(DispatchTest, MenuCommandReachesItsHandlerInTheBuildsThatOfferIt) {
  SelectVolume(1);
  view.input_answers = {std::nullopt};  // input boxes are cancelled: nothing changes
  form.RunHandlerOf(GetParam().command);
  EXPECT_EQ(GetParam().took_effect(machine, view), !GetParam().full_only || edition::kFull);
}

INSTANTIATE_TEST_SUITE_P(
    Menu, DispatchTest,
    ::testing::Values(
        Dispatch{Command::Unmount1, false,
                 [](SimMachine& m, FakeView&) {
                   return m.CountCalls(Call::DeleteVolumeMountPoint) == 1;
                 }},
        Dispatch{Command::Mount1, false,
                 [](SimMachine& m, FakeView& v) {
                   return m.CountCalls(Call::SetVolumeMountPoint) > 0 && v.input_box_calls.empty();
                 }},
        Dispatch{Command::Mount2, false,
                 [](SimMachine&, FakeView& v) {
                   return InputBoxWas(v, L"Enter Path : x:\\, c:\\mount\\", L"x:\\");
                 }},
        Dispatch{
            Command::Getnonvolumedrives1, false,
            [](SimMachine&, FakeView& v) { return v.IsChecked(Command::Getnonvolumedrives1); }},
        Dispatch{Command::RemoveDosDevice1, false,
                 [](SimMachine& m, FakeView&) { return m.CountCalls(Call::DefineDosDevice) > 0; }},
        Dispatch{
            Command::AddDosDevice1, true,
            [](SimMachine&, FakeView& v) { return InputBoxWas(v, L"Enter Path : x:", L"x:"); }},
        Dispatch{Command::CopyVolumeName1, false,
                 [](SimMachine& m, FakeView&) {
                   return m.clipboard() && m.clipboard()->text == SimMachine::VolumeGuidPath(1);
                 }},
        Dispatch{Command::CopyDosDevicetoclipboard1, true,
                 [](SimMachine& m, FakeView&) {
                   return m.clipboard() && m.clipboard()->text == HddName(1);
                 }},
        Dispatch{Command::GetVolumeInformations1, false,
                 [](SimMachine&, FakeView& v) { return v.properties.size() == 1; }},
        Dispatch{Command::GetSerialNumber1, true,
                 [](SimMachine& m, FakeView&) {
                   return m.messages().size() == 1 && m.messages()[0].text == L"1000";
                 }},
        Dispatch{Command::Refresh1, false, [](SimMachine& m, FakeView& v) {
                   return v.set_rows_calls == 2 && m.CountCalls(Call::Sleep) == 0;
                 }}));

// A command's row cannot be written without a handler; that no row was handed a null
// one, the compiler cannot see in every build (not under UBSan), so it is seen here.
TEST(CommandRegistry, EveryCommandHasAHandlerAndNoSeparatorHasOne) {
  for (const CommandRow& row : kCommands) {
    EXPECT_EQ(row.handler == nullptr, row.id == Command::None)
        << "the row of id " << static_cast<int>(row.id);
  }
}

TEST_F(CommandsTest, NoCommandDoesNothing) {
  SelectVolume(1);
  form.RunHandlerOf(Command::None);
  EXPECT_TRUE(machine.calls().empty());
  EXPECT_TRUE(view.properties.empty());
}

}  // namespace
}  // namespace vol
