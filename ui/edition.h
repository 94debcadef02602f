// The window layout and the rows of the two builds (columns, menus, captions), stated
// once. What the device code differs in is in platform/edition.h.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/edition.h"

namespace vol::edition {

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
inline constexpr std::wstring_view kTitle = L"Karrowin 0.3 by " VOLUMES_CONTACT;
inline constexpr int kStatusBarHeight = 19;
// The reduced build keeps its layout caption when started as this executable.
inline constexpr std::wstring_view kQuietExecutable = L"lindquay.exe";
inline constexpr bool kQuietExecutableRule = !kFull;

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

// --- rows and commands ---
inline constexpr bool kVolumeSizeAndSerial = kFull;  // "Volume Size" and "Serial" columns
inline constexpr bool kShadowCopies = kFull;         // shadow-copy rows in the DOS-device view
inline constexpr bool kDosRowBackslash = kFull;  // a DOS-device row's "PathName" is C:\ (else C:)
// Drive types that the DOS-device view keeps (removable only when not a floppy).
inline constexpr bool kListNoRootDir = kFull;
inline constexpr ApiForm kClipboardForm = kApi;  // CF_TEXT or CF_UNICODETEXT

// --- properties window ---
inline constexpr int kPropertiesWidth = 490, kPropertiesHeight = 329;
inline constexpr int kPropertiesFontHeight = -11, kPropertiesDesignDpi = 96;

}  // namespace vol::edition
