#include "progress.h"
#include "system.h"
#include "text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vorlane {
namespace {

TEST(Text, Formats) {
    EXPECT_EQ(FormatBytes(512), "512 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KB");
    EXPECT_EQ(FormatBytes(3.0 * 1024 * 1024 * 1024), "3.0 GB");
    EXPECT_EQ(FormatDuration(59.6), "01:00");
    EXPECT_EQ(FormatDuration(3725), "1:02:05");
    EXPECT_EQ(BaseName("C:\\dir\\GHOSTERR.TXT"), "GHOSTERR.TXT");
    EXPECT_EQ(BaseName("a:b"), "b");
    EXPECT_TRUE(EqualsNoCase("KW.LSN", "kw.lsn"));
    EXPECT_EQ(Trim("  a b \r\n"), "a b");
}

TEST(Progress, LineShowsPercentSpeedAndTimeLeft) {
    ProgressMeter meter("Saving", 100 * 1024 * 1024, 10.0);
    std::string line = meter.Line(25 * 1024 * 1024, 15.0);  // 25 MB in 5 s
    EXPECT_NE(line.find(" 25.0%"), std::string::npos) << line;
    EXPECT_NE(line.find("5.0 MB/s"), std::string::npos) << line;
    EXPECT_NE(line.find("00:15 left"), std::string::npos) << line;
    EXPECT_TRUE(meter.Due(15.0));
    meter.Shown(15.0);
    EXPECT_FALSE(meter.Due(15.5));
    EXPECT_TRUE(meter.Due(16.0));
    // More than expected never shows above 100% nor a negative time.
    std::string over = meter.Line(200 * 1024 * 1024, 20.0);
    EXPECT_NE(over.find("100.0%"), std::string::npos) << over;
    EXPECT_NE(over.find("00:00 left"), std::string::npos) << over;
}

TEST(FileSystemKind, FromBootSector) {
    struct Case {
        size_t offset;
        const char* text;
        bool signature;
        const char* kind;
    } cases[] = {
        {3, "NTFS    ", true, "ntfs"},      {3, "-FVE-FS-", true, "bitlocker"}, {3, "EXFAT   ", true, "exfat"},
        {0x52, "FAT32   ", true, "fat"},     {0x36, "FAT16   ", true, "fat"},    {0x36, "FAT16   ", false, ""},
        {3, "MSDOS5.0", true, ""},
    };
    for (const Case& c : cases) {
        unsigned char sector[512] = {};
        std::memcpy(sector + c.offset, c.text, std::strlen(c.text));
        if (c.signature) {
            sector[510] = 0x55;
            sector[511] = 0xAA;
        }
        EXPECT_EQ(DetectFileSystem(sector), c.kind) << c.text;
    }
}

}  // namespace
}  // namespace vorlane
