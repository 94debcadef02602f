// The window layout and the rows of the two builds, stated once. What the device code
// differs in is in platform/edition.h; the columns and the menu of each build are in
// the tables of ui/Ufrmvolume.h.
#pragma once

#include <cstdint>
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
inline constexpr std::wstring_view kTitle = L"Karrowin " VOLUMES_VERSION " by " VOLUMES_CONTACT;
inline constexpr int kStatusBarHeight = 19;
// The reduced build keeps its layout caption when started as this executable.
inline constexpr std::wstring_view kQuietExecutable = L"lindquay.exe";
inline constexpr bool kQuietExecutableRule = !kFull;

// --- rows and commands ---
inline constexpr bool kDosRowBackslash = kFull;  // a DOS-device row's "PathName" is C:\ (else C:)
inline constexpr ApiForm kClipboardForm = kApi;  // CF_TEXT or CF_UNICODETEXT

// --- properties window ---
inline constexpr int kPropertiesWidth = 490, kPropertiesHeight = 329;
inline constexpr int kPropertiesFontHeight = -11, kPropertiesDesignDpi = 96;

}  // namespace vol::edition
