#include "sysinfo/disk_table.h"

#include <windows.h>
#include <winioctl.h>

#include <cctype>
#include <cstring>

#include "base/text_format.h"
#include "sysinfo/device_io.h"

DiskTable TheDiskTable;

namespace {

// Byte positions inside DRIVE_LAYOUT_INFORMATION_EX and PARTITION_INFORMATION_EX.
constexpr size_t kFirstEntryOffset = 48;
constexpr size_t kEntrySize = 144;
constexpr size_t kEntryStartingOffset = 8;
constexpr size_t kEntryPartitionLength = 16;
constexpr size_t kEntryPartitionNumber = 24;
constexpr size_t kEntryBootIndicator = 33;
constexpr size_t kLayoutStyle = 0;
constexpr size_t kLayoutSignature = 8;
constexpr size_t kPartitionInfoSize = 144;
constexpr size_t kPartitionInfoStyle = 0;
constexpr size_t kPartitionInfoStartingOffset = 8;
constexpr size_t kPartitionInfoBootIndicator = 33;
// DRIVE_LAYOUT_INFORMATION and PARTITION_INFORMATION, the forms Windows 2000 answers.
constexpr size_t kLegacySignature = 4;
constexpr size_t kLegacyFirstEntry = 8;
constexpr size_t kLegacyEntrySize = 32;
constexpr size_t kLegacyStartingOffset = 0;
constexpr size_t kLegacyPartitionLength = 8;
constexpr size_t kLegacyPartitionNumber = 20;
constexpr size_t kLegacyPartitionType = 24;
constexpr size_t kLegacyBootIndicator = 25;
constexpr size_t kDiskExtentsSize = 32;
constexpr size_t kExtentsCount = 0;
constexpr size_t kFirstExtentDiskNumber = 8;

static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == kFirstEntryOffset, "layout");
static_assert(sizeof(PARTITION_INFORMATION_EX) == kEntrySize, "entry size");
static_assert(offsetof(PARTITION_INFORMATION_EX, StartingOffset) == kEntryStartingOffset, "offset");
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionNumber) == kEntryPartitionNumber, "number");
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionLength) == kEntryPartitionLength, "length");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, Mbr) + offsetof(DRIVE_LAYOUT_INFORMATION_MBR, Signature) ==
                  kLayoutSignature, "signature");
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) + offsetof(PARTITION_INFORMATION_MBR, BootIndicator) ==
                  kPartitionInfoBootIndicator, "boot indicator");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION, Signature) == kLegacySignature, "legacy signature");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry) == kLegacyFirstEntry, "legacy layout");
static_assert(sizeof(PARTITION_INFORMATION) == kLegacyEntrySize, "legacy entry size");
static_assert(offsetof(PARTITION_INFORMATION, StartingOffset) == kLegacyStartingOffset, "legacy offset");
static_assert(offsetof(PARTITION_INFORMATION, PartitionLength) == kLegacyPartitionLength, "legacy length");
static_assert(offsetof(PARTITION_INFORMATION, PartitionNumber) == kLegacyPartitionNumber, "legacy number");
static_assert(offsetof(PARTITION_INFORMATION, PartitionType) == kLegacyPartitionType, "legacy type");
static_assert(offsetof(PARTITION_INFORMATION, BootIndicator) == kLegacyBootIndicator, "legacy boot");
static_assert(sizeof(VOLUME_DISK_EXTENTS) == kDiskExtentsSize, "extents");
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) + offsetof(DISK_EXTENT, DiskNumber) ==
                  kFirstExtentDiskNumber, "disk number");

template <typename T>
T ReadAt(const uint8_t* p, size_t offset) {
  T v;
  std::memcpy(&v, p + offset, sizeof(T));
  return v;
}

std::wstring VolumeDeviceName(wchar_t letter) { return Format(L"\\\\.\\%c:", letter); }

// Reads the first extent's disk number of the volume; false when the request fails.
bool QueryFirstExtentDisk(IDevice& volume, uint32_t& diskNumber) {
  uint8_t extents[kDiskExtentsSize] = {};
  if (!volume.Request(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, extents, sizeof(extents))) return false;
  diskNumber = ReadAt<uint32_t>(extents, kFirstExtentDiskNumber);
  return true;
}

// The partition behind a volume: the extended request, or where it fails (Windows 2000 has none) the old one.
bool QueryPartitionInfo(IDevice& volume, VolumePartition& partition) {
  uint8_t info[kPartitionInfoSize] = {};
  if (volume.Request(IOCTL_DISK_GET_PARTITION_INFO_EX, info, sizeof(info)))
    return VolumePartitionFromInfoEx(info, sizeof(info), partition);
  uint8_t legacy[kLegacyEntrySize] = {};
  if (!volume.Request(IOCTL_DISK_GET_PARTITION_INFO, legacy, sizeof(legacy))) return false;
  return VolumePartitionFromLegacyInfo(legacy, sizeof(legacy), partition);
}

