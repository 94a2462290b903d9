#include "retry.h"

#include <gtest/gtest.h>

#include <cstring>

#include "little_endian.h"

namespace vorlane {
namespace {

struct Entry {
    uint8_t type;
    uint32_t start;
    uint32_t size;
};

std::string Mbr(std::initializer_list<Entry> entries) {
    std::string sector(512, '\0');
    unsigned char* s = reinterpret_cast<unsigned char*>(&sector[0]);
    for (int i = 0; i < 440; ++i) s[i] = static_cast<unsigned char>(0xA0 + i % 7);  // the disk's own code
    PutLe(s + 440, 0x1234ABCD, 4);
    int index = 0;
    for (const Entry& entry : entries) {
        unsigned char* e = s + 446 + 16 * index++;
        e[4] = entry.type;
        PutLe(e + 8, entry.start, 4);
        PutLe(e + 12, entry.size, 4);
    }
    s[510] = 0x55;
    s[511] = 0xAA;
    return sector;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(FirstTrackRoom, IsTheGapBeforeTheFirstPartition) {
    struct Case {
        const char* what;
        std::string sector;
        uint64_t room;
    } cases[] = {
        {"XP layout", Mbr({{0x07, 63, 1000}}), 62},
        {"Vista layout", Mbr({{0x07, 2048, 1000}, {0x07, 4096, 1000}}), 2047},
        {"entries out of order", Mbr({{0x07, 206848, 1000}, {0x0F, 2048, 9000}}), 2047},
        {"GPT's protective entry", Mbr({{0xEE, 1, 0xFFFFFFFF}}), 0},
        {"an entry starting at sector 0", Mbr({{0x07, 0, 1000}}), 0},
        {"no partition at all", Mbr({}), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(FirstTrackRoom(Bytes(c.sector)), c.room) << c.what;
    std::string unsigned_ = Mbr({{0x07, 63, 1000}});
    unsigned_[511] = 0;
    EXPECT_EQ(FirstTrackRoom(Bytes(unsigned_)), 0u) << "no 55AA: not a partition table";
}

std::string GrubLikeCode() {
    std::string code(512, '\0');
    code[0] = '\xEB';
    code[1] = '\x63';
    code[0x5C] = 1;                      // core at sector 1
    code[0x66] = '\xEB';                 // the jump over the drive check
    code[0x67] = '\x05';
    for (int i = 0x68; i < 440; ++i) code[static_cast<size_t>(i)] = static_cast<char>(i);
    code[510] = '\x55';
    code[511] = '\xAA';
    return code;
}

TEST(RetryBootSector, TakesGrubsCodeAndKeepsTheDisksTable) {
    std::string disk = Mbr({{0x07, 63, 1000}});
    unsigned char out[512];
    ASSERT_TRUE(MakeRetryBootSector(Bytes(disk), GrubLikeCode(), out));
    EXPECT_EQ(out[0], 0xEB);
    EXPECT_EQ(out[0x66], 0x90) << "the drive check is taken in";
    EXPECT_EQ(out[0x67], 0x90);
    EXPECT_EQ(out[0x100], 0x00) << "GRUB's code byte";
    EXPECT_EQ(std::memcmp(out + 440, disk.data() + 440, 72), 0) << "signature, table and 55AA are the disk's";

    unsigned char back[512];
    std::memcpy(back, out, 512);
    PutBackBootCode(Bytes(disk), back);
    EXPECT_EQ(std::memcmp(back, disk.data(), 512), 0) << "putting the saved code back gives the sector as it was";
}

TEST(RetryBootSector, RefusesWhatIsNotGrubsMbrCode) {
    std::string disk = Mbr({{0x07, 63, 1000}});
    unsigned char out[512];
    std::string shortCode = GrubLikeCode().substr(0, 440);
    std::string noSignature = GrubLikeCode();
    noSignature[511] = 0;
    std::string otherSector = GrubLikeCode();
    otherSector[0x5C] = 2;
    for (const std::string& code : {shortCode, noSignature, otherSector})
        EXPECT_FALSE(MakeRetryBootSector(Bytes(disk), code, out));
}

TEST(RetryRecord, IsAGrubEnvironmentBlockThatCountsStarts) {
    DiskGeometry geometry;
    geometry.heads = 16;
    geometry.sectorsPerTrack = 63;
    std::string record = RetryRecord("KX", kRetryStarts, geometry);
    ASSERT_EQ(record.size(), 4096u);
    EXPECT_EQ(record.compare(0, 25, "# GRUB Environment Block\n"), 0);
    EXPECT_EQ(record.back(), '#');
    auto values = ParseEnvironmentBlock(record);
    ASSERT_TRUE(values);
    EXPECT_EQ(StartsLeft(*values), 3u);
    EXPECT_EQ((*values)["vl_set"], "KX");
    std::optional<DiskGeometry> back = RecordGeometry(*values);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->heads, 16);
    EXPECT_EQ(back->sectorsPerTrack, 63);

    // What GRUB's menu leaves after each start: one "go" shifted out, "stop" shifted in.
    for (unsigned starts = 0; starts <= 3; ++starts) {
        auto shifted = ParseEnvironmentBlock(RetryRecord("KW", starts, geometry));
        ASSERT_TRUE(shifted);
        EXPECT_EQ(StartsLeft(*shifted), starts);
    }
}

TEST(RetryRecord, DamagedRecordsAllowNothing) {
    EXPECT_FALSE(ParseEnvironmentBlock(std::string(4096, '#')));
    EXPECT_FALSE(ParseEnvironmentBlock(""));
    auto values = ParseEnvironmentBlock("# GRUB Environment Block\nvl_a=go\nvl_geometry=300/63\nvl_b=Go\n###");
    ASSERT_TRUE(values);
    EXPECT_EQ(StartsLeft(*values), 1u) << "only an exact \"go\" counts";
    EXPECT_FALSE(RecordGeometry(*values)) << "300 heads is no geometry";
    EXPECT_FALSE(RecordGeometry({}));
}

}  // namespace
}  // namespace vorlane
