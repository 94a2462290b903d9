#include "contract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "files.h"

namespace vorlane {
namespace {

// A system drive root in a temporary folder.
class ContractTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vorlane-root-XXXXXX";
        root_ = mkdtemp(pattern);
        ram_ = root_ + "-ram";
        mkdir(ram_.c_str(), 0755);
    }
    void TearDown() override {
        std::string command = "rm -rf '" + root_ + "' '" + ram_ + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    void Put(const std::string& name, const std::string& content) {
        std::string path = root_ + "/" + name;
        for (size_t slash = path.find('/', root_.size() + 1); slash != std::string::npos; slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0755);
        std::ofstream(path, std::ios::binary) << content;
    }
    std::string Get(const std::string& name) {
        std::string content;
        if (!ReadWholeFile(root_ + "/" + name, content, 1 << 20)) return "<missing>";
        return content;
    }
    bool Has(const std::string& name) { return access((root_ + "/" + name).c_str(), F_OK) == 0; }
    std::string root_, ram_;
    std::vector<std::string> log_;
};

TEST_F(ContractTest, SetsByTag) {
    auto kw = SetForTag("KW");
    ASSERT_TRUE(kw);
    EXPECT_EQ(kw->imageName, "KW.lsn");
    EXPECT_EQ(kw->jobName, "Ghost.ba_");
    EXPECT_TRUE(kw->backup);
    auto kx = SetForTag("kx");
    ASSERT_TRUE(kx);
    EXPECT_EQ(kx->jobName, "ghost._KX");
    EXPECT_FALSE(kx->backup);
    EXPECT_FALSE(SetForTag("KY"));
    EXPECT_EQ(TagFromCommandLine("BOOT_IMAGE=/vmlinuz vorlane.set=KX quiet"), "KX");
    EXPECT_EQ(TagFromCommandLine("vorlane.set=KW"), "KW");
    EXPECT_EQ(TagFromCommandLine("xvorlane.set=KW quiet"), "");
}

TEST_F(ContractTest, MarkerAndJobAreFoundWhateverTheirCase) {
    auto kw = *SetForTag("KW");
    EXPECT_FALSE(HasMarker(root_, kw));
    EXPECT_FALSE(FindJob(root_, kw));
    Put("kw.LSN", "image");
    Put("GHOST.BA_", "job");
    EXPECT_TRUE(HasMarker(root_, kw));
    ASSERT_TRUE(FindJob(root_, kw));
    EXPECT_EQ(*FindJob(root_, kw), root_ + "/GHOST.BA_");
    // The other set's job is not this set's.
    EXPECT_FALSE(FindJob(root_, *SetForTag("KX")));
}

TEST_F(ContractTest, BackupPreparationFollowsTheContract) {
    auto kw = *SetForTag("KW");
    Put("Ghost.ba_", "job");
    Put("ghost._KX", "other job");
    Put("boot.ini", "edited");
    Put("boot.in_", "saved");
    Put("Boot/BCD", "edited store");
    Put("Boot/BCD_M", "saved store");
    Put("KW.lsn", "image");
    Put("KW.ls_", "older image");
    Put("kwldr", "loader");
    Put("KWLDR.mbr", "sector");
    Put("KWLDR.mb_", "older sector");
    Put("bootlog.txt", "x");
    Put("hiberfil.sys", "x");
    Put("PAGEFILE.SYS", "x");
    Put("Windows/keep.dll", "keep");
    EXPECT_TRUE(PrepareBackupSource(root_, kw, log_));
    EXPECT_FALSE(Has("Ghost.ba_"));
    EXPECT_EQ(Get("ghost._KX"), "other job");
    EXPECT_EQ(Get("boot.ini"), "saved");
    EXPECT_FALSE(Has("boot.in_"));
    EXPECT_EQ(Get("Boot/BCD"), "saved store");
    EXPECT_FALSE(Has("Boot/BCD_M"));
    EXPECT_EQ(Get("KW.lsn"), "older image");  // the "_" copy takes the file's place
    EXPECT_FALSE(Has("KW.ls_"));
    EXPECT_FALSE(Has("kwldr"));
    EXPECT_EQ(Get("KWLDR.mbr"), "older sector");
    EXPECT_FALSE(Has("bootlog.txt"));
    EXPECT_FALSE(Has("hiberfil.sys"));
    EXPECT_FALSE(Has("PAGEFILE.SYS"));
    EXPECT_EQ(Get("Windows/keep.dll"), "keep");
    EXPECT_FALSE(log_.empty());
}

TEST_F(ContractTest, NothingSavedMeansNothingPutBack) {
    Put("boot.ini", "current");
    Put("Boot/BCD", "store");
    EXPECT_TRUE(PutBackBootConfiguration(root_, log_));
    EXPECT_EQ(Get("boot.ini"), "current");
    EXPECT_EQ(Get("Boot/BCD"), "store");
    EXPECT_TRUE(log_.empty());
    // A saved copy with no current file still comes back.
    Put("BOOT.IN_", "saved");
    std::remove((root_ + "/boot.ini").c_str());
    EXPECT_TRUE(PutBackBootConfiguration(root_, log_));
    EXPECT_EQ(Get("boot.ini"), "saved");
}

TEST_F(ContractTest, GhostExtrasGoToTheRamDrive) {
    Put("GHOST.EX_", "program");
    Put("ghost.txt", "settings");
    TakeGhostExtras(root_, ram_, log_);
    EXPECT_FALSE(Has("GHOST.EX_"));
    EXPECT_FALSE(Has("ghost.txt"));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(ram_ + "/ghost.exe", content, 100));
    EXPECT_EQ(content, "program");
    ASSERT_TRUE(ReadWholeFile(ram_ + "/ghost.txt", content, 100));
    EXPECT_EQ(content, "settings");
}

