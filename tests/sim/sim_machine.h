// SimMachine: a model Windows machine behind the platform seam, so that the device
// layer, the tables, the commands and the report run and are tested on any host.
//
// It follows documented Windows behaviour where the program can tell the difference:
// trailing-backslash rules, ERROR_MORE_DATA versus ERROR_INSUFFICIENT_BUFFER,
// DefineDosDevice's stacked definitions and prefix-matching removal, last-error
// values. It counts open handles (every test can assert that nothing leaked) and
// records every call (tests can assert orders and counts).
//
// Text given in an ANSI form (ApiForm::Ansi, and the functions the real
// implementation always calls in their ANSI form) goes through the model ANSI code
// page on the way in and out, exactly as the real ...A functions would convert it:
// characters 0..255 stay, everything else becomes '?'.
//
// Single-threaded, like the program.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/records.h"

namespace vol {

// One value per Platform method.
enum class Call {
  FindFirstVolume,
  FindNextVolume,
  FindVolumeClose,
  GetVolumePathNamesForVolumeName,
  SetVolumeMountPoint,
  DeleteVolumeMountPoint,
  LoadLibrary,
  FreeLibrary,
  GetProcAddress,
  CallGetVolumeNameForVolumeMountPoint,
  QueryDosDevice,
  DefineDosDevice,
  GetDriveType,
  GetDiskFreeSpace,
  GetVolumeInformation,
  CreateFile,
  DeviceIoControl,
  CloseHandle,
  GetLastError,
  SetLastError,
  FormatMessage,
  ToAnsi,
  FromAnsi,
  Sleep,
  MessageBox,
  ShowMessage,
  SetClipboardText,
  LocalDateTimeText,
  ExecutablePath,
};
inline constexpr int kCallKinds = static_cast<int>(Call::ExecutablePath) + 1;

// The name of a call kind, e.g. "CreateFile" (for test messages).
const char* CallName(Call call);

// A mounted file system as GetDiskFreeSpace and GetVolumeInformation see it.
struct SimFileSystem {
  uint32_t serial = 0;
  uint32_t sectors_per_cluster = 8;
  uint32_t bytes_per_sector = 512;
  uint32_t free_clusters = 0;
  uint32_t total_clusters = 0;
  uint32_t max_component_length = 255;
  uint32_t file_system_flags = 0x03E706FF;  // what NTFS reports
};

// One NT device (a volume, a shadow copy, a CD drive, ...).
struct SimDevice {
  std::wstring nt_name;  // e.g. L"\\Device\\HarddiskVolume3"
  // What GetDriveType answers for a root that leads to this device.
  uint32_t drive_type = drive_type::kFixed;
  // Non-zero: every CreateFile of the device fails with this code (and so do
  // GetDiskFreeSpace and GetVolumeInformation of its roots).
  uint32_t open_error = 0;
  // Non-zero: opens that ask for GENERIC_WRITE fail with this code.
  uint32_t write_open_error = 0;
  // IOCTL_STORAGE_GET_DEVICE_NUMBER: absent → the request fails with device_number_error.
  std::optional<StorageDeviceNumber> device_number;
  uint32_t device_number_error = win_error::kInvalidFunction;
  // IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: these extents, or extents_error when non-zero.
  std::vector<DiskExtent> extents;
  uint32_t extents_error = 0;
  // IOCTL_DISK_GET_PARTITION_INFO_EX: absent → ERROR_NOT_SUPPORTED.
  std::optional<PartitionInformationEx> partition;
  // Absent: GetDiskFreeSpace / GetVolumeInformation fail with ERROR_UNRECOGNIZED_VOLUME.
  std::optional<SimFileSystem> file_system;
  // When set, the extents request succeeds and copies these bytes, truncated to the
  // output size (malformed replies).
  std::optional<std::vector<uint8_t>> raw_extents_reply;
};

class SimMachine : public Platform {
 public:
  using Call = vol::Call;

  // A scripted failure (see Fail).
  struct FailureRule {
    Call call;
    uint32_t error;
    std::wstring argument_part;     // case-insensitive substring of the main argument; "" = all
    std::optional<uint32_t> flags;  // when set, CallRecord::flags must equal it (an IOCTL code,
                                    // CreateFile access, DefineDosDevice flags)
    int times = -1;                 // how many more calls fail; -1 = no limit
    bool throws = false;  // the call throws std::bad_alloc instead, as text conversion may
  };

