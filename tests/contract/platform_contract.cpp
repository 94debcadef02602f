#include "tests/contract/platform_contract.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string_view>
#include <vector>

#include "devices/udiskmgmt.h"
#include "gtest/gtest.h"
#include "platform/edition.h"
#include "platform/records.h"
#include "platform/unique_any.h"

namespace vol::contract {
namespace {

constexpr uint32_t kUntouched = 0xdeadbeef;  // set before every call whose error counts
constexpr wchar_t kGuard = 0xABCD;           // fills buffers beyond the length passed
constexpr uint32_t kErrorDirNotRoot = 144;
constexpr uint32_t kErrorInvalidDrive = 15;
constexpr ApiForm kForm = edition::kApi;

using Strings = std::vector<std::wstring>;

bool Untouched(const std::vector<wchar_t>& buffer, std::size_t from) {
  return std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(from), buffer.end(),
                     [](wchar_t c) { return c == kGuard; });
}

Answer Failure(Platform& platform, int64_t result) { return {result, platform.GetLastError(), {}}; }

// A device opened as the program opens a volume for its number: no access asked.
DeviceHandle OpenForQueries(Platform& platform, const std::wstring& path) {
  return OpenDevice(platform, path, device_open::kVolumeNumber);
}

// GetVolumeNameForVolumeMountPointA as the program reaches it, through kernel32 by name;
// the call's result, and the name it wrote.
bool LookUpVolumeName(Platform& platform, const char* mount_path, std::wstring& name) {
  const PlatformModule kernel32(platform.LoadLibrary(L"kernel32.dll", kForm), {&platform});
  const ProcAddress lookup =
      platform.GetProcAddress(kernel32.get(), "GetVolumeNameForVolumeMountPointA");
  char buffer[261] = {};
  const bool ok = platform.CallGetVolumeNameForVolumeMountPoint(lookup, mount_path, buffer, 261);
  name = platform.FromAnsi(buffer);
  return ok;
}

std::wstring DevicePath(const std::wstring& volume) { return volume.substr(0, volume.size() - 1); }

// One control request on the system volume: result, error, bytes returned.
Answer Request(Platform& platform, const Scene& scene, uint32_t code, uint32_t size) {
  const DeviceHandle device = OpenForQueries(platform, DevicePath(scene.system_volume));
  if (!device) return {-1, platform.GetLastError(), L"cannot open"};
  std::vector<uint8_t> out(size + 16, 0xEE);
  uint32_t returned = 0;
  platform.SetLastError(kUntouched);
  const bool ok =
      platform.DeviceIoControl(device.get(), code, nullptr, 0, out.data(), size, &returned);
  Answer answer{ok, ok ? kAnyError : platform.GetLastError(),
                L"returned " + std::to_wstring(returned)};
  if (!std::all_of(out.begin() + size, out.end(), [](uint8_t b) { return b == 0xEE; })) {
    answer.text += L", written past the buffer";
  }
  return answer;
}

const Answer kInvalidDrive{0, kErrorInvalidDrive};
const std::wstring kNoSuchVolume = L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\";

// Each fact: name, source, Windows' answer, the question.
const std::vector<Fact> kFacts = {
    // ------------------------------------------------------------ volume enumeration
    {"FirstVolumeIsAVolumeGuidPath",
     Kind::kSeenOnWindows,
     "volume.c test_FindFirstVolume: 49 characters, \\\\?\\Volume{ to }\\",
     {1, kAnyError, L"volume GUID path"},
     [](Platform& p, const Scene&) -> Answer {
       std::wstring name;
       if (!VolumeSearch(p.FindFirstVolume(name), {&p})) return Failure(p, 0);
       return {1, kAnyError, IsVolumeGuidPath(name) ? L"volume GUID path" : name};
     },
     true},
    {"EnumerationEndsWithNoMoreFiles",
     Kind::kSeenOnWindows,
     "volume.c test_FindFirstVolume: every name a volume GUID path, then ERROR_NO_MORE_FILES",
     {0, 18, L"volume GUID paths"},
     [](Platform& p, const Scene&) -> Answer {
       std::wstring name;
       const VolumeSearch find(p.FindFirstVolume(name), {&p});
       if (!find) return Failure(p, -1);
       bool more = true, well_formed = true;
       for (int i = 0; more && i < 1000; ++i) {
         well_formed &= IsVolumeGuidPath(name);
         p.SetLastError(kUntouched);
         more = p.FindNextVolume(find.get(), name);
       }
       return {more, p.GetLastError(), well_formed ? L"volume GUID paths" : L"malformed"};
     },
     true},
    {"MountPointOfCNamesAnEnumeratedVolume",
     Kind::kSeenOnWindows,
     "volume.c test_enum_vols",
     {1, kAnyError, L"enumerated"},
     [](Platform& p, const Scene&) -> Answer {
       std::wstring name;
       const bool ok = LookUpVolumeName(p, "C:\\", name);
       const Strings volumes = Volumes(p);
       const bool found = std::find(volumes.begin(), volumes.end(), name) != volumes.end();
       return {ok, kAnyError, found ? L"enumerated" : name};
     }},
    {"LookupOfAFolderThatIsNoMountPointFails",
     Kind::kSeenOnWindows,
     "volume.c test_GetVolumeNameForVolumeMountPointA: an arbitrary directory",
     {0},
     [](Platform& p, const Scene&) -> Answer {
       std::wstring name;
       return {LookUpVolumeName(p, "C:\\windows\\", name)};
     }},
    {"MissingLibraryAndExportGiveTheirErrors",
     Kind::kSeenOnWindows,
     "module.c testLoadLibraryA_Wrong: ERROR_MOD_NOT_FOUND; testGetProcAddress_Wrong: "
     "ERROR_PROC_NOT_FOUND",
     {0, win_error::kProcNotFound, L"126"},
     [](Platform& p, const Scene&) -> Answer {
       p.SetLastError(kUntouched);
       const Module missing = p.LoadLibrary(L"volumes-no-such-library.dll", kForm);
       const std::wstring load_error = std::to_wstring(p.GetLastError());
       const PlatformModule kernel32(p.LoadLibrary(L"kernel32.dll", kForm), {&p});
       p.SetLastError(kUntouched);
       const ProcAddress none = p.GetProcAddress(kernel32.get(), "VolumesNoSuchExport");
       Answer answer{static_cast<int64_t>(none | missing), p.GetLastError(), load_error};
       // What a failed lookup gave is never called.
       char buffer[261] = "untouched";
       if (p.CallGetVolumeNameForVolumeMountPoint(none, "C:\\", buffer, 261) ||
           std::string_view(buffer) != "untouched") {
         answer.text += L", called";
       }
       return answer;
     }},

    // ------------------------------------------------------------ mount paths
    {"MountPathsOfTheSystemVolumeAreCAndItsLength",
     Kind::kSeenOnWindows,
     "volume.c test_GetVolumePathNamesForVolumeNameA and W: C:\\ and length 5",
     {1, kAnyError, L"C:\\ 5"},
     [](Platform& p, const Scene& s) -> Answer {
       std::vector<wchar_t> buffer(300, kGuard);
       uint32_t length = 0;
       const bool ok =
           p.GetVolumePathNamesForVolumeName(s.system_volume, buffer.data(), 260, &length);
       if (!ok) return Failure(p, 0);
       const Strings paths = SplitMultiString(buffer.data(), std::min<uint32_t>(length, 260));
       return {1, kAnyError,
               (paths.empty() ? L"none" : paths.front()) + L" " + std::to_wstring(length)};
     },
     true},
    {"MountPathsInATooSmallBufferGiveMoreDataAndTheLengthNeeded",
     Kind::kDocumented,
     "learn.microsoft.com GetVolumePathNamesForVolumeNameW: ERROR_MORE_DATA, and "
     "lpcchReturnLength the size needed, when the list does not fit (volume.c "
     "test_GetVolumePathNamesForVolumeNameW asserts the error for a zero-length buffer)",
     {0, win_error::kMoreData, L"needs 5, nothing past the buffer"},
     [](Platform& p, const Scene& s) -> Answer {
       Answer answer{0, win_error::kMoreData, L"needs 5, nothing past the buffer"};
       for (uint32_t small : {0u, 1u, 3u}) {
         std::vector<wchar_t> buffer(small + 8, kGuard);
         uint32_t needed = 0;
         p.SetLastError(kUntouched);
         const bool ok = p.GetVolumePathNamesForVolumeName(
             s.system_volume, small ? buffer.data() : nullptr, small, &needed);
         Answer one{ok, p.GetLastError(),
                    L"needs " + std::to_wstring(needed) +
                        (Untouched(buffer, small) ? L", nothing past the buffer" : L", overrun")};
         if (!(one == answer)) return one;
       }
       return answer;
     },
     true},
    {"MountPathsOfAnUnknownVolumeGiveFileNotFound",
     Kind::kSeenOnWindows,
     "volume.c test_GetVolumePathNamesForVolumeNameW: volume_null",
     {0, win_error::kFileNotFound},
     [](Platform& p, const Scene&) -> Answer {
       std::vector<wchar_t> buffer(260);
       uint32_t length = 0;
       p.SetLastError(kUntouched);
       return Failure(p, p.GetVolumePathNamesForVolumeName(
                             L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\",
                             buffer.data(), 260, &length));
     },
     true},
    {"MountPathsOfAMalformedNameGiveInvalidName",
     Kind::kSeenOnWindows,
     "volume.c test_GetVolumePathNamesForVolumeNameW: an empty name, and \\??\\Volume{...} "
     "without its backslash",
     {0, win_error::kInvalidName, L"\\??\\ form: 123"},
     [](Platform& p, const Scene& s) -> Answer {
       std::vector<wchar_t> buffer(260);
       uint32_t length = 0;
       const std::wstring nt_form = L"\\??\\" + DevicePath(s.system_volume).substr(4);
       p.SetLastError(kUntouched);
       p.GetVolumePathNamesForVolumeName(nt_form, buffer.data(), 260, &length);
       const std::wstring nt_form_error = std::to_wstring(p.GetLastError());
       p.SetLastError(kUntouched);
       const bool ok = p.GetVolumePathNamesForVolumeName(L"", buffer.data(), 260, &length);
       return {ok, p.GetLastError(), L"\\??\\ form: " + nt_form_error};
     }},

    // ------------------------------------------------------------ the DOS-device namespace
    {"CNamesTheSystemVolumesDevice",
     Kind::kDocumented,
     "learn.microsoft.com \"Displaying Volume Paths\" (QueryDosDevice of Volume{GUID} gives "
     "the volume's device) and \"Obtaining a File Name From a File Handle\" (of a drive letter)",
     {1, kAnyError, L"same device"},
     [](Platform& p, const Scene& s) -> Answer {
       const Strings c = Targets(p, L"C:", kForm);
       if (c.empty()) return Failure(p, 0);
       bool every_volume = true;
       for (const std::wstring& volume : Volumes(p)) {
         const Strings targets = Targets(p, NamespaceName(volume), kForm);
         every_volume &= !targets.empty() && targets.front().starts_with(L"\\Device\\");
       }
       return {1, kAnyError,
               c.front() == s.system_device && c.front().starts_with(L"\\Device\\")
                   ? (every_volume ? L"same device" : L"a volume without a device")
                   : c.front()};
     },
     true},
    {"TargetsInATooSmallBufferGiveInsufficientBuffer",
     Kind::kDocumented,
     "learn.microsoft.com QueryDosDeviceW: ERROR_INSUFFICIENT_BUFFER when the buffer is too small",
     {0, win_error::kInsufficientBuffer, L"nothing past the buffer"},
     [](Platform& p, const Scene&) -> Answer {
       const std::wstring name = L"C:";
       std::vector<wchar_t> buffer(16, kGuard);
       p.SetLastError(kUntouched);
       const uint32_t count = p.QueryDosDevice(&name, buffer.data(), 4, kForm);
       return {count, p.GetLastError(),
               Untouched(buffer, 4) ? L"nothing past the buffer" : L"overrun"};
     },
     true},
    {"UnknownNameGivesFileNotFound",
     Kind::kSeenOnWindows,
     "volume.c test_query_dos_deviceA: an unused letter; test_dos_devices: a removed one",
     {0, win_error::kFileNotFound},
     [](Platform& p, const Scene& s) -> Answer {
       std::vector<wchar_t> buffer(260);
       p.SetLastError(kUntouched);
       return Failure(p, p.QueryDosDevice(&s.free_letter, buffer.data(), 260, kForm));
     },
     true},
    {"NameListGrowsFromInsufficientBufferAndHoldsCAndTheVolume",
     Kind::kDocumented,
     "learn.microsoft.com QueryDosDeviceW: a NULL name lists every name, "
     "ERROR_INSUFFICIENT_BUFFER when they do not fit (volume.c test_query_dos_deviceA "
     "asserts that error for an empty buffer)",
     {1, win_error::kInsufficientBuffer, L"C: and Volume{GUID} listed"},
     [](Platform& p, const Scene& s) -> Answer {
       uint32_t length = 16;
       std::vector<wchar_t> buffer;
       uint32_t count = 0, first_error = kAnyError;
       for (; length < (1u << 24); length *= 2) {
         buffer.assign(length + 8, kGuard);
         p.SetLastError(kUntouched);
         count = p.QueryDosDevice(nullptr, buffer.data(), length, kForm);
         if (!Untouched(buffer, length)) return {-1, kAnyError, L"overrun"};
         if (count != 0) break;
         if (first_error == kAnyError) first_error = p.GetLastError();
       }
       const Strings names = SplitMultiString(buffer.data(), std::min(count, length));
       const auto listed = [&names](const std::wstring& name) {
         return std::find(names.begin(), names.end(), name) != names.end();
       };
       const bool empty_name = std::find(names.begin(), names.end(), L"") != names.end();
       return {count > 0, first_error,
               listed(L"C:") && listed(NamespaceName(s.system_volume)) && !empty_name
                   ? L"C: and Volume{GUID} listed"
                   : L"missing"};
     },
     true},
    {"RawDefinitionOnAFreeLetterReadsBackAndGoesWithItsTarget",
     Kind::kDocumented,
     "learn.microsoft.com DefineDosDeviceW: DDD_RAW_TARGET_PATH, DDD_REMOVE_DEFINITION with "
     "the target; volume.c test_dos_devices reads a raw definition back",
     {1, win_error::kFileNotFound, L"read back"},
     [](Platform& p, const Scene& s) -> Answer {
       ScratchLetter letter(p);
       if (!letter.DefineRaw(s.system_device, kForm)) return Failure(p, -1);
       const Strings targets = Targets(p, letter.name(), kForm);
       const bool removed = p.DefineDosDevice(ddd::kRemoveDefinition | ddd::kRawTargetPath,
                                              letter.name(), &s.system_device, kForm);
       std::vector<wchar_t> buffer(260);
       p.SetLastError(kUntouched);
       p.QueryDosDevice(&letter.name(), buffer.data(), 260, kForm);
       return {removed, p.GetLastError(),
               targets == Strings{s.system_device} ? L"read back" : L"not read back"};
     }},
    {"RemovingAnUndefinedNameGivesFileNotFound",
     Kind::kInferred,
     "inferred: a removal looks the name up as a query does, and querying an undefined name "
     "gives ERROR_FILE_NOT_FOUND (volume.c test_dos_devices)",
     {0, win_error::kFileNotFound},
     [](Platform& p, const Scene& s) -> Answer {
       p.SetLastError(kUntouched);
       return Failure(p, p.DefineDosDevice(ddd::kRemoveDefinition, s.free_letter, nullptr, kForm));
     }},
    {"MalformedNamesAreNeverDefined",
     Kind::kInferred,
     "inferred from ntdll/tests/om.c: a link under \\?? in a folder that does not exist "
     "gives STATUS_OBJECT_PATH_NOT_FOUND, an empty name STATUS_OBJECT_NAME_INVALID; "
     "DefineDosDevice is taken to pass those on",
     {0, win_error::kInvalidName, L"X:\\ 3, a\\b 3"},
     [](Platform& p, const Scene& s) -> Answer {
       std::wstring text;
       for (const wchar_t* name : {L"X:\\", L"a\\b"}) {
         p.SetLastError(kUntouched);
         if (p.DefineDosDevice(ddd::kRawTargetPath, name, &s.system_device, kForm)) {
           p.DefineDosDevice(ddd::kRemoveDefinition, name, nullptr, kForm);
           return {1, kAnyError, std::wstring(name) + L" defined"};
         }
         text += (text.empty() ? L"" : L", ") + std::wstring(name) + L" " +
                 std::to_wstring(p.GetLastError());
       }
       p.SetLastError(kUntouched);
       const bool ok = p.DefineDosDevice(ddd::kRawTargetPath, L"", &s.system_device, kForm);
       if (ok) p.DefineDosDevice(ddd::kRemoveDefinition, L"", nullptr, kForm);
       return {ok, p.GetLastError(), text};
     }},
    {"SecondDefinitionStacksOnTheFirst",
     Kind::kDocumented,
     "learn.microsoft.com \"Defining an MS-DOS Device Name\": the newest definition hides the "
     "older ones",
     {1, kAnyError, L"newest first"},
     [](Platform& p, const Scene& s) -> Answer {
       ScratchLetter letter(p);
       if (!letter.DefineRaw(s.system_device, kForm)) return Failure(p, -1);
       const std::wstring second = L"\\Device\\Null";
       p.SetLastError(kUntouched);
       if (!letter.DefineRaw(second, kForm)) return Failure(p, 0);
       const Strings targets = Targets(p, letter.name(), kForm);
       return {1, kAnyError,
               targets == Strings{second, s.system_device} ? L"newest first" : L"other order"};
     }},

    // ------------------------------------------------------------ drives
    {"DriveTypeOfCIsFixedWithOrWithoutItsBackslash",
     Kind::kInferred,
     "drive.c test_GetDriveTypeA: a drive's letter without its backslash has a drive's type; "
     "that the system drive is fixed is inferred (Windows runs from a disk)",
     {3, kAnyError, L"C: 3"},
     [](Platform& p, const Scene&) -> Answer {
       return {p.GetDriveType(L"C:\\", kForm), kAnyError,
               L"C: " + std::to_wstring(p.GetDriveType(L"C:", kForm))};
     }},
    {"DriveTypeOfAFreeLetterIsNoRootDir",
     Kind::kSeenOnWindows,
     "drive.c test_GetDriveTypeA: a letter GetLogicalDrives does not report",
     {drive_type::kNoRootDir},
     [](Platform& p, const Scene& s) -> Answer {
       return {p.GetDriveType(s.free_letter + L"\\", kForm)};
     },
     true},
    {"LetterDefinedToAVolumeHasThatVolumesDriveType",
     Kind::kInferred,
     "inferred: GetDriveTypeW types the drive a root leads to, and the letter leads to the "
     "system volume, whose type DriveTypeOfCIsFixedWithOrWithoutItsBackslash gives",
     {drive_type::kFixed},
     [](Platform& p, const Scene& s) -> Answer {
       ScratchLetter letter(p);
       if (!letter.DefineRaw(s.system_device, kForm)) return Failure(p, -1);
       return {p.GetDriveType(letter.name() + L"\\", kForm)};
     }},
    {"DriveTypeOfAVolumeGuidPathIsItsVolumes",
     Kind::kDocumented,
     "learn.microsoft.com \"Naming a Volume\": a volume GUID path stands for the volume's root",
     {drive_type::kFixed},
     [](Platform& p, const Scene& s) -> Answer {
       return {p.GetDriveType(s.system_volume, kForm)};
     }},
    {"FreeSpaceOfCIsConsistent",
     Kind::kInferred,
     "inferred from what the values mean: drive.c test_GetDiskFreeSpaceA reads C:'s and "
     "asserts only that they cover GetDiskFreeSpaceEx's total",
     {1, kAnyError, L"consistent"},
     [](Platform& p, const Scene&) -> Answer {
       uint32_t sectors = 0, bytes = 0, free = 0, total = 0;
       if (!p.GetDiskFreeSpace(L"C:\\", &sectors, &bytes, &free, &total, kForm)) {
         return Failure(p, 0);
       }
       const bool consistent =
           sectors > 0 && bytes > 0 && (bytes & (bytes - 1)) == 0 && total > 0 && free <= total;
       return {1, kAnyError, consistent ? L"consistent" : L"inconsistent"};
     },
     true},
    {"FreeSpaceOfAFreeLetterFails",
     Kind::kInferred,
     "inferred from drive.c test_GetDiskFreeSpaceA, which expects ERROR_PATH_NOT_FOUND or "
     "ERROR_INVALID_DRIVE for a letter GetLogicalDrives does not report, but skips letters "
     "without a root directory, so never asks a free one",
     {0, win_error::kPathNotFound},
     [](Platform& p, const Scene& s) -> Answer {
       uint32_t sectors = 0, bytes = 0, free = 0, total = 0;
       p.SetLastError(kUntouched);
       return Failure(
           p, p.GetDiskFreeSpace(s.free_letter + L"\\", &sectors, &bytes, &free, &total, kForm));
     },
     true,
     &kInvalidDrive},
    {"SerialOfCAndOfTheSystemVolumeAgree",
     Kind::kDocumented,
     "learn.microsoft.com GetVolumeInformationW: the serial is the volume's; volume.c "
     "test_GetVolumeInformationA asserts the call on the volume GUID path succeeds",
     {1, kAnyError, L"same serial"},
     [](Platform& p, const Scene& s) -> Answer {
       uint32_t serial = 0, component = 0, flags = 0, volume_serial = 1;
       if (!p.GetVolumeInformation(L"C:\\", &serial, &component, &flags)) return Failure(p, 0);
       const bool ok = p.GetVolumeInformation(s.system_volume, &volume_serial, &component, &flags);
       return {ok, kAnyError, serial == volume_serial ? L"same serial" : L"other serial"};
     },
     true},
    {"VolumeInformationOfAFolderGivesDirNotRoot",
     Kind::kSeenOnWindows,
     "volume.c test_GetVolumeInformationA: a directory off the root, with its backslash",
     {0, kErrorDirNotRoot},
     [](Platform& p, const Scene&) -> Answer {
       uint32_t serial = 0, component = 0, flags = 0;
       p.SetLastError(kUntouched);
       return Failure(p, p.GetVolumeInformation(L"C:\\windows\\", &serial, &component, &flags));
     }},

    // ------------------------------------------------------------ devices
    {"DeviceNumberOfTheVolumeAndOfItsLetterAgree",
     Kind::kDocumented,
     "learn.microsoft.com IOCTL_STORAGE_GET_DEVICE_NUMBER: one STORAGE_DEVICE_NUMBER, of the "
     "device the handle names; \\\\.\\C: and the volume's path name one volume",
     {1, kAnyError, L"12 bytes, same numbers"},
     [](Platform& p, const Scene& s) -> Answer {
       StorageDeviceNumber numbers[2] = {{0xCD, 0xCD, 0xCD}, {0xEF, 0xEF, 0xEF}};
       uint32_t returned[2] = {};
       const std::wstring paths[2] = {DevicePath(s.system_volume), L"\\\\.\\C:"};
       for (int i = 0; i < 2; ++i) {
         const DeviceHandle device = OpenForQueries(p, paths[i]);
         if (!device) return Failure(p, -1);
         if (!p.DeviceIoControl(device.get(), ioctl::kStorageGetDeviceNumber, nullptr, 0,
                                &numbers[i], sizeof numbers[i], &returned[i])) {
           return Failure(p, 0);
         }
       }
       const bool same = std::memcmp(&numbers[0], &numbers[1], sizeof numbers[0]) == 0;
       return {1, kAnyError,
               std::to_wstring(returned[0]) + L" bytes, " + (same ? L"same numbers" : L"differ")};
     },
     true},
    {"DeviceNumberIntoTooSmallABufferGivesInsufficientBuffer",
     Kind::kInferred,
     "inferred: the page gives no error; a driver answers a short output buffer with "
     "STATUS_BUFFER_TOO_SMALL, which Win32 reports as ERROR_INSUFFICIENT_BUFFER (as volume.c "
     "test_dvd_read_structure asserts for another request)",
     {0, win_error::kInsufficientBuffer, L"returned 0"},
     [](Platform& p, const Scene& s) -> Answer {
       return Request(p, s, ioctl::kStorageGetDeviceNumber, sizeof(StorageDeviceNumber) - 1);
     }},
    {"UnknownControlCodeGivesInvalidFunction",
     Kind::kInferred,
     "inferred: a driver refuses a code it does not know with STATUS_INVALID_DEVICE_REQUEST, "
     "ERROR_INVALID_FUNCTION, the answer volume.c test_disk_extents takes for an unsupported "
     "request",
     {0, win_error::kInvalidFunction, L"returned 0"},
     [](Platform& p, const Scene& s) -> Answer { return Request(p, s, 0x12345, 260); }},
    {"ExtentsOfTheSystemVolumeFillOneRecord",
     Kind::kSeenOnWindows,
     "volume.c test_disk_extents: 32 bytes",
     {1, kAnyError, L"returned 32"},
     [](Platform& p, const Scene& s) -> Answer {
       return Request(p, s, ioctl::kVolumeGetVolumeDiskExtents, 260);
     }},
    {"PartitionEntryOfTheSystemVolumeIsRead",
     Kind::kDocumented,
     "learn.microsoft.com IOCTL_DISK_GET_PARTITION_INFO_EX: one PARTITION_INFORMATION_EX",
     {1, kAnyError, L"returned 144"},
     [](Platform& p, const Scene& s) -> Answer {
       return Request(p, s, ioctl::kDiskGetPartitionInfoEx, sizeof(PartitionInformationEx));
     }},
    {"DevicePathsOpenTheVolumeAndDirectoriesAreRefused",
     Kind::kDocumented,
     "learn.microsoft.com CreateFileW, \"Physical Disks and Volumes\" and \"Directories\" (a "
     "directory needs FILE_FLAG_BACKUP_SEMANTICS)",
     {1, kAnyError, L"\\\\.\\C: opens, GLOBALROOT opens; volume root 5, C:\\ 5, C: 5"},
     [](Platform& p, const Scene& s) -> Answer {
       std::wstring text;
       for (const std::wstring& path :
            {std::wstring(L"\\\\.\\C:"), L"\\\\?\\GLOBALROOT" + s.system_device}) {
         if (!OpenForQueries(p, path)) return Failure(p, 0);
       }
       for (const std::wstring& path :
            {s.system_volume, std::wstring(L"C:\\"), std::wstring(L"C:")}) {
         p.SetLastError(kUntouched);
         const bool opens = static_cast<bool>(OpenForQueries(p, path));
         const uint32_t error = p.GetLastError();
         text += std::wstring(text.empty() ? L"" : L", ") +
                 (path == s.system_volume ? L"volume root" : path) + L" " +
                 (opens ? L"opens" : std::to_wstring(error));
       }
       return {1, kAnyError, L"\\\\.\\C: opens, GLOBALROOT opens; " + text};
     }},
    {"OpeningAMissingDeviceGivesFileNotFound",
     Kind::kDocumented,
     "learn.microsoft.com CreateFileW: OPEN_EXISTING of a device that does not exist",
     {0, win_error::kFileNotFound},
     [](Platform& p, const Scene&) -> Answer {
       p.SetLastError(kUntouched);
       const bool opens = static_cast<bool>(OpenForQueries(p, L"\\\\.\\VolumesNoSuchDevice"));
       return Failure(p, opens);
     },
     true},
    {"SecondCloseOfAHandleGivesInvalidHandle",
     Kind::kInferred,
     "inferred: learn.microsoft.com CloseHandle fails for a handle that is not valid, and a "
     "closed handle is not; the code is ERROR_INVALID_HANDLE's meaning",
     {0, win_error::kInvalidHandle, L"first closed"},
     [](Platform& p, const Scene&) -> Answer {
       const Handle device = OpenForQueries(p, L"\\\\.\\C:").release();
       if (device == kInvalidHandle) return Failure(p, -1);
       const bool first = p.CloseHandle(device);
       p.SetLastError(kUntouched);
       const bool second = p.CloseHandle(device);
       return {second, p.GetLastError(), first ? L"first closed" : L"first refused"};
     },
     true},

    // ------------------------------------------------------------ mount points, errors
    {"MountOnALetterInUseFails",
     Kind::kInferred,
     "inferred from learn.microsoft.com SetVolumeMountPointW (a mount point already "
     "associated with a volume takes no other); the volume named exists nowhere, so nothing "
     "can change, and an account without elevation is refused too (ERROR_ACCESS_DENIED): the "
     "call fails either way, with a code no page gives",
     {0},
     [](Platform& p, const Scene&) -> Answer {
       return {p.SetVolumeMountPoint(L"C:\\", kNoSuchVolume)};
     }},
    {"SystemTextsEndInALineBreakAndUnknownCodesHaveNone",
     Kind::kInferred,
     "inferred from the system's message tables, whose texts end in a line break; "
     "learn.microsoft.com FormatMessageW: a code without a text fails",
     {1, kAnyError, L"\r\n"},
     [](Platform& p, const Scene&) -> Answer {
       std::wstring ends;
       for (uint32_t code : {win_error::kFileNotFound, win_error::kAccessDenied}) {
         const std::wstring text = p.FormatMessage(code);
         ends = text.size() > 2 ? text.substr(text.size() - 2) : text;
         if (ends != L"\r\n") break;
       }
       return {p.FormatMessage(0x2000FFFFu).empty(), kAnyError, ends};
     }},
};

// Wine 8.0 as Debian 12 ships it.
const std::vector<WineDeviation> kWineDeviations = {
    {"DevicePathsOpenTheVolumeAndDirectoriesAreRefused",
     {1, kAnyError, L"\\\\.\\C: opens, GLOBALROOT opens; volume root opens, C:\\ 5, C: 5"},
     "opens a volume GUID path's root directory without FILE_FLAG_BACKUP_SEMANTICS"},
    {"SecondDefinitionStacksOnTheFirst",
     {0, 183, L""},
     "refuses a second definition of a name with ERROR_ALREADY_EXISTS"},
    {"LetterDefinedToAVolumeHasThatVolumesDriveType",
     {drive_type::kNoRootDir},
     "gives a defined letter no root directory"},
    {"DriveTypeOfAVolumeGuidPathIsItsVolumes",
     {drive_type::kUnknown},
     "knows no drive type for a volume GUID path"},
    {"DeviceNumberIntoTooSmallABufferGivesInsufficientBuffer",
     {1, kAnyError, L"returned 11"},
     "fills a short buffer with the record's first bytes and succeeds"},
    {"PartitionEntryOfTheSystemVolumeIsRead",
     {0, win_error::kNotSupported, L"returned 0"},
     "does not implement IOCTL_DISK_GET_PARTITION_INFO_EX"},
};

}  // namespace

