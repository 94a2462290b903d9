#include "identity.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

const char* kGood =
    "vorlane-job-identity 1\r\n"
    "job=restore\r\n"
    "image=\\VRLN\\Download\\\xE6\xB7\xB1\xE5\xBA\xA6XP.GHO\r\n"
    "source.disk.signature=1A2B3C4D\r\n"
    "source.disk.size=80026361856\r\n"
    "source.partition.start=16384000000\r\n"
    "source.partition.length=63998361600\r\n"
    "target.disk.signature=1A2B3C4D\r\n"
    "target.disk.size=80026361856\r\n"
    "target.partition.start=32256\r\n"
    "target.partition.length=16383967744\r\n";

TEST(JobIdentity, ParsesTheDocumentedExample) {
    std::string error;
    std::optional<JobIdentity> id = ParseJobIdentity(kGood, error);
    ASSERT_TRUE(id) << error;
    EXPECT_FALSE(id->backup);
    EXPECT_EQ(id->image, "\\VRLN\\Download\\\xE6\xB7\xB1\xE5\xBA\xA6XP.GHO");
    EXPECT_EQ(id->source.diskSignature, 0x1A2B3C4Du);
    EXPECT_EQ(id->source.diskBytes, 80026361856u);
    EXPECT_EQ(id->source.startBytes, 16384000000u);
    EXPECT_EQ(id->source.lengthBytes, 63998361600u);
    EXPECT_EQ(id->target.startBytes, 32256u);
    EXPECT_EQ(id->target.lengthBytes, 16383967744u);
}

TEST(JobIdentity, AcceptsLineFeedsUnknownKeysAndAByteOrderMark) {
    std::string text = std::string("\xEF\xBB\xBF") + kGood;
    for (size_t pos; (pos = text.find("\r\n")) != std::string::npos;) text.replace(pos, 2, "\n");
    text += "later.key=whatever\n";
    std::string error;
    std::optional<JobIdentity> id = ParseJobIdentity(text, error);
    ASSERT_TRUE(id) << error;
    EXPECT_EQ(id->target.diskSignature, 0x1A2B3C4Du);
}