// The disk's length in bytes; 0 when the request fails. Windows 2000 has no exact length request (its
// geometry rounds down to whole cylinders), so there the length stays unknown.
int64_t QueryDiskLength(IDevice& disk) {
  GET_LENGTH_INFORMATION length = {};
  if (!disk.Request(IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof(length))) return 0;
  return length.Length.QuadPart;
}

// The disk's partitions, style and signature: the extended layout request, or where it fails (Windows 2000
// has none) the old one; false when both fail.
bool ReadLayout(IDevice& disk, std::vector<uint8_t>& buffer, DiskRecord& record) {
  std::fill(buffer.begin(), buffer.end(), 0);
  if (disk.Request(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, buffer.data(), static_cast<DWORD>(buffer.size()))) {
    record.slots = ParseDriveLayout(buffer.data(), buffer.size());
    record.mbr = ReadAt<uint32_t>(buffer.data(), kLayoutStyle) == PARTITION_STYLE_MBR;
    record.signature = LayoutSignature(buffer.data(), buffer.size());
    return true;
  }
  std::fill(buffer.begin(), buffer.end(), 0);
  if (!disk.Request(IOCTL_DISK_GET_DRIVE_LAYOUT, buffer.data(), static_cast<DWORD>(buffer.size()))) return false;
  record = DiskRecordFromLegacyLayout(buffer.data(), buffer.size());
  return true;
}

void ReadLayouts(IDeviceIo& io, DiskTable& table) {
  std::vector<uint8_t> buffer(kLayoutBufferSize);
  for (int n = 0; n < kMaxPhysicalDrives; ++n) {
    auto disk = io.Open(Format(L"\\\\.\\PhysicalDrive%d", n));
    if (!disk) break;
    DiskRecord record;
    if (!ReadLayout(*disk, buffer, record)) continue;
    record.number = n;
    record.size = QueryDiskLength(*disk);
    table.push_back(std::move(record));
  }
}

void AssignLetters(IDeviceIo& io, DiskTable& table) {
  for (wchar_t letter = L'C'; letter <= L'Y'; ++letter) {
    auto volume = io.Open(VolumeDeviceName(letter));
    if (!volume) continue;
    if (io.DriveType(Format(L"%c:\\", letter)) != DRIVE_FIXED) continue;
    uint32_t disk = 0;
    VolumePartition partition;
    if (!QueryFirstExtentDisk(*volume, disk) || !QueryPartitionInfo(*volume, partition)) continue;
    if (disk >= table.size()) continue;
    for (PartitionSlot& slot : table[disk].slots) {
      if (slot.startingOffset == partition.startingOffset) {
        slot.letter = letter;
        break;
      }
    }
  }
}

int UpperOf(wchar_t c) { return toupper(static_cast<int>(c)); }

}  // namespace

std::vector<PartitionSlot> ParseDriveLayout(const uint8_t* buffer, size_t size) {
  std::vector<PartitionSlot> slots;
  for (int i = 0; i < kLayoutEntriesExamined; ++i) {
    size_t entry = kFirstEntryOffset + static_cast<size_t>(i) * kEntrySize;
    if (entry + kEntrySize > size) break;
    if (ReadAt<uint32_t>(buffer, entry + kEntryPartitionNumber) == 0) continue;
    PartitionSlot slot;
    slot.startingOffset = ReadAt<int64_t>(buffer, entry + kEntryStartingOffset);
    slot.length = ReadAt<int64_t>(buffer, entry + kEntryPartitionLength);
    slot.active = ReadAt<uint32_t>(buffer, entry) == PARTITION_STYLE_MBR && buffer[entry + kEntryBootIndicator] != 0;
    slots.push_back(slot);
  }
  return slots;
}

DiskRecord DiskRecordFromLegacyLayout(const uint8_t* buffer, size_t size) {
  DiskRecord record;
  record.mbr = true;
  if (size < kLegacyFirstEntry) return record;
  record.signature = ReadAt<uint32_t>(buffer, kLegacySignature);
  for (int i = 0; i < kLayoutEntriesExamined; ++i) {
    size_t entry = kLegacyFirstEntry + static_cast<size_t>(i) * kLegacyEntrySize;
    if (entry + kLegacyEntrySize > size) break;
    uint8_t type = buffer[entry + kLegacyPartitionType];
    // Empty slots and extended containers are not partitions the imaging tool counts.
    if (ReadAt<uint32_t>(buffer, entry + kLegacyPartitionNumber) == 0 || type == PARTITION_ENTRY_UNUSED ||
        IsContainerPartition(type))
      continue;
    PartitionSlot slot;
    slot.startingOffset = ReadAt<int64_t>(buffer, entry + kLegacyStartingOffset);
    slot.length = ReadAt<int64_t>(buffer, entry + kLegacyPartitionLength);
    slot.active = buffer[entry + kLegacyBootIndicator] != 0;
    record.slots.push_back(slot);
  }
  return record;
}