  // One call made through the seam.
  struct CallRecord {
    Call call;
    // The main text argument: the path, name or mount path. For DeviceIoControl and
    // CloseHandle the path the handle was opened with; for GetProcAddress the export name.
    std::wstring argument;
    // DefineDosDevice flags, CreateFile access, DeviceIoControl code, MessageBox type,
    // Sleep milliseconds, FormatMessage / SetLastError code.
    uint32_t flags = 0;
    // The form asked for; for functions without ApiForm the form the real
    // implementation calls (Ansi for the volume-management functions,
    // GetVolumeInformation and CallGetVolumeNameForVolumeMountPoint; Wide otherwise).
    ApiForm form = ApiForm::Wide;
    // The second text: DefineDosDevice target, SetVolumeMountPoint volume name,
    // MessageBox caption.
    std::wstring argument2;
    // QueryDosDevice: the name was null. DefineDosDevice: the target was null.
    bool null_text = false;
    // Output size: characters for text buffers, bytes for DeviceIoControl and
    // CallGetVolumeNameForVolumeMountPoint.
    uint32_t buffer_size = 0;
    uint32_t input_size = 0;  // DeviceIoControl
    // CreateFile: share mode, creation disposition, flags and attributes.
    uint32_t share_mode = 0, disposition = 0, attributes = 0;
    // The handle passed in; for CreateFile and FindFirstVolume the handle returned;
    // for LoadLibrary / FreeLibrary / GetProcAddress the module.
    Handle handle = 0;
    bool failed = false;  // the call reported failure
  };

  struct ShownMessage {
    std::wstring text, caption;
    bool plain_dialog;  // ShowMessage (true) or MessageBox (false)
    uint32_t type = 0;  // MessageBox flags
    ApiForm form = ApiForm::Wide;
  };

  struct ClipboardContent {
    std::wstring text;
    ApiForm form;  // Ansi = CF_TEXT, Wide = CF_UNICODETEXT
  };

  SimMachine();
  ~SimMachine() override;
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  // ---------------------------------------------------------------- building
  // A device without a namespace name (e.g. a shadow copy; name it with DefineDosName).
  // The reference stays valid for the machine's lifetime. Give the NT name here: the
  // namespace keeps the target text it was given, as Windows' symbolic links do.
  SimDevice& AddDevice(std::wstring nt_name);
  // A volume: creates its device, the namespace name L"Volume" + guid → nt_name, and
  // appends L"\\\\?\\Volume" + guid + L"\\" to the enumeration. guid is braced:
  // L"{0a1b...}".
  SimDevice& AddVolume(std::wstring guid, std::wstring nt_name);
  // The volume leaves the enumeration and the namespace, with its mount paths and their
  // drive letters. Its device object (and open handles to it) stay.
  void RemoveVolume(const std::wstring& volume_guid_path);
  // Distinct GUIDs for test machines: Guid(n) = L"{5a1e0000-0000-11f0-9000-00000000nnnn}"
  // style braced text; VolumeGuidPath(n) = L"\\\\?\\Volume" + Guid(n) + L"\\".
  static std::wstring Guid(int n);
  static std::wstring VolumeGuidPath(int n);
  // Appends a mount path (a drive root "X:\\" or a folder ending in a backslash) to the
  // volume's ordered list; a drive root also defines the DOS name "X:" → nt_name.
  void AddMountPath(const std::wstring& volume_guid_path, const std::wstring& mount_path);
  // An existing empty folder where a volume may be mounted, e.g. L"C:\\mnt\\".
  void AddFolder(const std::wstring& path);
  // Pushes a definition on a name's stack (most recent first); names keep the order in
  // which they first appeared.
  void DefineDosName(const std::wstring& name, const std::wstring& target);
  // count names prefix + "0", prefix + "1", ... each → target, quickly (large namespaces).
  void AddManyDosNames(const std::wstring& prefix, int count, const std::wstring& target);
  // What GetDriveType answers for letter's root, whatever "X:" names.
  void SetDriveType(wchar_t letter, uint32_t type);
  // The device with this NT name (case-insensitive); throws std::out_of_range if none.
  SimDevice& Device(const std::wstring& nt_name);