TEST(JobIdentity, RefusesMalformedFiles) {
    struct Case {
        const char* from;
        const char* to;
        const char* reason;
    } cases[] = {
        {"vorlane-job-identity 1", "vorlane-job-identity 2", "first line"},
        {"job=restore", "job=copy", "job"},
        {"image=\\VRLN\\Download\\\xE6\xB7\xB1\xE5\xBA\xA6XP.GHO\r\n", "", "image"},
        {"source.disk.signature=1A2B3C4D", "source.disk.signature=1A2B3C4", "8 hexadecimal"},
        {"target.disk.signature=1A2B3C4D", "target.disk.signature=1A2B3C4G", "8 hexadecimal"},
        {"source.disk.size=80026361856", "source.disk.size=8002636185x", "decimal"},
        {"target.partition.start=32256", "target.partition.start=-32256", "decimal"},
        {"target.partition.length=16383967744", "target.partition.length=99999999999999999999999", "decimal"},
        {"target.partition.start=32256", "target.partition.start=32257", "whole number of sectors"},
        {"target.partition.length=16383967744\r\n", "", "target.partition.length is missing"},
        {"source.disk.size=80026361856\r\n", "", "source.disk.size is missing"},
        {"job=restore\r\n", "job=restore\r\nno equals sign\r\n", "key=value"},
    };
    for (const Case& c : cases) {
        std::string text = kGood;
        size_t pos = text.find(c.from);
        ASSERT_NE(pos, std::string::npos) << c.from;
        text.replace(pos, std::string(c.from).size(), c.to);
        std::string error;
        EXPECT_FALSE(ParseJobIdentity(text, error)) << c.to;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

PartitionInfo Part(const char* device, uint64_t start, uint64_t size) {
    PartitionInfo p;
    p.device = device;
    p.startSector = start;
    p.sizeSectors = size;
    return p;
}

DiskInfo Disk(const char* name, uint32_t signature, uint64_t bytes, std::vector<PartitionInfo> parts) {
    DiskInfo d;
    d.name = name;
    d.signature = signature;
    d.sizeBytes = bytes;
    d.partitions = std::move(parts);
    return d;
}

PartitionIdentity Id(uint32_t signature, uint64_t bytes, uint64_t startSector, uint64_t sizeSectors) {
    return {signature, bytes, startSector * 512, sizeSectors * 512};
}

TEST(JobIdentity, ResolvesByDiskAndPartitionNotByOrder) {
    // Linux sees the data disk first; the system disk second.
    std::vector<DiskInfo> disks = {
        Disk("sda", 0xDA7A0001, 1000000 * 512, {Part("/dev/sda1", 2048, 500000)}),
        Disk("sdb", 0x5E5E0002, 900000 * 512, {Part("/dev/sdb1", 63, 400000), Part("/dev/sdb5", 400128, 400000)}),
    };
    struct Case {
        PartitionIdentity id;
        const char* device;
    } cases[] = {
        {Id(0x5E5E0002, 900000 * 512, 63, 400000), "/dev/sdb1"},
        {Id(0x5E5E0002, 900000 * 512, 400128, 400000), "/dev/sdb5"},
        {Id(0xDA7A0001, 1000000 * 512, 2048, 500000), "/dev/sda1"},
    };
    for (const Case& c : cases) {
        PartitionRef ref;
        std::string error;
        ASSERT_TRUE(ResolveIdentity(disks, c.id, ref, error)) << error;
        EXPECT_EQ(disks[ref.disk].partitions[ref.partition].device, c.device);
    }
}

TEST(JobIdentity, RefusesWhatDoesNotSingleOutOnePartition) {
    std::vector<DiskInfo> disks = {
        Disk("sda", 0x11111111, 1000000 * 512, {Part("/dev/sda1", 2048, 500000)}),
        Disk("sdb", 0x11111111, 1000000 * 512, {Part("/dev/sdb1", 2048, 500000)}),  // a clone of sda
        Disk("sdc", 0, 2000000 * 512, {Part("/dev/sdc1", 2048, 500000)}),
        Disk("sdd", 0, 3000000 * 512, {Part("/dev/sdd1", 2048, 500000)}),
    };
    struct Case {
        PartitionIdentity id;
        const char* reason;
    } cases[] = {
        {Id(0x11111111, 1000000 * 512, 2048, 500000), "found 2 times"},
        {Id(0x22222222, 1000000 * 512, 2048, 500000), "no disk"},
        {Id(0x11111111, 1000001 * 512, 2048, 500000), "no disk"},                // signature right, size not
        {Id(0x11111111, 1000000 * 512, 2048, 500001), "no partition with that"},  // length differs
        {Id(0x11111111, 1000000 * 512, 63, 500000), "no partition with that"},    // start differs
    };
    for (const Case& c : cases) {
        PartitionRef ref;
        std::string error;
        EXPECT_FALSE(ResolveIdentity(disks, c.id, ref, error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // An unset signature is accepted where the size still singles out one disk.
    PartitionRef ref;
    std::string error;
    ASSERT_TRUE(ResolveIdentity(disks, Id(0, 3000000 * 512, 2048, 500000), ref, error)) << error;
    EXPECT_EQ(disks[ref.disk].name, "sdd");
}

TEST(JobIdentity, AddressMustAgreeWithTheResolvedPartition) {
    std::vector<DiskInfo> disks = {
        Disk("sda", 1, 1000000 * 512, {Part("/dev/sda1", 2048, 500000)}),
        Disk("sdb", 2, 900000 * 512, {Part("/dev/sdb1", 63, 400000), Part("/dev/sdb5", 400128, 400000)}),
    };
    const size_t systemDisk = 1;  // sdb holds the system partition
    struct Case {
        int disk, partition;
        PartitionRef resolved;
        bool agrees;
    } cases[] = {
        {1, 1, {1, 0}, true},   // the system partition
        {1, 2, {1, 1}, true},   // a logical partition on the system disk
        {2, 1, {0, 0}, true},   // the other disk, whatever Linux calls it
        {3, 1, {0, 0}, true},   // disk numbers above 1 cannot be told apart from here
        {1, 1, {0, 0}, false},  // the job says system disk, the identity another disk
        {2, 1, {1, 0}, false},  // the job says another disk, the identity the system disk
        {1, 2, {1, 0}, false},  // partition numbers differ
        {1, 1, {1, 1}, false},
    };
    for (const Case& c : cases) {
        GhostAddress address;
        address.disk = c.disk;
        address.partition = c.partition;
        std::string error;
        EXPECT_EQ(AddressAgrees(disks, systemDisk, address, c.resolved, error), c.agrees)
            << c.disk << ":" << c.partition << " " << error;
        if (!c.agrees) {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(JobIdentity, ComparesWindowsPathsLooselyOnlyInCaseAndSeparators) {
    EXPECT_TRUE(SameWindowsPath("\\VRLN\\BackSystem\\BAKSYS.GHO", "VRLN/backsystem/baksys.gho"));
    EXPECT_TRUE(SameWindowsPath("\\\\VRLN\\\\x.gho\\", "\\VRLN\\x.gho"));
    EXPECT_FALSE(SameWindowsPath("\\VRLN\\a.gho", "\\VRLN\\b.gho"));
    EXPECT_FALSE(SameWindowsPath("\\VRLN\\a.gho", "\\VRLN2\\a.gho"));
}

TEST(JobIdentity, WrittenTextReadsBackTheSame) {
    std::string error;
    std::optional<JobIdentity> id = ParseJobIdentity(kGood, error);
    ASSERT_TRUE(id) << error;
    EXPECT_EQ(JobIdentityText(*id), kGood);
    id->source.diskSignature = 0x0000ABCD;  // leading zeros kept: eight digits always
    std::optional<JobIdentity> again = ParseJobIdentity(JobIdentityText(*id), error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->source.diskSignature, 0x0000ABCDu);
    EXPECT_EQ(again->image, id->image);
}

}  // namespace
}  // namespace vorlane
