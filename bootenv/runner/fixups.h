// Fix-ups after an image was written onto a partition other than the one it came from: the boot sector
// must name where the partition now starts ("hidden sectors") and the disk's geometry, or its boot code
// cannot find the boot manager; and the file system is grown to fill a larger partition.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlane {

struct DiskGeometry {
    uint16_t heads = 255;
    uint16_t sectorsPerTrack = 63;
};

// The geometry a boot sector (NTFS or FAT) carries, when it is a plausible one.
std::optional<DiskGeometry> GeometryOfBootSector(const unsigned char sector[512]);

// Sets hidden sectors and geometry in an NTFS or FAT boot sector. Answers false (sector unchanged) for
// another kind of sector or a start that does not fit the 32-bit field.
bool SetBootSectorPlacement(unsigned char sector[512], uint64_t hiddenSectors, const DiskGeometry& geometry);

// Where a volume keeps the copy of its boot sector, in sectors from the partition start: NTFS at the
// sector after the volume's last one, FAT32 where its boot sector says (usually 6). Nothing for FAT12/16
// or when the place lies outside the partition.
std::optional<uint64_t> BackupBootSectorOf(const unsigned char sector[512], uint64_t partitionSectors);

// Sectors of the partition the NTFS volume leaves unused at its end (0 for other kinds).
uint64_t NtfsUnusedSectors(const unsigned char sector[512], uint64_t partitionSectors);

// The edge: fixes the boot sector and its copy on the device, and grows a volume that is more than a
// megabyte smaller than the partition: NTFS with ntfsresize, FAT16/FAT32 with fatresize (fat_grow.h).
// Steps taken and warnings go to log; answers false with error only when the boot sector itself could
// not be fixed.
bool FixUpRestoredPartition(const std::string& device, uint64_t startSector, uint64_t partitionSectors,
                            const DiskGeometry& geometry, std::vector<std::string>& log, std::string& error);

}  // namespace vorlane