  // From now on every call of this kind whose main argument contains argument_part
  // (case-insensitive; empty = every call) fails: it returns the seam's failure result
  // (false, 0, kInvalidHandle, empty text; GetDriveType answers kUnknown) and sets the
  // last error. Failing FindVolumeClose / FreeLibrary / CloseHandle still release the
  // handle. Calls without a failure result (GetLastError, SetLastError, ToAnsi, FromAnsi,
  // Sleep, MessageBox, ShowMessage, LocalDateTimeText, ExecutablePath) ignore rules.
  // The returned rule may be refined (flags, times); it lives until ClearFailures.
  // Rules are tried in the order they were made.
  FailureRule& Fail(Call call, uint32_t error, std::wstring argument_part = L"");
  void ClearFailures();  // also ends FailAtRandom
  // Every failable call fails with probability percent/100, decided by a deterministic
  // generator started at rng_state, with an error code typical of that call. percent 0
  // turns it off.
  void FailAtRandom(uint32_t rng_state, unsigned percent);

  void SetLibraryMissing(bool missing);  // LoadLibrary("kernel32.dll") fails
  void SetExportMissing(bool missing);  // GetProcAddress finds no GetVolumeNameForVolumeMountPointA
  void SetClipboardBusy(bool busy);
  void SetLocalDateTimeText(std::wstring text);  // default L"09.12.2026 06:00:00"
  void SetExecutablePath(std::wstring path);  // default L"C:\\Program Files\\volumes\\volumes.exe"
  // Off: calls are no longer recorded (benchmarks). On by default.
  void SetRecordCalls(bool record);

  // ------------------------------------------------------------- observation
  // Handles from CreateFile and FindFirstVolume, and LoadLibrary references, not yet
  // released.
  int open_handles() const;
  // One line per open handle (kind and path), for failure messages.
  std::wstring DescribeOpenHandles() const;
  // Closing an unknown, already closed or wrong-kind handle.
  int bad_closes() const { return bad_closes_; }

  const std::vector<CallRecord>& calls() const { return calls_; }
  int CountCalls(Call call) const;
  // The most recent call of this kind, or null.
  const CallRecord* LastCall(Call call) const;
  void ClearCalls() { calls_.clear(); }

  const std::vector<ShownMessage>& messages() const { return messages_; }
  std::optional<ClipboardContent> clipboard() const { return clipboard_; }
  uint32_t slept_milliseconds() const { return slept_milliseconds_; }

  // A name's targets, most recent first; empty when the name is undefined.
  std::vector<std::wstring> DosTargets(const std::wstring& name) const;
  // All names, in the order QueryDosDevice lists them.
  std::vector<std::wstring> DosNames() const;
  // A volume's mount paths in order; empty for an unknown volume.
  std::vector<std::wstring> MountPaths(const std::wstring& volume_guid_path) const;
  // The enumerable volume GUID paths, in order.
  std::vector<std::wstring> VolumeGuidPaths() const;

  // Convenience records.
  static PartitionInformationEx MbrPartition(uint32_t number, int64_t offset, int64_t length,
                                             uint8_t type = 0x07, bool boot = false,
                                             uint32_t hidden_sectors = 2048);
  static PartitionInformationEx GptPartition(uint32_t number, int64_t offset, int64_t length,
                                             const vol::Guid& type, const vol::Guid& id,
                                             const std::u16string& name, uint64_t attributes = 0);

  // ------------------------------------------------------------------ Platform
  Handle FindFirstVolume(std::wstring& volume_name) override;
  bool FindNextVolume(Handle find, std::wstring& volume_name) override;
  bool FindVolumeClose(Handle find) override;
  bool GetVolumePathNamesForVolumeName(const std::wstring& volume_name, wchar_t* buffer,
                                       uint32_t buffer_length, uint32_t* return_length) override;
  bool SetVolumeMountPoint(const std::wstring& mount_path,
                           const std::wstring& volume_name) override;
  bool DeleteVolumeMountPoint(const std::wstring& mount_path) override;
  Module LoadLibrary(const std::wstring& file_name, ApiForm form) override;
  bool FreeLibrary(Module module) override;
  ProcAddress GetProcAddress(Module module, const char* export_name) override;
  bool CallGetVolumeNameForVolumeMountPoint(ProcAddress function, const std::string& mount_path,
                                            char* buffer, uint32_t buffer_length) override;
  uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer, uint32_t buffer_length,
                          ApiForm form) override;
  bool DefineDosDevice(uint32_t flags, const std::wstring& device_name,
                       const std::wstring* target_path, ApiForm form) override;
  uint32_t GetDriveType(const std::wstring& root_path, ApiForm form) override;
  bool GetDiskFreeSpace(const std::wstring& root_path, uint32_t* sectors_per_cluster,
                        uint32_t* bytes_per_sector, uint32_t* free_clusters,
                        uint32_t* total_clusters, ApiForm form) override;
  bool GetVolumeInformation(const std::wstring& root_path, uint32_t* serial_number,
                            uint32_t* max_component_length, uint32_t* file_system_flags) override;
  Handle CreateFile(const std::wstring& path, uint32_t access, uint32_t share_mode,
                    uint32_t creation_disposition, uint32_t flags_and_attributes,
                    ApiForm form) override;
  bool DeviceIoControl(Handle device, uint32_t control_code, const void* in_buffer,
                       uint32_t in_size, void* out_buffer, uint32_t out_size,
                       uint32_t* bytes_returned) override;
  bool CloseHandle(Handle handle) override;
  uint32_t GetLastError() override;
  void SetLastError(uint32_t code) override;
  std::wstring FormatMessage(uint32_t code) override;
  std::string ToAnsi(const std::wstring& text) override;
  std::wstring FromAnsi(const std::string& text) override;
  void Sleep(uint32_t milliseconds) override;
  void MessageBox(const std::wstring& text, const std::wstring& caption, uint32_t type,
                  ApiForm form) override;
  void ShowMessage(const std::wstring& text) override;
  bool SetClipboardText(const std::wstring& text, ApiForm form) override;
  std::wstring LocalDateTimeText() override;
  std::wstring ExecutablePath() override;

