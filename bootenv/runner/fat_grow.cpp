#include "fat_grow.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "little_endian.h"
#include "system.h"

namespace vorlane {
namespace {

bool At(const unsigned char* s, size_t offset, const char* text) {
    return std::memcmp(s + offset, text, std::strlen(text)) == 0;
}

bool IsFat32(const unsigned char s[512]) { return At(s, 0x52, "FAT32   "); }

}  // namespace

uint64_t FatUnusedSectors(const unsigned char s[512], uint64_t partitionSectors) {
    if (DetectFileSystem(s) != "fat" || !(IsFat32(s) || At(s, 0x36, "FAT16   "))) return 0;
    uint64_t total = Le(s + 0x13, 2);
    if (total == 0) total = Le(s + 0x20, 4);
    return partitionSectors > total ? partitionSectors - total : 0;
}

bool SplitPartitionDevice(const std::string& device, std::string& disk, int& number) {
    size_t end = device.size();
    size_t digits = end;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(device[digits - 1]))) --digits;
    if (digits == end || end - digits > 3 || digits == 0) return false;
    number = std::stoi(device.substr(digits));
    if (number < 1) return false;
    disk = device.substr(0, digits);
    // nvme0n1p2, mmcblk0p1, loop0p1: the disk's own name ends in a digit, so a "p" parts the number.
    if (disk.size() >= 2 && disk.back() == 'p' && std::isdigit(static_cast<unsigned char>(disk[disk.size() - 2])))
        disk.pop_back();
    return true;
}

std::vector<std::string> FatGrowCommand(const std::string& disk, int number, uint64_t partitionSectors) {
    // The disk comes before -n: fatresize takes the arguments in order, and naming a block device sets the
    // partition number to 1 (what it reads from the disk's name), whatever -n said before it.
    return {"/bin/fatresize", "--force-yes", disk, "-n", std::to_string(number), "-s",
            std::to_string((partitionSectors - 1) * 512)};
}

void KeepBootSectorIdentity(const unsigned char before[512], unsigned char after[512]) {
    std::memcpy(after, before, 3);          // the jump to the boot code
    std::memcpy(after + 3, before + 3, 8);  // OEM name
    // Drive number, signature, serial, label and type, then the boot code, up to the 0x55AA mark.
    size_t from = IsFat32(before) ? 0x40 : 0x24;
    std::memcpy(after + from, before + from, 510 - from);
}

void KeepDiskBootCode(const unsigned char before[512], unsigned char after[512]) {
    std::memcpy(after, before, kMbrTable);
}

int GrowFatVolume(const std::string& partitionDevice, uint64_t partitionSectors, const std::string& log) {
    std::string disk;
    int number = 0;
    if (!SplitPartitionDevice(partitionDevice, disk, number)) return -1;
    unsigned char mbrBefore[512], mbrAfter[512];
    bool haveMbr = ReadDeviceSector(disk, 0, mbrBefore);
    int code = WaitProgram(StartProgram(FatGrowCommand(disk, number, partitionSectors), -1, -1, log));
    // The parted library puts its own boot code (and a new disk signature) into a disk sector 0 whose code
    // area it finds blank: the disk keeps what it had there; the table stays as the tool left it.
    if (haveMbr && ReadDeviceSector(disk, 0, mbrAfter) && std::memcmp(mbrBefore, mbrAfter, kMbrTable) != 0) {
        KeepDiskBootCode(mbrBefore, mbrAfter);
        WriteDeviceSector(disk, 0, mbrAfter);
    }
    // fatresize wrote through the whole disk: what the partition's device holds in memory is stale.
    int fd = open(partitionDevice.c_str(), O_RDONLY);
    if (fd >= 0) {
        ioctl(fd, BLKFLSBUF, 0);
        close(fd);
    }
    return code;
}

}  // namespace vorlane
