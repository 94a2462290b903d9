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
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"Ghost.ba_", L"KW.lsn", L"kwldr", L"kwldr.mbr"}));
}

TEST_F(JobTest, RestoreJobEndsWithOneZeroByte) {
  ASSERT_TRUE(WriteRestoreJob(L"D:\\VRLN\\Download\\win7.GHO", BootStyleBcd, TestDrive()));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"ghost._KX")), std::string(kRestoreExample) + std::string(1, '\0'));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KX.lsn")), Payload(132));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"kxldr")), Payload(133));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"kxldr.mbr")), Payload(135));
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"ghost._KX", L"KX.lsn", L"kxldr", L"kxldr.mbr"}));
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

TEST_F(JobTest, PreparationsAnswerTrueWhateverTheWriterAnswered) {
  EXPECT_TRUE(PrepareBackupJob(L"Q:\\b.GHO"));
  EXPECT_TRUE(PrepareRestoreJob(L"Q:\\r.GHO"));
  EXPECT_TRUE(RootEntries().empty());
}

TEST_F(JobTest, ReleasesFromTwelveOnGetNothing) {
  for (int32_t osIndex : {12, 14}) {
    UseTestDrive(osIndex);
    EXPECT_TRUE(PrepareBackupJob(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO"));
    EXPECT_TRUE(PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO"));
    EXPECT_TRUE(RootEntries().empty()) << "OsIndex " << osIndex;
  }
}

TEST_F(JobTest, BackupThenRestoreLeaveBothSetsAndBothJobs) {
  UseTestDrive(1);  // a boot.ini release: no loader boot sectors
  EXPECT_TRUE(PrepareBackupJob(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO"));
  EXPECT_TRUE(PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO"));
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"ghost._KX", L"Ghost.ba_", L"KW.lsn", L"kwldr",
                                                      L"KX.lsn", L"kxldr"}));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"Ghost.ba_")), std::string(kBackupExample));
}

TEST_F(JobTest, APathOutsideTheCodePageWritesNothing) {
  // Hangul has no form in the Western or the Chinese ANSI code page: the DOS side could not find the file.
  EXPECT_FALSE(WriteRestoreJob(L"D:\\\xD55C.GHO", BootStyleBcd, TestDrive()));
  EXPECT_FALSE(WriteBackupJob(TestDrive(), L"D:\\\xD55C\\b.GHO", BootStyleBcd));
  EXPECT_TRUE(RootEntries().empty());
}

}  // namespace