Strings SplitMultiString(const wchar_t* text, std::size_t count) {
  Strings strings;
  for (std::size_t at = 0; at < count && text[at] != L'\0';) {
    strings.emplace_back(text + at);
    at += strings.back().size() + 1;
  }
  return strings;
}

bool IsVolumeGuidPath(std::wstring_view name) {
  constexpr std::wstring_view kPrefix = L"\\\\?\\Volume{";
  constexpr std::wstring_view kShape = L"xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
  if (name.size() != kPrefix.size() + kShape.size() + 2 || !name.starts_with(kPrefix) ||
      !name.ends_with(L"}\\")) {
    return false;
  }
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const wchar_t c = name[kPrefix.size() + i];
    if (kShape[i] == L'-' ? c != L'-' : !std::iswxdigit(c)) return false;
  }
  return true;
}

Strings Volumes(Platform& platform) {
  Strings volumes;
  std::wstring name;
  const VolumeSearch find(platform.FindFirstVolume(name), {&platform});
  if (!find) return volumes;
  do {
    volumes.push_back(name);
  } while (platform.FindNextVolume(find.get(), name) && volumes.size() < 1000);
  return volumes;
}

Strings MountPaths(Platform& platform, const std::wstring& volume) {
  std::vector<wchar_t> buffer(4096);
  uint32_t length = 0;
  if (!platform.GetVolumePathNamesForVolumeName(volume, buffer.data(),
                                                static_cast<uint32_t>(buffer.size()), &length)) {
    return {};
  }
  return SplitMultiString(buffer.data(), std::min<std::size_t>(length, buffer.size()));
}

