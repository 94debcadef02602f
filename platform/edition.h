// What the device code and the crash reporter of the two builds differ in, stated once.
// The window layout of each build (columns, menus, captions) is in ui/edition.h.
//
// The full edition is the 32-bit build; the reduced edition is the 64-bit build.
// The build system defines VOLUMES_FULL_EDITION to 1 or 0 (host tests build the
// window-free code twice, once per edition) and VOLUMES_CONTACT, the address that bug
// reports go to (the CMake setting of the same name).
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/identity.h"  // made by the build: the program's name and version
#include "platform/platform.h"

#ifndef VOLUMES_FULL_EDITION
#error "VOLUMES_FULL_EDITION must be defined to 1 (32-bit build) or 0 (64-bit build)"
#endif
#ifndef VOLUMES_CONTACT
#error "VOLUMES_CONTACT must be defined to the contact address, as a string literal"
#endif

namespace vol::edition {

inline constexpr bool kFull = VOLUMES_FULL_EDITION != 0;

// The text form of the system functions that come in both forms.
inline constexpr ApiForm kApi = kFull ? ApiForm::Ansi : ApiForm::Wide;

// The program's name, as its message boxes show it.
inline constexpr wchar_t kProgramName[] = L"" VOLUMES_NAME;

// The author's contact address: the end of the window title and the bug report's recipient.
inline constexpr std::wstring_view kContactAddress = L"" VOLUMES_CONTACT;

// What a scan asks: the size and serial of each volume, the shadow copies in the
// DOS-device view, and letters without a root directory among its drives.
inline constexpr bool kVolumeSizeAndSerial = kFull;
inline constexpr bool kShadowCopies = kFull;
inline constexpr bool kListNoRootDir = kFull;

// An error the device layer catches: the full edition shows it in a message box of its
// own (no owner, caption "lindquay"), the reduced edition in the plain message dialog.
inline constexpr bool kDeviceErrorBox = kFull;

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

}  // namespace vol::edition
