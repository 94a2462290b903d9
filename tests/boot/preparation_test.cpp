// The whole preparation of a one-time boot: written completely, or taken back completely with the failed
// step named. The system's bcdedit and bcdboot and the partition tool are recording stand-ins.
#include <gtest/gtest.h>

#include "base/text_format.h"
#include "boot/boot_config.h"
#include "boot/preparation.h"
#include "tests/boot/boot_test_support.h"

namespace {

const char kBootIni[] = "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n";

class PreparationTest : public RecordingToolsTest {
 protected:
  std::wstring Failed(const wchar_t* what, const wchar_t* name) {
    return Format(L"%s（%c:\\%s）", what, TestDrive(), name);
  }
};

TEST_F(PreparationTest, ASuccessLeavesTheWholeSetAndItsEntry) {
  PreparationResult r = PrepareReinstall(L"D:\\VRLN\\Download\\win7.GHO");
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.failure.empty());
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"BOOT", L"ghost._KX", L"KX.env", L"KX.lsn", L"KX.vid", L"kxldr",
                                                      L"kxldr.mbr"}));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KX.env")).size(), 1024u);
  EXPECT_EQ(ReadBytes(OnTestDrive(L"KX.vid")).find("vorlane-job-identity 1\r\njob=restore\r\n"), 0u);
  std::vector<std::string> runs = tools_->Runs();
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs.back(), "bcdedit.exe|/bootsequence {A3B315FE-ADCA-4FB0-848C-EB3529FF0340}");

  StartOver(1);
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kBootIni));
  r = PrepareBackup(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO");
  EXPECT_TRUE(r.ok) << Utf8(r.failure);
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"boot.in_", L"boot.ini", L"Ghost.ba_", L"KW.env", L"KW.lsn",
                                                      L"KW.vid", L"kwldr"}));
}

// A folder in the way of one file of the set makes its write fail: everything written before it is
// removed again and the boot configuration is never touched.
TEST_F(PreparationTest, AFileThatCannotBeWrittenIsNamedAndTheSetIsRemoved) {
  struct Case {
    const wchar_t* blocked;
    const wchar_t* what;
  } cases[] = {
      {L"KX.lsn", L"无法写入启动文件"},    {L"kxldr", L"无法写入启动文件"},  {L"kxldr.mbr", L"无法写入启动文件"},
      {L"ghost._KX", L"无法写入任务文件"}, {L"KX.vid", L"无法写入任务文件"}, {L"KX.env", L"无法写入任务文件"},
  };
  for (const Case& c : cases) {
    StartOver(5);
    tools_->Clear();
    ASSERT_TRUE(CreateDirectoryW(OnTestDrive(c.blocked).c_str(), nullptr));
    PreparationResult r = PrepareReinstall(L"D:\\VRLN\\Download\\win7.GHO");
    EXPECT_FALSE(r.ok) << Utf8(c.blocked);
    EXPECT_TRUE(r.undone) << Utf8(c.blocked);
    EXPECT_EQ(r.failure, Failed(c.what, c.blocked));
    EXPECT_EQ(RootEntries(), std::vector<std::wstring>{c.blocked});
    EXPECT_TRUE(tools_->Runs().empty()) << Utf8(c.blocked);
  }
}

TEST_F(PreparationTest, AFailedBootEntryRemovesTheSetAndPutsTheConfigurationBack) {
  tools_->ExitWith(1, L"/bootsequence");
  PreparationResult r = PrepareBackup(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.undone);
  EXPECT_EQ(r.failure, L"无法修改启动配置（bcdedit 出错）");
  EXPECT_TRUE(RootEntries().empty());
  std::vector<std::string> runs = tools_->Runs();
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs.back(), "bcdedit.exe|/import \"" + Utf8(std::wstring(1, TestDrive())) + ":\\BOOT\\BCD_U\"");

  // boot.ini release: the partition tool fails after boot.ini was edited.
  StartOver(1);
  tools_->ExitWith(1, L"/mbr");
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kBootIni));
  r = PrepareBackup(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.undone);
  EXPECT_EQ(r.failure, L"无法写入引导代码（分区工具出错）");
  EXPECT_EQ(RootEntries(), std::vector<std::wstring>{L"boot.ini"});
  EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.ini")), std::string(kBootIni));
}

TEST_F(PreparationTest, WhatCannotWorkIsRefusedBeforeAnythingIsWritten) {
  struct Case {
    int32_t osIndex;
    const wchar_t* image;
    const wchar_t* failure;
  } cases[] = {
      {12, L"D:\\VRLN\\Download\\win7.GHO", L"当前系统暂不支持该功能"},
      {5, L"Q:\\win7.GHO", L"无法确定分区位置"},
      // Hangul has no form in the ANSI code page: the job could not name the file.
      {5, L"D:\\\xD55C.GHO", L"镜像路径中有系统代码页无法表示的字符"},
  };
  for (const Case& c : cases) {
    Use(c.osIndex);
    PreparationResult r = PrepareReinstall(c.image);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, c.failure);
    EXPECT_TRUE(RootEntries().empty());
    EXPECT_TRUE(tools_->Runs().empty());
  }
}

TEST(PreparationRoomTest, EachFileNeedsWhatItAddsAndTheDriveKeepsAMargin) {
  EXPECT_EQ(BytesNeeded({}, kSystemDriveMargin), kSystemDriveMargin);
  // A new file adds its size; a file it replaces gives its own back, but never more than the new one takes.
  EXPECT_EQ(BytesNeeded({{1000, 0}, {500, 200}, {100, 400}}, 16), 16u + 1000 + 300 + 0);
  EXPECT_EQ(kSystemDriveMargin, 16ull << 20);
}

}  // namespace
