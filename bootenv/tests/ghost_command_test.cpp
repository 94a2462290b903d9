#include "ghost_command.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

const char kBackupJob[] =
    "Ghost.exe -nousb -clone,mode=pdump,src=\"1:1\",dst=\"1:2\\VRLN\\BackSystem\\BAKSYS.GHO\" -sure -rb -crcignore "
    "-fro -z3 -auto -afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";
const char kRestoreJob[] =
    "Ghost.exe -nousb -clone,mode=pload,src=\"2:1\\Images\\My System.GHO:1\",dst=\"1:1\" -fro -crcignore -sure -rb "
    "-fx -afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";

TEST(GhostCommand, BackupJobAsTheProgramWritesIt) {
    std::string error;
    auto job = ParseJobFile(kBackupJob, error);
    ASSERT_TRUE(job) << error;
    const GhostCommand& c = job->command;
    EXPECT_EQ(c.mode, CloneMode::PartitionToImage);
    EXPECT_EQ(c.source.disk, 1);
    EXPECT_EQ(c.source.partition, 1);
    EXPECT_EQ(c.source.path, "");
    EXPECT_EQ(c.target.disk, 1);
    EXPECT_EQ(c.target.partition, 2);
    EXPECT_EQ(c.target.path, "\\VRLN\\BackSystem\\BAKSYS.GHO");
    EXPECT_EQ(c.compression, 3);
    EXPECT_TRUE(c.sure);
    EXPECT_TRUE(c.rebootAfter);
    EXPECT_FALSE(c.exitAfter);
    EXPECT_EQ(c.errorFile, "GHOSTERR.TXT");
    EXPECT_EQ(job->secondLine, "restart");
}

TEST(GhostCommand, RestoreJobWithZeroByteAndSpacesInPath) {
    std::string error;
    std::string bytes = std::string(kRestoreJob) + std::string(1, '\0');
    auto job = ParseJobFile(bytes, error);
    ASSERT_TRUE(job) << error;
    const GhostCommand& c = job->command;
    EXPECT_EQ(c.mode, CloneMode::ImageToPartition);
    EXPECT_EQ(c.source.disk, 2);
    EXPECT_EQ(c.source.partition, 1);
    EXPECT_EQ(c.source.path, "\\Images\\My System.GHO");
    EXPECT_EQ(c.source.imagePartition, 1);
    EXPECT_EQ(c.target.partition, 1);
    EXPECT_EQ(c.compression, -1);
    EXPECT_TRUE(c.exitAfter);
    EXPECT_EQ(job->secondLine, "restart");
}

TEST(GhostCommand, AddressForms) {
    struct Case {
        const char* text;
        bool ok;
        int disk, partition;
        const char* path;
        int inner;
    } cases[] = {
        {"1:1", true, 1, 1, "", 0},
        {"3:12", true, 3, 12, "", 0},
        {"1:2\\a\\b.gho", true, 1, 2, "\\a\\b.gho", 0},
        {"1:2\\a\\b.gho:1", true, 1, 2, "\\a\\b.gho", 1},
        {"1:2/a/b.gho", true, 1, 2, "\\a\\b.gho", 0},
        {"0:1", false, 0, 0, "", 0},
        {"1:0", false, 0, 0, "", 0},
        {"1", false, 0, 0, "", 0},
        {"a:1", false, 0, 0, "", 0},
        {"1:1x", false, 0, 0, "", 0},
        {"1:2\\", false, 0, 0, "", 0},
        {"1:2\\f.gho:x", false, 0, 0, "", 0},
        {"", false, 0, 0, "", 0},
    };
    for (const Case& c : cases) {
        auto address = ParseGhostAddress(c.text);
        ASSERT_EQ(address.has_value(), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(address->disk, c.disk) << c.text;
        EXPECT_EQ(address->partition, c.partition) << c.text;
        EXPECT_EQ(address->path, c.path) << c.text;
        EXPECT_EQ(address->imagePartition, c.inner) << c.text;
    }
}

TEST(GhostCommand, SwitchesAndIgnoredOnes) {
    std::string error;
    auto c = ParseGhostCommand("ghost -clone,MODE=PDUMP,SRC=1:1,DST=1:2\\x.gho -Z9 -split=2000 -afile=C:\\log.txt -ia",
                               error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->compression, 9);
    EXPECT_EQ(c->splitBytes, 2000ull << 20);
    EXPECT_EQ(c->errorFile, "C:\\log.txt");
    EXPECT_FALSE(c->sure);
    // Numbers too long for their field are read as their largest sensible value or not at all.
    c = ParseGhostCommand("ghost -clone,mode=pdump,src=1:1,dst=1:2\\x.gho -z123456789012 -split=99999999999999", error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->compression, 9);
    EXPECT_EQ(c->splitBytes, 0u);
}

TEST(GhostCommand, RejectsWhatCannotBeRun) {
    const char* bad[] = {
        "",
        "format c:",
        "Ghost.exe -clone,mode=copy,src=1,dst=2",
        "Ghost.exe -clone,mode=pdump,src=\"1:1\"",
        "Ghost.exe -clone,mode=pdump,src=\"1:1\\f.gho\",dst=\"1:2\\x.gho\"",
        "Ghost.exe -clone,mode=pdump,src=\"1:1\",dst=\"1:2\"",
        "Ghost.exe -clone,mode=pload,src=\"1:2\",dst=\"1:1\"",
        "Ghost.exe -clone,mode=pload,src=\"1:2\\f.gho:1\",dst=\"1:1\\x\"",
        "Ghost.exe -clone,mode=pload,src=\"1:2\\f.gho:1,dst=\"1:1\"",
        "Ghost.exe -sure -rb",
    };
    for (const char* line : bad) {
        std::string error;
        EXPECT_FALSE(ParseGhostCommand(line, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
    std::string error;
    EXPECT_FALSE(ParseJobFile(std::string("\r\n\r\n\0", 5), error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vorlane
