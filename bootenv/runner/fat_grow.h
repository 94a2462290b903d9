// Growing a restored FAT16/FAT32 volume to fill a larger partition with fatresize (on the parted
// library), which works on the whole disk and the partition's number and rewrites the boot sector.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorlane {

// Sectors of the partition a FAT16 or FAT32 volume leaves unused at its end (0 for other kinds,
// FAT12 included: fatresize does not take it).
uint64_t FatUnusedSectors(const unsigned char sector[512], uint64_t partitionSectors);

// The whole disk and the partition number of a partition's device: "/dev/sda2" is "/dev/sda" and 2,
// "/dev/nvme0n1p3" and "/dev/mmcblk0p1" drop the "p" as well. False when the name ends in no number.
bool SplitPartitionDevice(const std::string& device, std::string& disk, int& number);

// fatresize's command line that grows partition number of disk to the partition's size. Its "max"
// reaches past the partition, and a size equal to the partition's trips its own end check; a sector
// less rounds to the partition's end and leaves the partition table as it was.
std::vector<std::string> FatGrowCommand(const std::string& disk, int number, uint64_t partitionSectors);

// fatresize writes a boot sector of its own making: the OEM name, serial number and volume label (and
// the boot code, which must keep booting the restored system) are put back from the one before the grow.
void KeepBootSectorIdentity(const unsigned char before[512], unsigned char after[512]);

// Where the partition table starts in a disk's sector 0: before it lie the boot code and the disk signature.
constexpr size_t kMbrTable = 446;

// Puts the disk's boot code and signature from before the grow back into sector 0 as the tool left it.
void KeepDiskBootCode(const unsigned char before[512], unsigned char after[512]);

// The edge: runs fatresize on the partition's disk. Answers its exit code (-1 when it could not start
// or the device name names no partition); its output goes to log.
int GrowFatVolume(const std::string& partitionDevice, uint64_t partitionSectors, const std::string& log);

}  // namespace vorlane