Strings Targets(Platform& platform, const std::wstring& name, ApiForm form) {
  std::vector<wchar_t> buffer(1024);
  const uint32_t count =
      platform.QueryDosDevice(&name, buffer.data(), static_cast<uint32_t>(buffer.size()), form);
  return SplitMultiString(buffer.data(), count);
}

// Volume{GUID}: the name a volume GUID path has in the DOS-device namespace.
std::wstring NamespaceName(const std::wstring& volume) {
  return volume.size() > 5 ? volume.substr(4, volume.size() - 5) : L"";
}

const std::vector<Fact>& Facts() { return kFacts; }
const std::vector<WineDeviation>& WineDeviations() { return kWineDeviations; }

std::wstring FreeLetter(Platform& platform) {
  for (wchar_t letter = L'Y'; letter >= L'D'; --letter) {
    const std::wstring name{letter, L':'};
    if (Targets(platform, name, ApiForm::Wide).empty()) return name;
  }
  return {};
}

ScratchLetter::ScratchLetter(Platform& platform)
    : platform_(platform), name_(FreeLetter(platform)) {}

ScratchLetter::~ScratchLetter() {
  if (name_.empty()) return;
  for (int i = 0; i < 4 && Defined(); ++i) {
    platform_.DefineDosDevice(ddd::kRemoveDefinition, name_, nullptr, ApiForm::Wide);
  }
  EXPECT_FALSE(Defined()) << "scratch letter " << platform_.ToAnsi(name_) << " left behind";
}

