// The job files and payload sets written into the root of the system drive.
#include <gtest/gtest.h>

#include "boot/boot_config.h"
#include "boot/ghost_job.h"
#include "tests/boot/boot_test_support.h"

namespace {

const char kBackupExample[] =
    "Ghost.exe -nousb -clone,mode=pdump,src=\"1:1\",dst=\"1:2\\VRLN\\BackSystem\\BAKSYS.GHO\" -sure -rb "
    "-crcignore -fro -z3 -auto -afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";
const char kRestoreExample[] =
    "Ghost.exe -nousb -clone,mode=pload,src=\"1:2\\VRLN\\Download\\win7.GHO:1\",dst=\"1:1\" -fro -crcignore "
    "-sure -rb -fx -afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";

std::string Payload(uint16_t id) { return ResourceBytes(id, L"GHOST_DATA"); }

using JobTest = BootDriveTest;

TEST_F(JobTest, BackupWritesItsSetAndTheExactJob) {
  ASSERT_TRUE(WriteBackupJob(TestDrive(), L"D:\\VRLN\\BackSystem\\BAKSYS.GHO", BootStyleBcd));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"Ghost.ba_")), std::string(kBackupExample));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KW.lsn")), Payload(130));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"kwldr")), Payload(131));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"kwldr.mbr")), Payload(134));
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"Ghost.ba_", L"KW.env", L"KW.lsn", L"KW.vid", L"kwldr",
                                                      L"kwldr.mbr"}));
}

TEST_F(JobTest, RestoreJobEndsWithOneZeroByte) {
  ASSERT_TRUE(WriteRestoreJob(L"D:\\VRLN\\Download\\win7.GHO", BootStyleBcd, TestDrive()));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"ghost._KX")), std::string(kRestoreExample) + std::string(1, '\0'));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KX.lsn")), Payload(132));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"kxldr")), Payload(133));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"kxldr.mbr")), Payload(135));
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"ghost._KX", L"KX.env", L"KX.lsn", L"KX.vid", L"kxldr",
                                                      L"kxldr.mbr"}));
}

TEST_F(JobTest, AddressesNumberTheSystemDiskFirst) {
  // The system drive on Windows disk 1: disk 0 becomes Ghost disk 2.
  MachineDescription m = StandardMachine();
  VolumeOf(m, TestDrive()).disk = 1;
  VolumeOf(m, L'E').disk = 0;
  VolumeOf(m, L'E').startingOffset = 1LL << 20;
  VolumeOf(m, TestDrive()).startingOffset = 1LL << 20;
  VolumeOf(m, L'D').disk = 0;
  // disk 0: E at 1 MiB, D at 60 GiB; disk 1: the system drive.
  UseMachine(m);
  struct Case { std::wstring image; std::string src; } cases[] = {
      {L"D:\\a.GHO", "2:2\\a.GHO"},
      {L"E:\\img\\b.GHO", "2:1\\img\\b.GHO"},
      {std::wstring(1, TestDrive()) + L":\\c.GHO", "1:1\\c.GHO"},
  };
  for (const Case& c : cases) {
    ClearTestDrive();
    ASSERT_TRUE(WriteRestoreJob(c.image, BootStyleLegacy, TestDrive()));
    std::string job = ReadBytes(OnTestDrive(L"ghost._KX"));
    EXPECT_NE(job.find("src=\"" + c.src + ":1\",dst=\"1:1\""), std::string::npos) << job;
  }
}

TEST_F(JobTest, LegacyStyleWritesNoLoaderBootSectorAndKeepsAnOldOne) {
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"kxldr.mbr"), "old sector"));
  ASSERT_TRUE(WriteBackupJob(TestDrive(), L"D:\\b.GHO", BootStyleLegacy));
  ASSERT_TRUE(WriteRestoreJob(L"D:\\r.GHO", BootStyleLegacy, TestDrive()));
  EXPECT_FALSE(Exists(OnTestDrive(L"kwldr.mbr")));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"kxldr.mbr")), "old sector");
}

TEST_F(JobTest, AnEmptyAddressWritesNothing) {
  EXPECT_FALSE(WriteBackupJob(L'Q', L"D:\\b.GHO", BootStyleBcd));     // source not in the table
  EXPECT_FALSE(WriteBackupJob(TestDrive(), L"Q:\\b.GHO", BootStyleBcd));  // destination not in the table
  EXPECT_FALSE(WriteRestoreJob(L"Q:\\r.GHO", BootStyleBcd, TestDrive()));
  EXPECT_FALSE(WriteRestoreJob(L"D:\\r.GHO", BootStyleBcd, L'Q'));
  EXPECT_FALSE(WriteRestoreJob(L"", BootStyleBcd, TestDrive()));
  EXPECT_TRUE(RootEntries().empty());
}

TEST_F(JobTest, AFailureInTheMiddleKeepsWhatWasWritten) {
  // A folder where the loader goes makes its write fail after the boot image was written.
  ASSERT_TRUE(CreateDirectoryW(OnTestDrive(L"kwldr").c_str(), nullptr));
  EXPECT_FALSE(WriteBackupJob(TestDrive(), L"D:\\b.GHO", BootStyleBcd));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KW.lsn")), Payload(130));
  EXPECT_FALSE(Exists(OnTestDrive(L"Ghost.ba_")));
  EXPECT_FALSE(Exists(OnTestDrive(L"kwldr.mbr")));

  ClearTestDrive();
  ASSERT_TRUE(CreateDirectoryW(OnTestDrive(L"kxldr.mbr").c_str(), nullptr));
  EXPECT_FALSE(WriteRestoreJob(L"D:\\r.GHO", BootStyleBcd, TestDrive()));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KX.lsn")), Payload(132));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"kxldr")), Payload(133));
  EXPECT_TRUE(Exists(OnTestDrive(L"ghost._KX")));
}

