// A storm of device-change messages: volumes come and go, each change announced as the
// system announces it, between announcements the list must not care about.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/sim/sim_machine.h"
#include "tests/unit/fake_view.h"
#include "ui/Ufrmvolume.h"

namespace vol {
namespace {

const std::wstring kNow = L"24.12.2026 18:30:05";

// A record of exactly `size` bytes on the heap, so that reading past it is caught by the
// address sanitizer; the header is always there, as the system always sends one.
std::vector<unsigned char> Record(uint32_t size, uint32_t type, uint32_t mask) {
  std::vector<unsigned char> bytes(std::max<std::size_t>(size, sizeof(DevBroadcastHeader)));
  DevBroadcastVolume volume{size, type, 0, mask, 0};
  std::memcpy(bytes.data(), &volume, std::min(bytes.size(), sizeof volume));
  return bytes;
}

class DeviceChangeStormTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    machine.SetLocalDateTimeText(kNow);
    SimDevice& system = machine.AddVolume(SimMachine::Guid(1), L"\\Device\\HarddiskVolume1");
    system.device_number = StorageDeviceNumber{7, 0, 1};
    system.file_system = SimFileSystem{.serial = 0xC0DE, .total_clusters = 1000};
    machine.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\");
    machine.AddDevice(L"\\Device\\CdRom0").drive_type = drive_type::kCdrom;
    machine.DefineDosName(L"R:", L"\\Device\\CdRom0");
    view.checked[Command::Getnonvolumedrives1] = GetParam();
    form.FormShow();
  }
  void TearDown() override {
    EXPECT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    EXPECT_EQ(machine.bad_closes(), 0);
  }

  // Plugs a new stick in at `letter` (0: without a letter); returns its volume GUID path.
  std::wstring Insert(wchar_t letter) {
    const int n = next_volume_++;
    SimDevice& stick =
        machine.AddVolume(SimMachine::Guid(n), L"\\Device\\HarddiskVolume" + std::to_wstring(n));
    stick.drive_type = drive_type::kRemovable;
    stick.device_number = StorageDeviceNumber{7, static_cast<uint32_t>(n), 1};
    stick.file_system = SimFileSystem{.serial = static_cast<uint32_t>(n), .total_clusters = 64};
    const std::wstring path = SimMachine::VolumeGuidPath(n);
    if (letter != 0) machine.AddMountPath(path, std::wstring{letter, L':', L'\\'});
    return path;
  }

  SimMachine machine;
  testing::FakeView view;
  Tfrmvolumes form{machine, view};
  int next_volume_ = 100;
};