std::wstring ScratchLetter::Target() {
  const Strings targets = Targets(platform_, name_, ApiForm::Wide);
  return targets.empty() ? L"" : targets.front();
}

bool ScratchLetter::DefineRaw(const std::wstring& nt_device, ApiForm form) {
  return platform_.DefineDosDevice(ddd::kRawTargetPath, name_, &nt_device, form);
}

Scene Arrange(Platform& platform) {
  Scene scene;
  for (const std::wstring& volume : Volumes(platform)) {
    const Strings paths = MountPaths(platform, volume);
    if (std::find(paths.begin(), paths.end(), L"C:\\") != paths.end()) {
      scene.system_volume = volume;
      const Strings targets = Targets(platform, NamespaceName(volume), ApiForm::Wide);
      if (!targets.empty()) scene.system_device = targets.front();
    }
  }
  scene.free_letter = FreeLetter(platform);
  return scene;
}

Answer Expected(const Fact& fact, bool under_wine) {
  if (under_wine) {
    for (const WineDeviation& deviation : kWineDeviations) {
      if (std::string_view(deviation.fact) == fact.name) return deviation.wine;
    }
  }
  return fact.windows;
}

::testing::AssertionResult Holds(const Fact& fact, const Answer& got, bool under_wine) {
  const Answer expected = Expected(fact, under_wine);
  const auto same = [&got](const Answer& want) {
    return got.result == want.result && got.text == want.text &&
           (want.error == kAnyError || got.error == want.error);
  };
  if (same(expected) || (!under_wine && fact.also && same(*fact.also))) {
    return ::testing::AssertionSuccess();
  }
  const auto show = [](const Answer& answer) {
    std::string text(answer.text.begin(), answer.text.end());
    return std::to_string(answer.result) + ", error " +
           (answer.error == kAnyError ? std::string("any") : std::to_string(answer.error)) +
           ", \"" + text + "\"";
  };
  return ::testing::AssertionFailure()
         << fact.name << " (" << KindName(fact.kind) << ": " << fact.source << ")\n  expected "
         << show(expected) << (under_wine ? " (under Wine)" : "") << "\n  got      " << show(got);
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kSeenOnWindows:
      return "seen on Windows";
    case Kind::kDocumented:
      return "documented";
    case Kind::kInferred:
      return "inferred";
  }
  return "?";
}

Counts CountFacts(const std::vector<Kind>& simulator_only) {
  const int both = static_cast<int>(kFacts.size());
  Counts counts{both + static_cast<int>(simulator_only.size()),
                both,
                static_cast<int>(simulator_only.size()),
                static_cast<int>(kWineDeviations.size()),
                0,
                0,
                0};
  std::vector<Kind> kinds = simulator_only;
  for (const Fact& fact : kFacts) kinds.push_back(fact.kind);
  for (const Kind kind : kinds) {
    ++(kind == Kind::kSeenOnWindows ? counts.seen_on_windows
       : kind == Kind::kDocumented  ? counts.documented
                                    : counts.inferred);
  }
  return counts;
}

}  // namespace vol::contract
