// The volume report of a device whose partition record is any 144 bytes and whose free
// space is any four numbers: it must render without fault, keep its fixed lines, and
// work out the megabytes in arithmetic that cannot overflow.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "devices/udiskmgmt.h"
#include "platform/records.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/sim/sim_machine.h"
#include "ui/edition.h"

namespace {

bool HasLine(const std::vector<std::wstring>& lines, const std::wstring& line) {
  for (const std::wstring& l : lines) {
    if (l == line) return true;
  }
  return false;
}

bool HasLineStarting(const std::vector<std::wstring>& lines, const std::wstring& start) {
  for (const std::wstring& l : lines) {
    if (l.compare(0, start.size(), start) == 0) return true;
  }
  return false;
}

std::wstring Megabytes(uint32_t cluster_size, uint32_t clusters) {
  // 128 bits: a different way to the same number.
  const unsigned __int128 bytes = static_cast<unsigned __int128>(cluster_size) * clusters;
  return std::to_wstring(static_cast<uint64_t>(bytes / 1048576));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vol;
  fuzz::Input input(data, size);
  const uint8_t switches = input.Byte();
  const bool partition_refused = switches & 1;
  const bool free_space_refused = switches & 2;
  const bool by_letter = switches & 4;

  SimFileSystem fs;
  fs.sectors_per_cluster = input.U32();
  fs.bytes_per_sector = input.U32();
  fs.free_clusters = input.U32();
  fs.total_clusters = input.U32();
  fs.serial = input.U32();
  PartitionInformationEx record;
  input.Bytes(&record, sizeof record);

  SimMachine machine;
  SimDevice& device = machine.AddVolume(SimMachine::Guid(1), L"\\Device\\HarddiskVolume1");
  device.device_number = StorageDeviceNumber{7, 0, 1};
  if (!partition_refused) device.partition = record;
  if (!free_space_refused) device.file_system = fs;
  machine.AddMountPath(SimMachine::VolumeGuidPath(1), L"C:\\");

  std::wstring target = by_letter ? L"\\\\.\\C:" : SimMachine::VolumeGuidPath(1);
  if (!by_letter) target.pop_back();
  std::vector<std::wstring> lines{L"left over"};
  GetVolumeReport(machine, target, lines);

  FUZZ_CHECK(machine.open_handles() == 0 && machine.bad_closes() == 0);
  FUZZ_CHECK(!HasLine(lines, L"left over"));
  FUZZ_CHECK(lines.size() >= 3 && lines.size() <= 24);
  FUZZ_CHECK(HasLine(lines, L"->VolumeGUID: " + SimMachine::VolumeGuidPath(1)));
  FUZZ_CHECK(HasLine(lines, L"->Partition_Info") != partition_refused);
  if (!partition_refused) {
    FUZZ_CHECK(HasLine(lines, L"PartitionNumber: " + std::to_wstring(record.PartitionNumber)));
    const bool known_style = record.PartitionStyle <= kPartitionStyleRaw;
    FUZZ_CHECK(HasLine(lines, L"???") != known_style);
    if (record.PartitionStyle == kPartitionStyleGpt) {
      // The name stops at its first NUL and never reaches past its 36 characters.
      std::size_t name_line = 0;
      for (const std::wstring& l : lines) {
        if (l.compare(0, 6, L"Name: ") == 0) name_line = l.size();
      }
      FUZZ_CHECK(name_line >= 6 && name_line <= 6 + 36);
    }
  }
  if (free_space_refused) {
    FUZZ_CHECK(HasLineStarting(lines, L"GetDiskFreeSpace failed:"));
  } else {
    const uint32_t cluster = fs.sectors_per_cluster * fs.bytes_per_sector;
    FUZZ_CHECK(lines.back().compare(0, 15, L"Free Clusters: ") == 0);
    FUZZ_CHECK(HasLine(lines, L"Total clusters: " + std::to_wstring(fs.total_clusters) + L" (" +
                                  Megabytes(cluster, fs.total_clusters) + L" MB)"));
    const std::wstring used =
        std::to_wstring(int64_t{fs.total_clusters} - int64_t{fs.free_clusters});
    FUZZ_CHECK(lines.back().find(L"/ Used Clusters: " + used + L" (") != std::wstring::npos);
  }
  if (edition::kFull && !free_space_refused) {
    FUZZ_CHECK(HasLineStarting(lines, L"->Serial:"));
  }
  return 0;
}