bool VolumePartitionFromInfoEx(const uint8_t* buffer, size_t size, VolumePartition& out) {
  if (size < kPartitionInfoSize) return false;
  out.mbr = ReadAt<uint32_t>(buffer, kPartitionInfoStyle) == PARTITION_STYLE_MBR;
  out.startingOffset = ReadAt<int64_t>(buffer, kPartitionInfoStartingOffset);
  out.bootIndicator = out.mbr && buffer[kPartitionInfoBootIndicator] != 0;
  return true;
}

bool VolumePartitionFromLegacyInfo(const uint8_t* buffer, size_t size, VolumePartition& out) {
  if (size < kLegacyEntrySize) return false;
  out.mbr = true;
  out.startingOffset = ReadAt<int64_t>(buffer, kLegacyStartingOffset);
  out.bootIndicator = buffer[kLegacyBootIndicator] != 0;
  return true;
}

uint32_t LayoutSignature(const uint8_t* buffer, size_t size) {
  if (size < kFirstEntryOffset) return 0;
  if (ReadAt<uint32_t>(buffer, kLayoutStyle) != PARTITION_STYLE_MBR) return 0;
  return ReadAt<uint32_t>(buffer, kLayoutSignature);
}

bool PartitionPlaceInTable(const DiskTable& table, wchar_t letter, int32_t diskNumber, PartitionPlace& place) {
  for (const DiskRecord& disk : table) {
    for (const PartitionSlot& slot : disk.slots) {
      if (UpperOf(slot.letter) != UpperOf(letter)) continue;
      if (disk.number != diskNumber || !disk.mbr || disk.size <= 0) return false;
      place.diskSignature = disk.signature;
      place.diskSize = disk.size;
      place.start = slot.startingOffset;
      place.length = slot.length;
      return true;
    }
  }
  return false;
}

int ActivePositionOnDiskOf(const DiskTable& table, wchar_t letter) {
  for (const DiskRecord& disk : table) {
    bool holds = false;
    for (const PartitionSlot& slot : disk.slots) holds = holds || UpperOf(slot.letter) == UpperOf(letter);
    if (!holds) continue;
    for (size_t k = 0; k < disk.slots.size(); ++k) {
      if (disk.slots[k].active) return static_cast<int>(k + 1);
    }
    return 0;
  }
  return 0;
}

void SortSlotsByOffset(std::vector<PartitionSlot>& slots) {
  for (size_t i = 0; i + 1 < slots.size(); ++i) {
    for (size_t j = i + 1; j < slots.size(); ++j) {
      if (slots[i].startingOffset > slots[j].startingOffset) std::swap(slots[i], slots[j]);
    }
  }
}

std::wstring GhostAddressInTable(const DiskTable& table, wchar_t letter, int32_t referenceDisk) {
  if (referenceDisk < 0) return L"";
  for (size_t i = 0; i < table.size(); ++i) {
    const auto& slots = table[i].slots;
    if (slots.empty()) return L"";
    for (size_t k = 0; k < slots.size(); ++k) {
      if (UpperOf(slots[k].letter) != UpperOf(letter)) continue;
      int64_t index = static_cast<int64_t>(i);
      int64_t disk = index == referenceDisk ? 1 : (index < referenceDisk ? index + 2 : index + 1);
      return Format(L"%d:%d", static_cast<int>(disk), static_cast<int>(k + 1));
    }
  }
  return L"";
}

int64_t PartitionLengthInTable(const DiskTable& table, wchar_t letter) {
  if (letter == 0) return 0;
  for (const DiskRecord& disk : table) {
    for (const PartitionSlot& slot : disk.slots) {
      if (UpperOf(slot.letter) == UpperOf(letter)) return slot.length;
    }
  }
  return 0;
}

int PartitionPositionInTable(const DiskTable& table, wchar_t letter) {
  for (const DiskRecord& disk : table) {
    if (disk.slots.empty()) return 0;
    for (size_t k = 0; k < disk.slots.size(); ++k) {
      if (UpperOf(disk.slots[k].letter) == UpperOf(letter)) return static_cast<int>(k + 1);
    }
  }
  return 0;
}

bool BuildDiskTable() {
  IDeviceIo& io = DeviceIo();
  DiskTable table;
  ReadLayouts(io, table);
  for (DiskRecord& record : table) SortSlotsByOffset(record.slots);
  AssignLetters(io, table);
  TheDiskTable = std::move(table);
  return true;
}

