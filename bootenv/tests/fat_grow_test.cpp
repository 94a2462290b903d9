#include "fat_grow.h"

#include <gtest/gtest.h>

#include <cstring>

#include "little_endian.h"

namespace vorlane {
namespace {

void FatBootSector(unsigned char s[512], const char* type, uint64_t total16, uint64_t total32) {
    std::memset(s, 0, 512);
    s[0] = 0xEB;
    s[1] = 0x58;
    s[2] = 0x90;
    std::memcpy(s + 3, "MSWIN4.1", 8);
    PutLe(s + 0x13, total16, 2);
    PutLe(s + 0x20, total32, 4);
    std::memcpy(s + (std::strcmp(type, "FAT32   ") == 0 ? 0x52 : 0x36), type, 8);
    s[510] = 0x55;
    s[511] = 0xAA;
}

// FAT16 counts its sectors in 16 bits, or in 32 when those are 0; FAT32 in 32. FAT12 and other kinds
// are never grown.
TEST(FatGrow, UnusedSectorsOfEachKind) {
    struct Case {
        const char* type;
        uint64_t total16, total32, partition, unused;
    } cases[] = {
        {"FAT16   ", 40000, 0, 50000, 10000},
        {"FAT16   ", 0, 300000, 400000, 100000},
        {"FAT32   ", 0, 1228800, 1638400, 409600},
        {"FAT32   ", 0, 1638400, 1638400, 0},
        {"FAT32   ", 0, 1638401, 1638400, 0},  // larger than its partition: nothing to grow
        {"FAT12   ", 4000, 0, 50000, 0},
    };
    for (const Case& c : cases) {
        unsigned char s[512];
        FatBootSector(s, c.type, c.total16, c.total32);
        EXPECT_EQ(FatUnusedSectors(s, c.partition), c.unused) << c.type << " " << c.partition;
    }
    unsigned char ntfs[512];
    FatBootSector(ntfs, "FAT32   ", 0, 1000);
    std::memcpy(ntfs + 3, "NTFS    ", 8);
    EXPECT_EQ(FatUnusedSectors(ntfs, 50000), 0u);
}

TEST(FatGrow, PartitionDeviceSplitsIntoDiskAndNumber) {
    struct Case {
        const char* device;
        bool ok;
        const char* disk;
        int number;
    } cases[] = {
        {"/dev/sda2", true, "/dev/sda", 2},      {"/dev/hdb5", true, "/dev/hdb", 5},
        {"/dev/sdaa12", true, "/dev/sdaa", 12},  {"/dev/nvme0n1p3", true, "/dev/nvme0n1", 3},
        {"/dev/mmcblk0p1", true, "/dev/mmcblk0", 1}, {"/dev/sda", false, "", 0},
        {"/dev/sda0", false, "", 0},             {"7", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string disk;
        int number = 0;
        ASSERT_EQ(SplitPartitionDevice(c.device, disk, number), c.ok) << c.device;
        if (!c.ok) continue;
        EXPECT_EQ(disk, c.disk) << c.device;
        EXPECT_EQ(number, c.number) << c.device;
    }
}

// The size asked for is the partition's less one sector, in bytes, with the tool asking nothing; the
// partition number follows the disk (given before it, the disk's name would reset it to 1).
TEST(FatGrow, CommandAsksForThePartitionLessOneSector) {
    std::vector<std::string> expected = {"/bin/fatresize", "--force-yes", "/dev/sda", "-n", "2", "-s", "838860288"};
    EXPECT_EQ(FatGrowCommand("/dev/sda", 2, 1638400), expected);
}

// Layout fields stay as the tool wrote them; name, serial, label and boot code come back.
TEST(FatGrow, IdentityComesBackAfterTheToolRewroteTheBootSector) {
    for (const char* type : {"FAT32   ", "FAT16   "}) {
        bool fat32 = std::strcmp(type, "FAT32   ") == 0;
        size_t serial = fat32 ? 0x43 : 0x27, label = fat32 ? 0x47 : 0x2B, code = fat32 ? 0x5A : 0x3E;
        unsigned char before[512], after[512];
        FatBootSector(before, type, 0, 1000);
        PutLe(before + serial, 0x12345678, 4);
        std::memcpy(before + label, "SYSTEM     ", 11);
        std::memset(before + code, 0xCC, 510 - code);
        FatBootSector(after, type, 0, 5000);
        std::memcpy(after + 3, "mkfs.fat", 8);
        std::memcpy(after + label, "NO NAME    ", 11);
        PutLe(after + 0x0E, 42, 2);  // reserved sectors the tool chose
        KeepBootSectorIdentity(before, after);
        EXPECT_EQ(std::memcmp(after + 3, "MSWIN4.1", 8), 0) << type;
        EXPECT_EQ(std::memcmp(after + label, "SYSTEM     ", 11), 0) << type;
        EXPECT_EQ(std::memcmp(after + serial, before + serial, 4), 0) << type;
        EXPECT_EQ(std::memcmp(after + code, before + code, 510 - code), 0) << type;
        EXPECT_EQ(after[0x20] | after[0x21] << 8, 5000) << type;
        EXPECT_EQ(after[0x0E], 42) << type;
        EXPECT_EQ(after[510], 0x55);
        EXPECT_EQ(after[511], 0xAA);
    }
}

// Boot code and signature come back; the partition table and the end mark stay as the tool wrote them.
TEST(FatGrow, DiskKeepsItsBootCodeAndTheToolsTable) {
    unsigned char before[512], after[512];
    for (int i = 0; i < 512; ++i) {
        before[i] = static_cast<unsigned char>(i * 7);
        after[i] = static_cast<unsigned char>(i * 13 + 1);
    }
    unsigned char expected[512];
    std::memcpy(expected, before, 446);
    std::memcpy(expected + 446, after + 446, 66);
    KeepDiskBootCode(before, after);
    EXPECT_EQ(std::memcmp(after, expected, 512), 0);
}

}  // namespace
}  // namespace vorlane