TEST_P(DeviceChangeStormTest, AThousandMessagesLeaveTheListAFreshRefreshWouldShow) {
  std::mt19937 rng(0x57041u + (GetParam() ? 1u : 0u));  // fixed rng start value: reproducible
  std::map<wchar_t, std::wstring> plugged;              // letter (0: none) → volume
  std::vector<std::wstring> letterless;
  int announced = 0, inserted = 0, removed = 0;
  const uint32_t kWhole = sizeof(DevBroadcastVolume);

  for (int i = 0; i < 1000; ++i) {
    SCOPED_TRACE("message " + std::to_string(i));
    const int rows_before = view.set_rows_calls;
    view.status_text = L"earlier line";
    std::wstring expected_status;
    const int kind = static_cast<int>(rng() % 12);
    const wchar_t letter = static_cast<wchar_t>(L'E' + rng() % 6);  // E: to J:
    const uint32_t bit = 1u << (letter - L'A');
    if (kind <= 2) {
      // A stick arrives; one in four without a letter (announced with an empty mask).
      const bool no_letter = rng() % 4 == 0;
      if (no_letter) {
        letterless.push_back(Insert(0));
      } else if (!plugged.count(letter)) {
        plugged[letter] = Insert(letter);
      }
      const uint32_t mask = no_letter ? 0 : bit | (rng() % 2 ? bit << 1 : 0);
      // Half of them end with the mask: nothing after it is needed.
      const auto record = Record(rng() % 2 ? kWhole : 16, dbt::kDevTypVolume, mask);
      form.WMDeviceChange(dbt::kDeviceArrival,
                          reinterpret_cast<const DevBroadcastHeader*>(record.data()));
      expected_status =
          kNow + L" : device inserted " + (no_letter ? L"" : std::wstring{letter, L':'});
      ++inserted;
    } else if (kind <= 4) {
      // A stick leaves (or the system repeats a removal it already announced).
      uint32_t mask = bit;
      if (!letterless.empty() && rng() % 3 == 0) {
        machine.RemoveVolume(letterless.back());
        letterless.pop_back();
        mask = 0;
      } else if (plugged.count(letter)) {
        machine.RemoveVolume(plugged[letter]);
        plugged.erase(letter);
      }
      const auto record = Record(kWhole, dbt::kDevTypVolume, mask | 0xFC000000u);
      form.WMDeviceChange(dbt::kDeviceRemoveComplete,
                          reinterpret_cast<const DevBroadcastHeader*>(record.data()));
      expected_status = kNow + L" : device removed " + (mask ? std::wstring{letter, L':'} : L"");
      ++removed;
    } else {
      // Everything else the system broadcasts: none of it changes a volume.
      struct Ignored {
        uint32_t event, size, type;
        bool null_record;
      };
      static constexpr Ignored kIgnored[] = {
          {dbt::kDeviceQueryRemove, kWhole, dbt::kDevTypVolume, false},
          {dbt::kDeviceRemovePending, kWhole, dbt::kDevTypVolume, false},
          {dbt::kDeviceArrival, kWhole, dbt::kDevTypPort, false},
          {dbt::kDeviceArrival, 32, dbt::kDevTypDeviceInterface, false},
          {dbt::kDeviceRemoveComplete, kWhole, dbt::kDevTypHandle, false},
          {dbt::kDeviceRemoveComplete, kWhole, dbt::kDevTypOem, false},
          {dbt::kDeviceArrival, 0, 0, true},
          {dbt::kDeviceRemoveComplete, 0, 0, true},
          {dbt::kDeviceArrival, sizeof(DevBroadcastHeader), dbt::kDevTypVolume, false},
          {dbt::kDeviceRemoveComplete, 15, dbt::kDevTypVolume, false},
          {0x0007, 0, 0, true},  // DBT_DEVNODES_CHANGED
          {0x0018, 0, 0, true},  // DBT_CONFIGCHANGED
      };
      const Ignored& m = kIgnored[rng() % std::size(kIgnored)];
      const auto record = Record(m.size, m.type, bit);
      form.WMDeviceChange(
          m.event,
          m.null_record ? nullptr : reinterpret_cast<const DevBroadcastHeader*>(record.data()));
    }
    if (expected_status.empty()) {
      ASSERT_EQ(view.set_rows_calls, rows_before) << "refreshed on a message that changes nothing";
      ASSERT_EQ(view.status_text, L"earlier line");
    } else {
      ++announced;
      ASSERT_EQ(view.set_rows_calls, rows_before + 1);
      ASSERT_EQ(view.status_text, expected_status);
    }
    ASSERT_EQ(machine.open_handles(), 0) << machine.DescribeOpenHandles();
    machine.ClearCalls();
  }
  EXPECT_GT(inserted, 100);
  EXPECT_GT(removed, 100);
  EXPECT_EQ(view.set_rows_calls, 1 + announced);

  // The list equals what a fresh window on the same machine shows.
  testing::FakeView fresh_view;
  fresh_view.checked[Command::Getnonvolumedrives1] = GetParam();
  Tfrmvolumes fresh(machine, fresh_view);
  const std::vector<ListRow> shown = view.rows;
  fresh.refresh_list();
  EXPECT_EQ(shown, fresh_view.rows);
  // Every stick still plugged in is listed: the volumes are the system's and the plugged ones.
  std::size_t volume_rows = 0;
  for (const ListRow& row : shown) volume_rows += row.caption.empty() ? 0 : 1;
  EXPECT_EQ(volume_rows, 1 + plugged.size() + letterless.size());
}

INSTANTIATE_TEST_SUITE_P(View, DeviceChangeStormTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "DosDevicesShown" : "VolumesOnly";
                         });

}  // namespace
}  // namespace vol