TEST_F(ContractTest, PathsIgnoreCaseAndFoldersAreMadeForWriting) {
    Put("VRLN/BackSystem/old.gho", "x");
    auto found = ResolveNoCase(root_, "\\vrln\\BACKSYSTEM\\OLD.GHO");
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, root_ + "/VRLN/BackSystem/old.gho");
    EXPECT_FALSE(ResolveNoCase(root_, "\\VRLN\\..\\etc"));
    EXPECT_FALSE(ResolveNoCase(root_, "\\VRLN\\none.gho"));
    auto target = ResolveForWriting(root_, "\\vrln\\New Folder\\BAKSYS.GHO", false);
    EXPECT_FALSE(target);
    target = ResolveForWriting(root_, "\\vrln\\New Folder\\BAKSYS.GHO", true);
    ASSERT_TRUE(target);
    EXPECT_EQ(*target, root_ + "/VRLN/New Folder/BAKSYS.GHO");
    EXPECT_TRUE(WriteWholeFile(*target, "image"));
    EXPECT_EQ(Get("VRLN/New Folder/BAKSYS.GHO"), "image");
}

TEST_F(ContractTest, ErrorReportSaysWhatAndWhy) {
    std::string text = ErrorReport("2026-01-01 10:00:00 UTC", "Ghost.exe -clone,...", "the image is damaged",
                                   {"deleted the job file ghost._KX"});
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(text.find("Reason: the image is damaged\r\n"), std::string::npos);
    EXPECT_NE(text.find("Job: Ghost.exe -clone,...\r\n"), std::string::npos);
    EXPECT_NE(text.find("  - deleted the job file ghost._KX\r\n"), std::string::npos);
}


TEST(BootIni, OurLoaderIsTakenOut) {
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"entry and default",
         "[boot loader]\r\ntimeout=3\r\ndefault=C:\\kxldr\r\n[operating systems]\r\n"
         "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP\" /fastdetect\r\nC:\\kxldr=Vorlane\r\n",
         "[boot loader]\r\ntimeout=3\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n[operating systems]\r\n"
         "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP\" /fastdetect\r\n"},
        {"case and spaces",
         "[Boot Loader]\r\nDefault = c:\\KXLDR\r\n[Operating Systems]\r\nC:\\KXLDR = Vorlane\r\nC:\\=\"DOS\"\r\n",
         "[Boot Loader]\r\ndefault=C:\\\r\n[Operating Systems]\r\nC:\\=\"DOS\"\r\n"},
        {"no other system: no default",
         "[boot loader]\r\ndefault=C:\\kxldr\r\n[operating systems]\r\nC:\\kxldr=Vorlane\r\n",
         "[boot loader]\r\n[operating systems]\r\n"},
        {"another loader stays",
         "[boot loader]\r\ndefault=C:\\kwldr\r\n[operating systems]\r\nC:\\kwldr=VorlaneBak\r\n",
         "[boot loader]\r\ndefault=C:\\kwldr\r\n[operating systems]\r\nC:\\kwldr=VorlaneBak\r\n"},
        {"default elsewhere stays",
         "[boot loader]\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n[operating systems]\r\nC:\\kxldr=Vorlane",
         "[boot loader]\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n[operating systems]\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(RemoveLoaderFromBootIni(c.before, "kxldr"), c.after) << c.name;
}

TEST_F(ContractTest, FailedJobTakesTheLoaderOutOfBootIni) {
    auto kx = *SetForTag("KX");
    Put("boot.ini", "[boot loader]\r\ndefault=C:\\kxldr\r\n[operating systems]\r\nC:\\WINDOWS=\"XP\"\r\nC:\\kxldr=Vorlane\r\n");
    EXPECT_TRUE(TakeLoaderOutOfBootIni(root_, kx, log_));
    EXPECT_EQ(Get("boot.ini"), "[boot loader]\r\ndefault=C:\\WINDOWS\r\n[operating systems]\r\nC:\\WINDOWS=\"XP\"\r\n");
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_TRUE(TakeLoaderOutOfBootIni(root_, kx, log_));  // nothing left to take out
    EXPECT_EQ(log_.size(), 1u);
}

}  // namespace
}  // namespace vorlane

