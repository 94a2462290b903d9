// The program's map of physical disks and their partitions, and the per-drive questions the flows ask.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PartitionSlot {
  wchar_t letter = 0;          // drive letter mounted on the partition; 0 = none
  int64_t startingOffset = 0;  // byte offset of the partition on its disk
  int64_t length = 0;          // the partition's length in bytes
  bool active = false;         // MBR boot indicator
};

// A disk's partitions, sorted by ascending starting offset, and what names the disk itself.
struct DiskRecord {
  std::vector<PartitionSlot> slots;
  int32_t number = -1;         // Windows disk number (\\.\PhysicalDriveN)
  bool mbr = true;             // partition style
  uint32_t signature = 0;      // MBR disk signature (byte 440 of sector 0); 0 on GPT disks
  int64_t size = 0;            // the disk's length in bytes; 0 when the length request failed
};

// Where a drive's partition lies, as the identity file names it (docs/job-identity.md).
struct PartitionPlace {
  uint32_t diskSignature = 0;
  int64_t diskSize = 0;
  int64_t start = 0;
  int64_t length = 0;
};

using DiskTable = std::vector<DiskRecord>;

// The program-wide table, rebuilt by BuildDiskTable.
extern DiskTable TheDiskTable;

// Fixed limits of the table.
constexpr int kMaxPhysicalDrives = 100;
constexpr size_t kLayoutBufferSize = 5760;
constexpr int kLayoutEntriesExamined = 30;

// The numbered partitions of a raw DRIVE_LAYOUT_INFORMATION_EX buffer (entries at 48, 144 bytes apart,
// only the first 30 examined whatever the count says; PartitionNumber 0 skipped), letters unset.
std::vector<PartitionSlot> ParseDriveLayout(const uint8_t* buffer, size_t size);
// The MBR disk signature of a raw layout buffer; 0 for GPT or a buffer too short to hold it.
uint32_t LayoutSignature(const uint8_t* buffer, size_t size);
// The disk as a raw DRIVE_LAYOUT_INFORMATION buffer describes it (the request Windows 2000 has; MBR only):
// signature, and the numbered partitions of the first 30 entries (entries at 8, 32 bytes apart), leaving out
// empty slots and extended containers. Number and size are not in the buffer: -1 and 0.
DiskRecord DiskRecordFromLegacyLayout(const uint8_t* buffer, size_t size);

// What the partition requests tell of the partition behind a volume.
struct VolumePartition {
  bool mbr = true;
  int64_t startingOffset = 0;
  bool bootIndicator = false;
};
// From a raw PARTITION_INFORMATION_EX (144 bytes) and from a raw PARTITION_INFORMATION (32 bytes, always
// MBR); false when the buffer is too short.
bool VolumePartitionFromInfoEx(const uint8_t* buffer, size_t size, VolumePartition& out);
bool VolumePartitionFromLegacyInfo(const uint8_t* buffer, size_t size, VolumePartition& out);
// The place of a lettered partition in a table; false when the letter is not there, lies in the record of
// another disk than diskNumber (the volume's own, as its extent names it), or its disk's signature or size
// is unknown (a GPT disk, a failed length request).
bool PartitionPlaceInTable(const DiskTable& table, wchar_t letter, int32_t diskNumber, PartitionPlace& place);
// The 1-based position (as PartitionPositionInTable counts) of the active partition on the disk holding
// a letter; 0 when none is active or the letter is not found.
int ActivePositionOnDiskOf(const DiskTable& table, wchar_t letter);
// Sorts slots by ascending starting offset (signed comparison).
void SortSlotsByOffset(std::vector<PartitionSlot>& slots);
// The "%d:%d" address of a letter in a table, counted with referenceDisk as disk 1; empty when not found
// or when an empty disk comes first.
std::wstring GhostAddressInTable(const DiskTable& table, wchar_t letter, int32_t referenceDisk);
// Bytes of the partition a letter is mounted on; 0 when the letter is not in the table.
int64_t PartitionLengthInTable(const DiskTable& table, wchar_t letter);
// 1-based position of a letter within its disk's slots (first match, walking disks in order and stopping
// at the first disk without partitions); 0 when not found.
int PartitionPositionInTable(const DiskTable& table, wchar_t letter);

// Rebuilds TheDiskTable from the devices; always true.
bool BuildDiskTable();
// The place of a drive's partition in TheDiskTable (PartitionPlaceInTable with the volume's disk number).
bool GetPartitionPlace(wchar_t letter, PartitionPlace& place);
// "%d:%d" of a drive, the reference drive's disk numbered 1; empty when it cannot be placed.
std::wstring GetGhostAddress(wchar_t letter, wchar_t referenceLetter);
// Bytes of the partition a drive lies on, as the table last built knows it; 0 when unknown.
int64_t GetPartitionLength(wchar_t letter);
// Windows disk number of the volume at a letter; -2 when it cannot be opened, -1 when the query fails.
int32_t GetVolumeDiskNumber(wchar_t letter);
// -1 on failure; 1 when not MBR; else the MBR boot indicator (1 or 0).
int32_t GetPartitionBootFlag(wchar_t letter);
// NT device name of the volume mounted at a letter ("\Device\HarddiskVolume2"), or empty.
std::wstring GetVolumeDeviceName(wchar_t letter);
// True when the volume has a mount path beginning with the letter (exact comparison).
bool VolumeMountedAtLetter(const std::wstring& volumeGuidPath, wchar_t letter);

// True when a boot sector's OEM name (offset 3) is BitLocker's "-FVE-FS-".
bool BootSectorIsBitLocker(const uint8_t* sector, size_t size);
// True when the volume at a letter is BitLocker-encrypted: its first sector, read through its disk at the
// partition's offset (what the disk holds) or through the volume, carries BitLocker's OEM name. False when
// neither can be read.
bool VolumeIsBitLocker(wchar_t letter);
// The machine's physical memory in bytes; false when unknown.
bool GetPhysicalMemoryBytes(uint64_t& bytes);

// True when the machine was started through UEFI firmware, where a boot-sector entry cannot run.
bool IsUefiFirmware();
