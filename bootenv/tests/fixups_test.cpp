#include "fixups.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "little_endian.h"
#include "system.h"

namespace vorlane {
namespace {

// Boot sectors as the image's source left them: at sector 2048, 16 heads and 32 sectors per track.
void SourceBootSector(unsigned char s[512], const char* kind, uint64_t totalSectors) {
    std::memset(s, 0, 512);
    s[0] = 0xEB;
    s[1] = 0x52;
    s[2] = 0x90;
    PutLe(s + 0x18, 32, 2);
    PutLe(s + 0x1A, 16, 2);
    PutLe(s + 0x1C, 2048, 4);
    if (std::strcmp(kind, "ntfs") == 0) {
        std::memcpy(s + 3, "NTFS    ", 8);
        PutLe(s + 0x28, totalSectors, 8);
    } else if (std::strcmp(kind, "fat32") == 0) {
        std::memcpy(s + 3, "MSWIN4.1", 8);
        PutLe(s + 0x32, 6, 2);
        std::memcpy(s + 0x52, "FAT32   ", 8);
    } else {
        std::memcpy(s + 3, "MSWIN4.1", 8);
        std::memcpy(s + 0x36, "FAT16   ", 8);
    }
    s[510] = 0x55;
    s[511] = 0xAA;
}

TEST(RestoreFixups, PlacementIsSetInEveryKindOfBootSector) {
    for (const char* kind : {"ntfs", "fat32", "fat16"}) {
        unsigned char s[512];
        SourceBootSector(s, kind, 1000);
        ASSERT_TRUE(SetBootSectorPlacement(s, 63, DiskGeometry{255, 63})) << kind;
        EXPECT_EQ(Le(s + 0x1C, 4), 63u) << kind;
        EXPECT_EQ(Le(s + 0x1A, 2), 255u) << kind;
        EXPECT_EQ(Le(s + 0x18, 2), 63u) << kind;
        std::optional<DiskGeometry> g = GeometryOfBootSector(s);
        ASSERT_TRUE(g) << kind;
        EXPECT_EQ(g->heads, 255);
        EXPECT_EQ(g->sectorsPerTrack, 63);
    }
}

TEST(RestoreFixups, RefusesWhatItCannotPlace) {
    unsigned char blank[512] = {};
    EXPECT_FALSE(SetBootSectorPlacement(blank, 63, DiskGeometry{}));
    EXPECT_FALSE(GeometryOfBootSector(blank));
    unsigned char s[512];
    SourceBootSector(s, "ntfs", 1000);
    unsigned char before[512];
    std::memcpy(before, s, 512);
    EXPECT_FALSE(SetBootSectorPlacement(s, 0x100000000ull, DiskGeometry{}));  // beyond the 32-bit field
    EXPECT_EQ(std::memcmp(before, s, 512), 0);
    PutLe(s + 0x18, 0, 2);  // no sectors per track: no geometry to keep
    EXPECT_FALSE(GeometryOfBootSector(s));
}

TEST(RestoreFixups, WhereTheBootSectorsCopyLies) {
    unsigned char s[512];
    SourceBootSector(s, "ntfs", 327679);
    EXPECT_EQ(BackupBootSectorOf(s, 327680), std::optional<uint64_t>(327679));
    EXPECT_FALSE(BackupBootSectorOf(s, 300000));  // the volume is larger than the partition: no place
    EXPECT_EQ(NtfsUnusedSectors(s, 327680), 0u);
    EXPECT_EQ(NtfsUnusedSectors(s, 400000), 400000u - 327680u);
    SourceBootSector(s, "fat32", 0);
    EXPECT_EQ(BackupBootSectorOf(s, 100000), std::optional<uint64_t>(6));
    EXPECT_EQ(NtfsUnusedSectors(s, 400000), 0u);
    SourceBootSector(s, "fat16", 0);
    EXPECT_FALSE(BackupBootSectorOf(s, 100000));
}

TEST(RestoreFixups, FixesTheBootSectorAndItsCopyOnTheDevice) {
    char pattern[] = "/tmp/vorlane-fixup-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    const uint64_t sectors = 4096;
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(sectors * 512)), 0);
    close(fd);
    unsigned char s[512];
    SourceBootSector(s, "ntfs", sectors - 1);
    ASSERT_TRUE(WriteDeviceSector(pattern, 0, s));
    ASSERT_TRUE(WriteDeviceSector(pattern, sectors - 1, s));
    std::vector<std::string> log;
    std::string error;
    ASSERT_TRUE(FixUpRestoredPartition(pattern, 63, sectors, DiskGeometry{255, 63}, log, error)) << error;
    for (uint64_t where : {uint64_t{0}, sectors - 1}) {
        unsigned char got[512];
        ASSERT_TRUE(ReadDeviceSector(pattern, where, got));
        EXPECT_EQ(Le(got + 0x1C, 4), 63u) << where;
        EXPECT_EQ(Le(got + 0x1A, 2), 255u) << where;
    }
    EXPECT_FALSE(log.empty());
    // Not a file system this environment writes: a failure, nothing written.
    unsigned char blank[512] = {};
    ASSERT_TRUE(WriteDeviceSector(pattern, 0, blank));
    EXPECT_FALSE(FixUpRestoredPartition(pattern, 63, sectors, DiskGeometry{}, log, error));
    EXPECT_FALSE(error.empty());
    unlink(pattern);
}

}  // namespace
}  // namespace vorlane