TEST_F(JobTest, PreparationsAnswerWhatTheWriterAnswered) {
  EXPECT_FALSE(PrepareBackupJob(L"Q:\\b.GHO"));
  EXPECT_FALSE(PrepareRestoreJob(L"Q:\\r.GHO"));
  EXPECT_TRUE(RootEntries().empty());
}

TEST_F(JobTest, ReleasesFromTwelveOnGetNothing) {
  for (int32_t osIndex : {12, 14}) {
    UseTestDrive(osIndex);
    EXPECT_FALSE(PrepareBackupJob(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO"));
    EXPECT_FALSE(PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO"));
    EXPECT_TRUE(RootEntries().empty()) << "OsIndex " << osIndex;
  }
}

TEST_F(JobTest, BackupThenRestoreLeaveBothSetsAndBothJobs) {
  UseTestDrive(1);  // a boot.ini release: no loader boot sectors
  EXPECT_TRUE(PrepareBackupJob(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO"));
  EXPECT_TRUE(PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO"));
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"ghost._KX", L"Ghost.ba_", L"KW.env", L"KW.lsn", L"KW.vid",
                                                      L"kwldr", L"KX.env", L"KX.lsn", L"KX.vid", L"kxldr"}));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"Ghost.ba_")), std::string(kBackupExample));
}

// The identity file names the job's partitions by disk signature and size and partition start and length
// (docs/job-identity.md); the start record is a fresh 1024-byte environment block.
TEST_F(JobTest, EachJobIsWrittenWithItsIdentityAndAFreshStartRecord) {
  const std::string record = "# GRUB Environment Block\n" + std::string(1024 - 25, '#');
  ASSERT_TRUE(WriteRestoreJob(L"D:\\VRLN\\Download\\win7.GHO", BootStyleBcd, TestDrive()));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KX.vid")),
            "vorlane-job-identity 1\r\n"
            "job=restore\r\n"
            "image=\\VRLN\\Download\\win7.GHO\r\n"
            "source.disk.signature=1A2B3C4D\r\n"
            "source.disk.size=214748364800\r\n"
            "source.partition.start=64425558016\r\n"
            "source.partition.length=107374182400\r\n"
            "target.disk.signature=1A2B3C4D\r\n"
            "target.disk.size=214748364800\r\n"
            "target.partition.start=1048576\r\n"
            "target.partition.length=64424509440\r\n");
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KX.env")), record);

  // A backup onto the second disk; a start record the loader already marked is written afresh.
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"KW.env"), "# GRUB Environment Block\nvl_started=1\n"));
  ASSERT_TRUE(WriteBackupJob(TestDrive(), L"E:\\VRLN\\BackSystem\\BAKSYS.GHO", BootStyleLegacy));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KW.vid")),
            "vorlane-job-identity 1\r\n"
            "job=backup\r\n"
            "image=\\VRLN\\BackSystem\\BAKSYS.GHO\r\n"
            "source.disk.signature=1A2B3C4D\r\n"
            "source.disk.size=214748364800\r\n"
            "source.partition.start=1048576\r\n"
            "source.partition.length=64424509440\r\n"
            "target.disk.signature=0BADF00D\r\n"
            "target.disk.size=214749413376\r\n"
            "target.partition.start=1048576\r\n"
            "target.partition.length=214748364800\r\n");
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KW.env")), record);
}

TEST_F(JobTest, UnknownDiskFactsWriteNoIdentityAndRemoveAStaleOne) {
  // The length request of the image's disk fails: the job goes without an identity file (the imaging
  // environment then counts disks), and an identity left by an earlier job must not name this one's.
  MachineDescription m = StandardMachine();
  m.disks[1].lengthFails = true;
  UseMachine(m);
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"KX.vid"), "vorlane-job-identity 1\r\njob=restore\r\n"));
  ASSERT_TRUE(WriteRestoreJob(L"E:\\r.GHO", BootStyleBcd, TestDrive()));
  EXPECT_FALSE(Exists(OnTestDrive(L"KX.vid")));
  EXPECT_TRUE(Exists(OnTestDrive(L"ghost._KX")));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KX.env")).size(), 1024u);
  // The same image on the system disk is known.
  ASSERT_TRUE(WriteRestoreJob(L"D:\\r.GHO", BootStyleBcd, TestDrive()));
  EXPECT_NE(ReadBytes(OnTestDrive(L"KX.vid")).find("image=\\r.GHO\r\n"), std::string::npos);
}

TEST_F(JobTest, APathOutsideTheCodePageWritesNothing) {
  // Hangul has no form in the Western or the Chinese ANSI code page: the DOS side could not find the file.
  EXPECT_FALSE(WriteRestoreJob(L"D:\\\xD55C.GHO", BootStyleBcd, TestDrive()));
  EXPECT_FALSE(WriteBackupJob(TestDrive(), L"D:\\\xD55C\\b.GHO", BootStyleBcd));
  EXPECT_TRUE(RootEntries().empty());
}

}  // namespace