bool GetPartitionPlace(wchar_t letter, PartitionPlace& place) {
  return PartitionPlaceInTable(TheDiskTable, letter, GetVolumeDiskNumber(letter), place);
}

std::wstring GetGhostAddress(wchar_t letter, wchar_t referenceLetter) {
  return GhostAddressInTable(TheDiskTable, letter, GetVolumeDiskNumber(referenceLetter));
}

int64_t GetPartitionLength(wchar_t letter) { return PartitionLengthInTable(TheDiskTable, letter); }

int32_t GetVolumeDiskNumber(wchar_t letter) {
  auto volume = DeviceIo().Open(VolumeDeviceName(letter));
  if (!volume) return -2;
  uint32_t disk = 0;
  if (!QueryFirstExtentDisk(*volume, disk)) return -1;
  return static_cast<int32_t>(disk);
}

int32_t GetPartitionBootFlag(wchar_t letter) {
  auto volume = DeviceIo().Open(VolumeDeviceName(letter));
  if (!volume) return -1;
  VolumePartition partition;
  if (!QueryPartitionInfo(*volume, partition)) return -1;
  if (!partition.mbr) return 1;
  return partition.bootIndicator ? 1 : 0;
}

bool VolumeMountedAtLetter(const std::wstring& volumeGuidPath, wchar_t letter) {
  std::vector<wchar_t> list;
  if (!DeviceIo().VolumePathNames(volumeGuidPath, list)) return false;
  size_t i = 0;
  while (i < list.size() && list[i] != L'\0') {
    if (list[i] == letter) return true;
    while (i < list.size() && list[i] != L'\0') ++i;
    ++i;
  }
  return false;
}

std::wstring GetVolumeDeviceName(wchar_t letter) {
  IDeviceIo& io = DeviceIo();
  VolumeEnumeration e = io.EnumerateVolumes();
  for (const std::wstring& name : e.names) OutputDebugStringW(name.c_str());
  if (!e.started) {
    wprintf(L"FindFirstVolumeW failed with error code %d\n", static_cast<int>(e.startError));
    return L"";
  }
  for (const std::wstring& name : e.names) {
    if (name.size() < 5 || name.compare(0, 4, L"\\\\?\\") != 0 || name.back() != L'\\') {
      wprintf(L"FindFirstVolumeW/FindNextVolumeW returned a bad path: %s\n", name.c_str());
      return L"";
    }
    std::wstring device;
    if (!io.QueryDosDeviceName(name.substr(4, name.size() - 5), device)) return L"";
    if (VolumeMountedAtLetter(name, letter)) return device;
  }
  if (e.endError != ERROR_NO_MORE_FILES)
    wprintf(L"FindNextVolumeW failed with error code %d\n", static_cast<int>(e.endError));
  return L"";
}

bool IsUefiFirmware() { return DeviceIo().FirmwareIsUefi(); }

bool BootSectorIsBitLocker(const uint8_t* sector, size_t size) {
  return size >= 11 && std::memcmp(sector + 3, "-FVE-FS-", 8) == 0;
}

namespace {

// One read of a device's first bytes at an offset: 4 KiB, a whole number of sectors of any disk, into a
// buffer aligned to 4 KiB as raw device reads may require.
bool FirstSectorIsBitLocker(IDevice& device, int64_t offset) {
  constexpr size_t kRead = 4096;
  std::vector<uint8_t> raw(2 * kRead);
  uint8_t* sector = raw.data() + (kRead - reinterpret_cast<uintptr_t>(raw.data()) % kRead) % kRead;
  if (!device.ReadAt(offset, sector, static_cast<DWORD>(kRead))) return false;
  return BootSectorIsBitLocker(sector, kRead);
}

}  // namespace

bool VolumeIsBitLocker(wchar_t letter) {
  IDeviceIo& io = DeviceIo();
  auto volume = io.Open(VolumeDeviceName(letter));
  if (!volume) return false;
  // The disk shows what is stored; an unlocked volume may show its file system's own sector instead.
  uint32_t diskNumber = 0;
  VolumePartition partition;
  if (QueryFirstExtentDisk(*volume, diskNumber) && QueryPartitionInfo(*volume, partition)) {
    auto disk = io.Open(Format(L"\\\\.\\PhysicalDrive%u", diskNumber));
    if (disk && FirstSectorIsBitLocker(*disk, partition.startingOffset)) return true;
  }
  return FirstSectorIsBitLocker(*volume, 0);
}

bool GetPhysicalMemoryBytes(uint64_t& bytes) { return DeviceIo().PhysicalMemoryBytes(bytes); }