 private:
  struct Volume {
    std::wstring guid_path;  // \\?\Volume{G}\ as given
    std::wstring dos_name;   // Volume{G}
    SimDevice* device;
    std::vector<std::wstring> mount_paths;
  };
  struct DosName {
    std::wstring name;
    std::vector<std::wstring> targets;  // the top of the stack is the back
  };
  enum class HandleKind { File, Find };
  struct OpenHandle {
    HandleKind kind;
    std::wstring path;
    SimDevice* device = nullptr;             // File
    std::vector<std::wstring> volume_names;  // Find: the snapshot taken at FindFirstVolume
    size_t next = 0;                         // Find
  };
  enum class Resolved { Device, NotDevice, Unknown };

  CallRecord& Record(Call call, std::wstring argument = L"", ApiForm form = ApiForm::Wide);
  bool ScriptedFailure(CallRecord& record);
  bool Failed(CallRecord& record, uint32_t error);
  Volume* FindVolume(const std::wstring& volume_guid_path);
  const Volume* FindVolume(const std::wstring& volume_guid_path) const;
  Volume* VolumeMountedAt(const std::wstring& mount_path, size_t* index = nullptr);
  DosName* FindDosName(const std::wstring& name);
  const DosName* FindDosName(const std::wstring& name) const;
  SimDevice* FindDevice(const std::wstring& nt_name);
  Resolved ResolveDosName(const std::wstring& name, SimDevice** device, int depth = 0);
  bool ResolveFolderDrive(const std::wstring& name, SimDevice** device);
  uint32_t RootDevice(const std::wstring& root_path, SimDevice** device);
  void PushDosName(const std::wstring& name, const std::wstring& target);
  void RemoveDosDefinition(DosName& entry, size_t index_from_top);
  std::wstring Narrow(const std::wstring& text, ApiForm form);
  Handle NewHandle(OpenHandle handle);
  bool Release(Handle handle, HandleKind kind, CallRecord& record);

  std::deque<SimDevice> devices_;
  std::vector<Volume> volumes_;
  std::list<DosName> dos_names_;
  std::unordered_map<std::wstring, std::list<DosName>::iterator> dos_index_;
  std::map<std::wstring, std::wstring> folders_;  // upper-cased → as given
  std::map<wchar_t, uint32_t> drive_type_overrides_;
  std::map<Handle, OpenHandle> handles_;
  Handle next_handle_ = 0x1000;
  int module_references_ = 0;
  int bad_closes_ = 0;

  std::deque<FailureRule> failures_;
  uint32_t rng_state_ = 0;
  unsigned random_percent_ = 0;
  bool library_missing_ = false, export_missing_ = false, clipboard_busy_ = false;
  bool record_calls_ = true;

  uint32_t last_error_ = 0;
  std::vector<CallRecord> calls_;
  CallRecord scratch_record_{};
  std::vector<ShownMessage> messages_;
  std::optional<ClipboardContent> clipboard_;
  uint32_t slept_milliseconds_ = 0;
  std::wstring date_time_text_ = L"09.12.2026 06:00:00";
  std::wstring executable_path_ = L"C:\\Program Files\\volumes\\volumes.exe";
};

}  // namespace vol
