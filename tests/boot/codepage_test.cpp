// Job files in the Chinese ANSI code page: this program runs with LANG=zh_CN.UTF-8, which gives Wine the
// code page 936 that the DOS side reads.
#include <gtest/gtest.h>

#include "boot/ghost_job.h"
#include "tests/boot/boot_test_support.h"

namespace {

using CodePageTest = BootDriveTest;

TEST_F(CodePageTest, RunsInCodePage936) { ASSERT_EQ(GetACP(), 936u) << "LANG did not give Wine code page 936"; }

TEST_F(CodePageTest, ChineseImagePathIsWrittenInCodePage936) {
  ASSERT_EQ(GetACP(), 936u);
  // D:\系统\镜像.GHO
  std::wstring image = L"D:\\\x7CFB\x7EDF\\\x955C\x50CF.GHO";
  ASSERT_TRUE(WriteRestoreJob(image, BootStyleLegacy, TestDrive()));
  std::string expected =
      "Ghost.exe -nousb -clone,mode=pload,src=\"1:2\\\xCF\xB5\xCD\xB3\\\xBE\xB5\xCF\xF1.GHO:1\",dst=\"1:1\" "
      "-fro -crcignore -sure -rb -fx -afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";
  expected.push_back('\0');
  EXPECT_EQ(ReadBytes(OnTestDrive(L"ghost._KX")), expected);
}

TEST_F(CodePageTest, ChineseBackupDestinationIsWrittenInCodePage936) {
  ASSERT_EQ(GetACP(), 936u);
  std::string bytes;
  ASSERT_TRUE(JobFileBytes(BackupJobText(L"1:1", L"1:2\\\x5907\x4EFD\\BAKSYS.GHO"), false, bytes));  // 备份
  EXPECT_EQ(bytes,
            "Ghost.exe -nousb -clone,mode=pdump,src=\"1:1\",dst=\"1:2\\\xB1\xB8\xB7\xDD\\BAKSYS.GHO\" -sure -rb "
            "-crcignore -fro -z3 -auto -afile=\"GHOSTERR.TXT\"\r\nrestart\r\n");
}

TEST_F(CodePageTest, CharactersOutsideTheCodePageAreRefused) {
  std::string bytes;
  EXPECT_FALSE(JobFileBytes(L"D:\\\xD55C.GHO", false, bytes));  // Hangul
  EXPECT_TRUE(JobFileBytes(L"", true, bytes));
  EXPECT_EQ(bytes, std::string(1, '\0'));
}

}  // namespace
