// The machine's disks and partitions as the job's addresses count them, and the order in which DOS
// would have lettered the partitions (the boot-time contract's "drive letter order").
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ghost_command.h"

namespace vorlane {

struct PartitionInfo {
    std::string device;        // "/dev/sda1"
    uint64_t startSector = 0;  // 512-byte sectors from the disk start
    uint64_t sizeSectors = 0;
    bool logical = false;      // inside an MBR extended partition
    bool active = false;       // MBR boot flag
};

struct DiskInfo {
    std::string name;          // "sda"
    uint32_t signature = 0;    // MBR disk signature (byte 440 of sector 0)
    uint64_t sizeBytes = 0;
    std::vector<PartitionInfo> partitions;  // ascending start; extended containers left out
};

struct PartitionRef {
    size_t disk = 0;       // index into the disk list
    size_t partition = 0;  // index into that disk's partitions
    bool operator==(const PartitionRef& other) const {
        return disk == other.disk && partition == other.partition;
    }
};

// Sorts every disk's partitions by start and the disks into the order the program's disk table
// counts them (controller kind, then number: hd, sd, vd, xvd, nvme, mmcblk).
void SortDiskTable(std::vector<DiskInfo>& disks);

// Order in which DOS letters partitions: the first primary partition of each disk (the active one
// when there is one), then every logical partition of each disk, then the remaining primaries.
std::vector<PartitionRef> DosLetterOrder(const std::vector<DiskInfo>& disks);

// Finds the partition an address names: disk 1 is markerDisk, the other disks follow in table order;
// partitions are counted by start. Answers false with a reason when there is no such partition.
bool ResolveAddress(const std::vector<DiskInfo>& disks, size_t markerDisk, const GhostAddress& address,
                    PartitionRef& result, std::string& error);

// Extended-container detection from the four MBR entries (type bytes and start sectors).
struct MbrEntry {
    uint8_t status = 0;
    uint8_t type = 0;
    uint32_t start = 0;
    uint32_t size = 0;
};
bool ReadMbrEntries(const unsigned char sector[512], MbrEntry entries[4]);
bool IsExtendedType(uint8_t type);

// Reads /sys/block and the disks' MBRs (the running system's edge).
std::vector<DiskInfo> ScanDisks(const std::string& sysBlock = "/sys/block", const std::string& devDir = "/dev");

}  // namespace vorlane
