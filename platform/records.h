// The platform's published result records, laid out byte for byte as Windows lays
// them out, so the same bytes mean the same on Windows, under Wine and in tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vol {

struct StorageDeviceNumber {  // STORAGE_DEVICE_NUMBER
  uint32_t DeviceType;
  uint32_t DeviceNumber;
  uint32_t PartitionNumber;
};
static_assert(sizeof(StorageDeviceNumber) == 12);

struct DiskExtent {  // DISK_EXTENT
  uint32_t DiskNumber;
  alignas(8) int64_t StartingOffset;
  alignas(8) int64_t ExtentLength;
};
static_assert(sizeof(DiskExtent) == 24);

struct VolumeDiskExtentsHeader {  // VOLUME_DISK_EXTENTS without its extents
  uint32_t NumberOfDiskExtents;
  uint32_t padding;
};
inline constexpr std::size_t kFirstExtentOffset = 8;

struct Guid {  // GUID
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(Guid) == 16);

struct PartitionInformationMbr {  // PARTITION_INFORMATION_MBR
  uint8_t PartitionType;
  uint8_t BootIndicator;
  uint8_t RecognizedPartition;
  uint8_t padding;
  uint32_t HiddenSectors;
  Guid PartitionId;
};

struct PartitionInformationGpt {  // PARTITION_INFORMATION_GPT
  Guid PartitionType;
  Guid PartitionId;
  alignas(8) uint64_t Attributes;
  char16_t Name[36];
};
static_assert(sizeof(PartitionInformationGpt) == 112);

inline constexpr uint32_t kPartitionStyleMbr = 0, kPartitionStyleGpt = 1, kPartitionStyleRaw = 2;

struct PartitionInformationEx {  // PARTITION_INFORMATION_EX
  uint32_t PartitionStyle;
  alignas(8) int64_t StartingOffset;
  alignas(8) int64_t PartitionLength;
  uint32_t PartitionNumber;
  uint8_t RewritePartition;
  uint8_t IsServicePartition;
  union {
    PartitionInformationMbr Mbr;
    PartitionInformationGpt Gpt;
  };
};
static_assert(sizeof(PartitionInformationEx) == 144);
static_assert(offsetof(PartitionInformationEx, Mbr) == 32);

// WM_DEVICECHANGE records (dbt.h).
struct DevBroadcastHeader {  // DEV_BROADCAST_HDR
  uint32_t dbch_size;
  uint32_t dbch_devicetype;
  uint32_t dbch_reserved;
};
struct DevBroadcastVolume {  // DEV_BROADCAST_VOLUME
  uint32_t dbcv_size;
  uint32_t dbcv_devicetype;
  uint32_t dbcv_reserved;
  uint32_t dbcv_unitmask;
  uint16_t dbcv_flags;
};
static_assert(sizeof(DevBroadcastVolume) == 20);

namespace dbt {
inline constexpr uint32_t kDeviceArrival = 0x8000;
inline constexpr uint32_t kDeviceQueryRemove = 0x8001;
inline constexpr uint32_t kDeviceRemovePending = 0x8003;
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kDevTypOem = 0, kDevTypVolume = 2, kDevTypPort = 3,
                          kDevTypDeviceInterface = 5, kDevTypHandle = 6;
}  // namespace dbt

}  // namespace vol
