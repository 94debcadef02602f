// Everything that differs between the two builds, stated once.
//
// The full edition is the 32-bit build; the reduced edition is the 64-bit build.
// The build system defines VOLUMES_FULL_EDITION to 1 or 0; host tests build the
// window-free code twice, once per edition.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/platform.h"

#ifndef VOLUMES_FULL_EDITION
#error "VOLUMES_FULL_EDITION must be defined to 1 (32-bit build) or 0 (64-bit build)"
#endif

namespace vol::edition {

inline constexpr bool kFull = VOLUMES_FULL_EDITION != 0;

// The text form of the system functions that come in both forms.
inline constexpr ApiForm kApi = kFull ? ApiForm::Ansi : ApiForm::Wide;

// --- main window layout ---
struct WindowLayout {
  int left, top, client_width, client_height;
  int font_height;  // the font's height in design pixels (negative: character height)
  int design_dpi;
};
inline constexpr WindowLayout kMainWindow =
    kFull ? WindowLayout{425, 123, 1094, 288, -14, 120} : WindowLayout{383, 126, 714, 201, -11, 96};
inline constexpr std::wstring_view kFontName = L"MS Sans Serif";
inline constexpr std::wstring_view kLayoutCaption = L"Volumes";
inline constexpr std::wstring_view kTitle = L"Karrowin 0.3 by volumes@lindquay.example";
inline constexpr int kStatusBarHeight = 19;
// The reduced build keeps its layout caption when started as this executable.
inline constexpr std::wstring_view kQuietExecutable = L"lindquay.exe";
inline constexpr bool kQuietExecutableRule = !kFull;
inline constexpr bool kHasFormClose = kFull;

// --- list columns ---
struct Column {
  std::wstring_view caption;
  int width;
};
inline constexpr std::array<Column, 7> kFullColumns{{{L"Volume", 369},
                                                     {L"PathName", 92},
                                                     {L"Disk #", 62},
                                                     {L"Part #", 62},
                                                     {L"Dos Device", 215},
                                                     {L"Volume Size", 154},
                                                     {L"Serial", 123}}};
inline constexpr std::array<Column, 5> kReducedColumns{{{L"Volume", 275},
                                                        {L"PathName", 75},
                                                        {L"DiskNumber", 100},
                                                        {L"PartitionNumber", 100},
                                                        {L"Dos Device", 150}}};
inline constexpr std::span<const Column> kColumns =
    kFull ? std::span<const Column>(kFullColumns) : std::span<const Column>(kReducedColumns);

// Cells by position: the caption is column 0, sub-item k is column k + 1.
inline constexpr int kSubPathName = 0, kSubDiskNumber = 1, kSubPartitionNumber = 2,
                     kSubDosDevice = 3, kSubVolumeSize = 4, kSubSerial = 5;

// --- context menu ---
enum class Command : uint16_t {
  None = 0,
  Unmount1 = 101,
  Mount1,
  Mount2,
  Getnonvolumedrives1,
  RemoveDosDevice1,
  AddDosDevice1,
  CopyVolumeName1,
  CopyDosDevicetoclipboard1,
  GetVolumeInformations1,
  GetSerialNumber1,
  Refresh1,
};
struct MenuItem {
  std::wstring_view name;     // the item's layout name
  std::wstring_view caption;  // "-" for a separator
  Command command;            // Command::None for a separator
};
inline constexpr std::array<MenuItem, 14> kFullMenu{{
    {L"Unmount1", L"Unmount Volume", Command::Unmount1},
    {L"Mount1", L"Mount Volume (Auto assign letter)", Command::Mount1},
    {L"Mount2", L"Mount Volume (Specify path)", Command::Mount2},
    {L"N4", L"-", Command::None},
    {L"Getnonvolumedrives1", L"Get Dos Devices", Command::Getnonvolumedrives1},
    {L"RemoveDosDevice1", L"Remove Dos Device Letter", Command::RemoveDosDevice1},
    {L"AddDosDevice1", L"Add Dos Device Letter", Command::AddDosDevice1},
    {L"N1", L"-", Command::None},
    {L"CopyVolumeName1", L"Copy Volume Name (to clipboard)", Command::CopyVolumeName1},
    {L"CopyDosDevicetoclipboard1", L"Copy Dos Device (to clipboard)",
     Command::CopyDosDevicetoclipboard1},
    {L"GetVolumeInformations1", L"Get Volume / Dos Device Informations",
     Command::GetVolumeInformations1},
    {L"GetSerialNumber1", L"Get Volume / Dos Device Serial Number", Command::GetSerialNumber1},
    {L"N3", L"-", Command::None},
    {L"Refresh1", L"Refresh", Command::Refresh1},
}};
inline constexpr std::array<MenuItem, 12> kReducedMenu{{
    {L"Unmount1", L"Unmount", Command::Unmount1},
    {L"Mount1", L"Mount (Auto assign letter)", Command::Mount1},
    {L"Mount2", L"Mount (Specify path)", Command::Mount2},
    {L"N4", L"-", Command::None},
    {L"RemoveDosDevice1", L"Remove DosDevice", Command::RemoveDosDevice1},
    {L"N1", L"-", Command::None},
    {L"CopyVolumeName1", L"Copy VolumeName", Command::CopyVolumeName1},
    {L"N2", L"-", Command::None},
    {L"GetVolumeInformations1", L"Get Volume Informations", Command::GetVolumeInformations1},
    {L"N3", L"-", Command::None},
    {L"Refresh1", L"Refresh", Command::Refresh1},
    {L"Getnonvolumedrives1", L"Get non-volume drives", Command::Getnonvolumedrives1},
}};
inline constexpr std::span<const MenuItem> kMenu =
    kFull ? std::span<const MenuItem>(kFullMenu) : std::span<const MenuItem>(kReducedMenu);

// --- rows and commands ---
inline constexpr bool kVolumeSizeAndSerial = kFull;  // "Volume Size" and "Serial" columns
inline constexpr bool kShadowCopies = kFull;         // shadow-copy rows in the DOS-device view
inline constexpr bool kDosRowBackslash = kFull;  // a DOS-device row's "PathName" is C:\ (else C:)
// Drive types that the DOS-device view keeps (removable only when not a floppy).
inline constexpr bool kListNoRootDir = kFull;
inline constexpr ApiForm kClipboardForm = kApi;  // CF_TEXT or CF_UNICODETEXT

// --- device queries and the report ---
// GetDeviceNumber: the full edition opens a drive for queries only and shares nothing;
// the reduced one reads and lets others read and write.
inline constexpr uint32_t kDeviceNumberAccess =
    kFull ? file_access::kNone : file_access::kGenericRead;
inline constexpr uint32_t kDeviceNumberShare =
    kFull ? 0 : file_access::kShareRead | file_access::kShareWrite;
// The report: the full edition asks the device number before the partition entry, says
// "NONE" for a partition entry it cannot read, and has a serial line.
struct ReportSteps {
  bool device_number_first;
  std::wstring_view device_number_label;
  bool partition_none_line;
  bool serial;
};
inline constexpr ReportSteps kReportSteps =
    kFull ? ReportSteps{true, L"->Parent DeviceNumber: ", true, true}
          : ReportSteps{false, L"->DeviceNumber: ", false, false};

// --- properties window ---
inline constexpr int kPropertiesWidth = 490, kPropertiesHeight = 329;
inline constexpr int kPropertiesFontHeight = -11, kPropertiesDesignDpi = 96;

}  // namespace vol::edition