namespace vorlane {
namespace {

TEST_F(ContractTest, RetiringAJobRemovesItsCompanionsAndTheMarkerButNotTheLoader) {
    auto kx = *SetForTag("KX");
    Put("ghost._KX", "job");
    Put("kx.vid", "identity");
    Put("KX.env", "start record");
    Put("KX.lsn", "marker");
    Put("kxldr", "loader");
    Put("kxldr.mbr", "sector");
    Put("Ghost.ba_", "the other set's job");
    EXPECT_TRUE(RetireJob(root_, kx, log_));
    for (const char* gone : {"ghost._KX", "kx.vid", "KX.env", "KX.lsn"}) EXPECT_FALSE(Has(gone)) << gone;
    for (const char* kept : {"kxldr", "kxldr.mbr", "Ghost.ba_"}) EXPECT_TRUE(Has(kept)) << kept;
    EXPECT_FALSE(log_.empty());
}

TEST_F(ContractTest, BackupPreparationAlsoRemovesTheIdentityAndStartRecord) {
    auto kw = *SetForTag("KW");
    Put("Ghost.ba_", "job");
    Put("KW.vid", "identity");
    Put("KW.env", "start record");
    EXPECT_TRUE(PrepareBackupSource(root_, kw, log_));
    EXPECT_FALSE(Has("KW.vid"));
    EXPECT_FALSE(Has("KW.env"));
}

TEST(JobPartitionRule, TheLoadersChoiceAmongThoseHoldingMarkerAndJob) {
    struct Case {
        std::vector<MarkerCandidate> candidates;
        std::string loader;
        int expected;
    } cases[] = {
        {{{true, false, "aaaa"}, {true, true, "bbbb"}, {true, true, "cccc"}}, "", 1},      // first with both
        {{{true, true, "bbbb"}, {true, true, "cccc"}}, "cccc", 1},                          // the loader's one
        {{{true, true, "bbbb"}, {false, true, "cccc"}}, "cccc", 0},                         // no marker there
        {{{true, true, "1234-abcd"}, {true, true, "5678-ef01"}}, "5678EF01", 1},            // case and dash
        {{{true, true, "bbbb"}}, "unknown", 0},                                             // named one is gone
        {{{true, false, "aaaa"}, {false, true, "bbbb"}}, "", -1},                           // none holds both
        {{}, "", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(ChooseJobPartition(c.candidates, c.loader), c.expected) << c.loader;
}

TEST(JobPartitionRule, VolumeIdsReadAsTheLoaderPrintsThem) {
    unsigned char ntfs[512] = {};
    std::memcpy(ntfs + 3, "NTFS    ", 8);
    const unsigned char serial[8] = {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    std::memcpy(ntfs + 0x48, serial, 8);
    EXPECT_EQ(VolumeIdOfBootSector(ntfs), "0123456789abcdef");
    unsigned char fat32[512] = {};
    std::memcpy(fat32 + 0x52, "FAT32   ", 8);
    fat32[0x43] = 0x78; fat32[0x44] = 0x56; fat32[0x45] = 0x34; fat32[0x46] = 0x12;
    fat32[510] = 0x55; fat32[511] = 0xAA;
    EXPECT_EQ(VolumeIdOfBootSector(fat32), "1234-5678");
    unsigned char fat16[512] = {};
    std::memcpy(fat16 + 0x36, "FAT16   ", 8);
    fat16[0x27] = 0x01; fat16[0x28] = 0x00; fat16[0x29] = 0xCD; fat16[0x2A] = 0xAB;
    fat16[510] = 0x55; fat16[511] = 0xAA;
    EXPECT_EQ(VolumeIdOfBootSector(fat16), "abcd-0001");
    unsigned char blank[512] = {};
    EXPECT_EQ(VolumeIdOfBootSector(blank), "");
    EXPECT_EQ(VolumeIdFromCommandLine("linux vorlane.set=KX vorlane.part=01234567 panic=10"), "01234567");
    EXPECT_TRUE(StartRecordedFromCommandLine("vorlane.set=KX vorlane.recorded=1 panic=10"));
    EXPECT_FALSE(StartRecordedFromCommandLine("vorlane.set=KX vorlane.recorded=0 panic=10"));
    EXPECT_FALSE(StartRecordedFromCommandLine("vorlane.set=KX panic=10"));
}

}  // namespace
}  // namespace vorlane
