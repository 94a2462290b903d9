#include "fixups.h"

#include <unistd.h>

#include "fat_grow.h"
#include "little_endian.h"
#include "system.h"

namespace vorlane {
namespace {

bool PlacesAnywhere(const unsigned char s[512]) {
    std::string fs = DetectFileSystem(s);
    return fs == "ntfs" || fs == "fat";
}

bool WriteBootSectorAndCopy(const std::string& device, const unsigned char sector[512], uint64_t partitionSectors,
                            std::vector<std::string>& log, std::string& error) {
    if (!WriteDeviceSector(device, 0, sector)) {
        error = "the boot sector of " + device + " cannot be written";
        return false;
    }
    if (std::optional<uint64_t> backup = BackupBootSectorOf(sector, partitionSectors)) {
        if (!WriteDeviceSector(device, *backup, sector)) log.push_back("warning: the copy of the boot sector could not be written");
    }
    return true;
}

// Grows the FAT volume whose boot sector (already placed) is before with fatresize, then puts back what
// the tool rewrote in the boot sector besides the volume's layout, and the placement. A volume that stays
// as it was is reported and kept; false only when the boot sector cannot be written back.
bool GrowFat(const std::string& device, uint64_t startSector, uint64_t partitionSectors, const DiskGeometry& geometry,
             const unsigned char before[512], std::vector<std::string>& log, std::string& error) {
    const std::string toolLog = "/tmp/fatresize.log";
    int code = GrowFatVolume(device, partitionSectors, toolLog);
    unsigned char sector[512];
    if (!ReadDeviceSector(device, 0, sector) || DetectFileSystem(sector) != "fat") {
        error = "the boot sector of " + device + " cannot be read after growing the file system";
        return false;
    }
    KeepBootSectorIdentity(before, sector);
    if (!SetBootSectorPlacement(sector, startSector, geometry) ||
        !WriteBootSectorAndCopy(device, sector, partitionSectors, log, error)) {
        error = "the boot sector of " + device + " cannot be set after growing the file system";
        return false;
    }
    // The boot sector tells what happened: the tool's exit code also counts its notes on the partition table.
    uint64_t unused = FatUnusedSectors(sector, partitionSectors);
    std::string tool = "fatresize exit " + std::to_string(code) + ": " + LastLines(toolLog, 1);
    if (unused > 2048) {
        log.push_back("warning: the FAT file system could not be grown to the partition (" + tool + "); it keeps its size of " +
                      std::to_string((partitionSectors - unused) / 2048) + " MB");
        return true;
    }
    log.push_back("FAT file system grown to fill the partition" + (code == 0 ? std::string() : " (" + tool + ")"));
    return true;
}

}  // namespace

std::optional<DiskGeometry> GeometryOfBootSector(const unsigned char s[512]) {
    if (!PlacesAnywhere(s)) return std::nullopt;
    DiskGeometry g;
    g.sectorsPerTrack = static_cast<uint16_t>(Le(s + 0x18, 2));
    g.heads = static_cast<uint16_t>(Le(s + 0x1A, 2));
    if (g.sectorsPerTrack < 1 || g.sectorsPerTrack > 63 || g.heads < 1 || g.heads > 256) return std::nullopt;
    return g;
}

bool SetBootSectorPlacement(unsigned char s[512], uint64_t hiddenSectors, const DiskGeometry& geometry) {
    if (!PlacesAnywhere(s) || hiddenSectors > 0xFFFFFFFFull) return false;
    PutLe(s + 0x18, geometry.sectorsPerTrack, 2);
    PutLe(s + 0x1A, geometry.heads, 2);
    PutLe(s + 0x1C, hiddenSectors, 4);
    return true;
}

std::optional<uint64_t> BackupBootSectorOf(const unsigned char s[512], uint64_t partitionSectors) {
    std::string fs = DetectFileSystem(s);
    uint64_t where = 0;
    if (fs == "ntfs") {
        where = Le(s + 0x28, 8);
    } else if (fs == "fat" && std::string(reinterpret_cast<const char*>(s + 0x52), 8) == "FAT32   ") {
        where = Le(s + 0x32, 2);
        if (where == 0 || where == 0xFFFF) return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (where == 0 || where >= partitionSectors) return std::nullopt;
    return where;
}

uint64_t NtfsUnusedSectors(const unsigned char s[512], uint64_t partitionSectors) {
    if (DetectFileSystem(s) != "ntfs") return 0;
    uint64_t used = Le(s + 0x28, 8) + 1;  // the volume's sectors and the boot sector's copy after them
    return partitionSectors > used ? partitionSectors - used : 0;
}

bool FixUpRestoredPartition(const std::string& device, uint64_t startSector, uint64_t partitionSectors,
                            const DiskGeometry& geometry, std::vector<std::string>& log, std::string& error) {
    unsigned char sector[512];
    if (!ReadDeviceSector(device, 0, sector)) {
        error = "the boot sector of " + device + " cannot be read";
        return false;
    }
    if (!SetBootSectorPlacement(sector, startSector, geometry)) {
        error = "the restored boot sector cannot be set for a partition starting at sector " + std::to_string(startSector);
        return false;
    }
    if (!WriteBootSectorAndCopy(device, sector, partitionSectors, log, error)) return false;
    log.push_back("boot sector set for the partition at sector " + std::to_string(startSector) + " (" +
                  std::to_string(geometry.heads) + " heads, " + std::to_string(geometry.sectorsPerTrack) +
                  " sectors per track)");
    if (FatUnusedSectors(sector, partitionSectors) > 2048) return GrowFat(device, startSector, partitionSectors, geometry, sector, log, error);
    if (NtfsUnusedSectors(sector, partitionSectors) <= 2048) return true;
    // ntfsresize asks nothing with --force; without a size it grows the volume to the device.
    int code = WaitProgram(StartProgram({"/bin/ntfsresize", "--force", "--force", "--no-progress-bar", device}, -1, -1,
                                        "/tmp/ntfsresize.log"));
    if (code != 0) {
        log.push_back("warning: the file system could not be grown to the partition (ntfsresize exit " +
                      std::to_string(code) + ": " + LastLines("/tmp/ntfsresize.log", 1) + "); it keeps its size");
        return true;
    }
    // ntfsresize writes the new size into the boot sector but leaves no copy at the new end.
    if (!ReadDeviceSector(device, 0, sector) || !SetBootSectorPlacement(sector, startSector, geometry) ||
        !WriteBootSectorAndCopy(device, sector, partitionSectors, log, error)) {
        error = "the boot sector of " + device + " cannot be set after growing the file system";
        return false;
    }
    log.push_back("file system grown to fill the partition");
    return true;
}

}  // namespace vorlane
