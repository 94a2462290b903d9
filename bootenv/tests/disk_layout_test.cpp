#include "disk_layout.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

PartitionInfo Part(const char* device, uint64_t start, bool logical = false, bool active = false) {
    PartitionInfo p;
    p.device = device;
    p.startSector = start;
    p.sizeSectors = 1000;
    p.logical = logical;
    p.active = active;
    return p;
}

std::vector<DiskInfo> TwoDisks() {
    // Disk sda: an active primary, a logical, a second primary placed after the extended one.
    // Disk sdb: one primary and a logical.
    std::vector<DiskInfo> disks(2);
    disks[0].name = "sda";
    disks[0].partitions = {Part("/dev/sda3", 90000), Part("/dev/sda1", 2048, false, true), Part("/dev/sda5", 40000, true)};
    disks[1].name = "sdb";
    disks[1].partitions = {Part("/dev/sdb5", 50000, true), Part("/dev/sdb1", 2048)};
    SortDiskTable(disks);
    return disks;
}

TEST(DiskLayout, SortsPartitionsByStartAndDisksByKind) {
    std::vector<DiskInfo> disks(4);
    disks[0].name = "nvme0n1";
    disks[1].name = "sdb";
    disks[2].name = "sda";
    disks[3].name = "sdaa";
    disks[2].partitions = {Part("/dev/sda2", 500), Part("/dev/sda1", 100)};
    SortDiskTable(disks);
    EXPECT_EQ(disks[0].name, "sda");
    EXPECT_EQ(disks[1].name, "sdb");
    EXPECT_EQ(disks[2].name, "sdaa");
    EXPECT_EQ(disks[3].name, "nvme0n1");
    EXPECT_EQ(disks[0].partitions[0].device, "/dev/sda1");
}

TEST(DiskLayout, AddressesCountTheMarkerDiskFirst) {
    auto disks = TwoDisks();
    struct Case {
        size_t marker;
        int disk, partition;
        const char* device;
    } cases[] = {
        {0, 1, 1, "/dev/sda1"}, {0, 1, 2, "/dev/sda5"}, {0, 1, 3, "/dev/sda3"}, {0, 2, 1, "/dev/sdb1"},
        {0, 2, 2, "/dev/sdb5"}, {1, 1, 1, "/dev/sdb1"}, {1, 2, 1, "/dev/sda1"}, {1, 2, 3, "/dev/sda3"},
    };
    for (const Case& c : cases) {
        GhostAddress address;
        address.disk = c.disk;
        address.partition = c.partition;
        PartitionRef ref;
        std::string error;
        ASSERT_TRUE(ResolveAddress(disks, c.marker, address, ref, error)) << error;
        EXPECT_EQ(disks[ref.disk].partitions[ref.partition].device, c.device)
            << "marker " << c.marker << " address " << c.disk << ":" << c.partition;
    }
}

TEST(DiskLayout, AddressesThatDoNotExist) {
    auto disks = TwoDisks();
    GhostAddress address;
    PartitionRef ref;
    std::string error;
    address.disk = 3;
    address.partition = 1;
    EXPECT_FALSE(ResolveAddress(disks, 0, address, ref, error));
    EXPECT_NE(error.find("no disk 3"), std::string::npos);
    address.disk = 2;
    address.partition = 3;
    EXPECT_FALSE(ResolveAddress(disks, 0, address, ref, error));
    EXPECT_NE(error.find("no partition 3"), std::string::npos);
    EXPECT_FALSE(ResolveAddress(disks, 5, address, ref, error));
}

TEST(DiskLayout, DosLetterOrder) {
    auto disks = TwoDisks();
    // C: sda1 (active), D: sdb1, then logicals sda5, sdb5, then the remaining primary sda3.
    std::vector<std::string> expected = {"/dev/sda1", "/dev/sdb1", "/dev/sda5", "/dev/sdb5", "/dev/sda3"};
    std::vector<std::string> actual;
    for (const PartitionRef& ref : DosLetterOrder(disks)) actual.push_back(disks[ref.disk].partitions[ref.partition].device);
    EXPECT_EQ(actual, expected);
}

TEST(DiskLayout, ActivePrimaryGetsTheFirstLetter) {
    std::vector<DiskInfo> disks(1);
    disks[0].name = "sda";
    disks[0].partitions = {Part("/dev/sda1", 2048), Part("/dev/sda2", 9000, false, true)};
    auto order = DosLetterOrder(disks);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0].partition, 1u);
    EXPECT_EQ(order[1].partition, 0u);
}

TEST(DiskLayout, ReadsMbrEntries) {
    unsigned char sector[512] = {};
    MbrEntry entries[4];
    EXPECT_FALSE(ReadMbrEntries(sector, entries));
    sector[510] = 0x55;
    sector[511] = 0xAA;
    unsigned char* e = sector + 446 + 16;
    e[0] = 0x80;
    e[4] = 0x0F;
    e[8] = 0x00;
    e[9] = 0x08;  // start 2048
    e[12] = 0x10; // size 16
    ASSERT_TRUE(ReadMbrEntries(sector, entries));
    EXPECT_EQ(entries[1].status, 0x80);
    EXPECT_EQ(entries[1].start, 2048u);
    EXPECT_EQ(entries[1].size, 16u);
    EXPECT_TRUE(IsExtendedType(entries[1].type));
    EXPECT_FALSE(IsExtendedType(0x07));
    EXPECT_TRUE(IsExtendedType(0x05));
    EXPECT_TRUE(IsExtendedType(0x85));
}

}  // namespace
}  // namespace vorlane
