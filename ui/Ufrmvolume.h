// The main window's unit, window-free part: the volume and DOS-device tables, the
// queries that fill them, the list rows they give, and the main window's handlers
// (class Tfrmvolumes), which act on the real window only through FormView.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/records.h"
#include "ui/edition.h"

namespace vol {

// ---------------------------------------------------------------- tables
// One row of the volume table. size and serial are filled by the full edition only.
struct volumes {
  std::wstring volume;  // volume GUID path with trailing backslash; empty: no volume
  std::wstring dosdevice;
  uint8_t disknumber = 0;
  uint8_t partitionnumber = 0;
  std::wstring pathname;
  int64_t size = 0;
  std::wstring serial;
};

// The volume table holds 16 rows and grows when more volumes qualify.
inline constexpr std::size_t kVolumeTableRows = 16;
extern std::vector<volumes> volume_table;

struct dosdevices {
  uint8_t disknumber = 0;
  uint8_t partitionnumber = 0;
  std::wstring drive;  // C: ; empty: no drive
  std::wstring dosdevice;
};
extern std::array<dosdevices, 26> dosdevice_table;

// First extent of a volume.
struct VolumeExtent {
  uint32_t DiskNumber = 0;
  int64_t StartingOffset = 0;
  int64_t ExtentLength = 0;
};

// Raises DeviceError "GetVolume_Storage:" + system text.
StorageDeviceNumber GetVolume_Storage(Platform& platform, const std::wstring& volume_name);
// All zero when the volume cannot be opened or reports no extent.
VolumeExtent GetVolumeExtent(Platform& platform, const std::wstring& volume_name);
// Appends the shadow-copy device names to list, creating it when absent.
void GetShadowCopyDevices(Platform& platform, std::optional<std::vector<std::wstring>>& list);

void list_volumes(Platform& platform);
int64_t get_volume_size(Platform& platform, const std::wstring& path);
std::wstring get_volume_serial(Platform& platform, const std::wstring& path);

void list_dosdevices(Platform& platform);
bool is_volume_drive(const std::wstring& drive);
bool is_dosdevice_target(const std::wstring& name);

// The drive (E:) of the lowest of bits 0..25; empty when none is set.
std::wstring unitmask_to_drive(uint32_t unitmask);

// ---------------------------------------------------------------- list rows
// A list row as text: the caption (column "Volume") and the sub-items in column order.
struct ListRow {
  std::wstring caption;
  std::vector<std::wstring> sub_items;

  // A sub-item by position; empty text when the row has fewer.
  const std::wstring& sub(int index) const;
  bool operator==(const ListRow&) const = default;
};

// The rows a refresh shows for the tables as they stand.
std::vector<ListRow> VolumeRows();
std::vector<ListRow> DosDeviceRows();
std::vector<ListRow> ShadowCopyRows(Platform& platform);

// ---------------------------------------------------------------- the window's side
// What Tfrmvolumes asks of the real window (and of a test double in tests).
class PropertiesView {
 public:
  virtual ~PropertiesView() = default;
  virtual void SetLines(const std::vector<std::wstring>& lines) = 0;
};

class FormView {
 public:
  virtual ~FormView() = default;
  virtual void SetTitle(const std::wstring& title) = 0;
  // Replaces every row of lvvolumes; no row is selected afterwards.
  virtual void SetRows(const std::vector<ListRow>& rows) = 0;
  virtual std::optional<ListRow> SelectedRow() = 0;
  virtual bool IsChecked(edition::Command item) = 0;
  virtual void SetChecked(edition::Command item, bool checked) = 0;
  virtual void SetStatusText(const std::wstring& text) = 0;
  // The modal input box; nothing when the user cancels or closes it.
  virtual std::optional<std::wstring> InputBox(const std::wstring& caption,
                                               const std::wstring& prompt,
                                               const std::wstring& default_text) = 0;
  // Creates and shows a new properties window with the given caption.
  virtual PropertiesView& OpenProperties(const std::wstring& caption) = 0;
};

// The main window's handlers.
class Tfrmvolumes {
 public:
  Tfrmvolumes(Platform& platform, FormView& view) : platform_(platform), view_(view) {}

  void FormShow();
  void refresh_list();
  // Runs the handler of a context-menu item.
  void RunCommand(edition::Command command);

  void Refresh1Click();
  void Getnonvolumedrives1Click();
  void Unmount1Click();
  void Mount1Click();
  void Mount2Click();
  void RemoveDosDevice1Click();
  void AddDosDevice1Click();
  void CopyVolumeName1Click();
  void CopyDosDevicetoclipboard1Click();
  void GetVolumeInformations1Click();
  void GetSerialNumber1Click();
  void lvvolumesDblClick();

  // WM_DEVICECHANGE: event is wParam, record the lParam pointer (may be null).
  void WMDeviceChange(uint32_t event, const DevBroadcastHeader* record);

 private:
  Platform& platform_;
  FormView& view_;
};

}  // namespace vol
