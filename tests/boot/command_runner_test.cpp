// The hidden command runner and the attribute commands around every boot preparation.
#include <gtest/gtest.h>

#include "base/text_format.h"
#include "boot/bcd_entry.h"
#include "boot/command_runner.h"
#include "boot/ghost_job.h"
#include "tests/boot/boot_test_support.h"

namespace {

using RunnerTest = BootDriveTest;

TEST_F(RunnerTest, ALongCommandLineIsPassedWhole) {
  RecordingTools tools;
  std::wstring arguments;
  for (int i = 0; i < 70; ++i) arguments += Format(L"arg%03d-xx ", i);  // 700 characters
  arguments += L"\"quoted end\"";
  ASSERT_GT(tools.RecorderPath().size() + 1 + arguments.size(), 520u);
  EXPECT_TRUE(RunHidden(tools.RecorderPath() + L" " + arguments));
  EXPECT_EQ(tools.Runs(), std::vector<std::string>{"vl_recorder.exe|" + Utf8(arguments)});
}

TEST_F(RunnerTest, RunToolJoinsPathAndArgumentsWithOneBlank) {
  RecordingTools tools;
  EXPECT_TRUE(RunTool(tools.PartToolPath(), L"0 /act:2"));
  EXPECT_TRUE(RunTool(tools.PartToolPath(), L""));
  EXPECT_EQ(tools.Runs(), (std::vector<std::string>{"dspt.exe|0 /act:2", "dspt.exe|"}));
}

TEST_F(RunnerTest, AProgramThatCannotStartAnswersFalse) {
  EXPECT_FALSE(RunHidden(OnTestDrive(L"nosuch.exe") + L" x"));
  EXPECT_FALSE(RunTool(OnTestDrive(L"nosuch\\tool.exe"), L"1 /act:1"));
}

TEST(AttribCommandsTest, ElevenCommandsInOrderForBothSets) {
  EXPECT_EQ(BootFileAttribCommands(L'C', true), (std::vector<std::wstring>{
      L"cmd /c attrib +h +s +r \"C:\\GHOST.*\"", L"cmd /c attrib +h +s +r \"C:\\boot.in*\"",
      L"cmd /c attrib +h +s +r \"C:\\*.lsn\"", L"cmd /c attrib +h +s +r \"C:\\kwldr\"",
      L"cmd /c attrib +h +s +r \"C:\\kxldr\"", L"cmd /c attrib +h +s +r \"C:\\kxldr.mbr\"",
      L"cmd /c attrib +h +s +r \"C:\\kwldr.mbr\"", L"cmd /c attrib +h +s +r \"C:\\KW.vid\"",
      L"cmd /c attrib +h +s +r \"C:\\KX.vid\"", L"cmd /c attrib +h +s +r \"C:\\KW.env\"",
      L"cmd /c attrib +h +s +r \"C:\\KX.env\""}));
  EXPECT_EQ(BootFileAttribCommands(L'D', false), (std::vector<std::wstring>{
      L"cmd /c attrib -h -s -r \"D:\\GHOST.*\"", L"cmd /c attrib -h -s -r \"D:\\boot.in*\"",
      L"cmd /c attrib -h -s -r \"D:\\*.lsn\"", L"cmd /c attrib -h -s -r \"D:\\kwldr\"",
      L"cmd /c attrib -h -s -r \"D:\\kxldr\"", L"cmd /c attrib -h -s -r \"D:\\kxldr.mbr\"",
      L"cmd /c attrib -h -s -r \"D:\\kwldr.mbr\"", L"cmd /c attrib -h -s -r \"D:\\KW.vid\"",
      L"cmd /c attrib -h -s -r \"D:\\KX.vid\"", L"cmd /c attrib -h -s -r \"D:\\KW.env\"",
      L"cmd /c attrib -h -s -r \"D:\\KX.env\""}));
}

using AttributeTest = BootDriveTest;

const DWORD kHsr = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;

// Every file in the root is a boot file here; each must carry what attrib sets.
void ExpectAllHidden(const char* after) {
  DWORD expected = ProbeAttrib().setMask;
  ASSERT_NE(expected, 0u) << "attrib sets none of the attributes here";
  for (const std::wstring& name : RootEntries()) {
    EXPECT_EQ(Attributes(OnTestDrive(name)) & kHsr, expected) << Utf8(name) << " after " << after;
  }
}

TEST_F(AttributeTest, UnhideOnADriveWithoutBootFilesChangesNothing) {
  ProbeAttrib();
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"other.txt"), "x"));
  UnhideBootFiles();
  HideBootFiles();
  EXPECT_EQ(RootEntries(), std::vector<std::wstring>{L"other.txt"});
  EXPECT_EQ(Attributes(OnTestDrive(L"other.txt")) & kHsr, 0u);
}

TEST_F(AttributeTest, EveryBootFileIsHiddenAfterEveryOperation) {
  ProbeAttrib();
  RecordingTools tools;
  ExtractBootTools();
  TheBootConfig.partToolPath = tools.PartToolPath();
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), "[boot loader]\r\ntimeout=30\r\n"));

  UseTestDrive(1);
  TheBootConfig.partToolPath = tools.PartToolPath();
  PrepareBackupJob(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO");
  ExpectAllHidden("PrepareBackupJob");
  RegisterBackupBootEntry();
  ExpectAllHidden("RegisterBackupBootEntry");
  EXPECT_TRUE(Exists(OnTestDrive(L"boot.in_")));

  UseTestDrive(5);
  TheBootConfig.partToolPath = tools.PartToolPath();
  PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO");
  ExpectAllHidden("PrepareRestoreJob");
  RegisterReinstallBootEntry();
  ExpectAllHidden("RegisterReinstallBootEntry");
  // The backup set without its loader boot sector (boot.ini release), the whole reinstall set, both jobs
  // with their identity files and start records, boot.ini and its copy.
  EXPECT_EQ(RootEntries().size(), 13u);
}

TEST_F(AttributeTest, UnhideClearsWhatAttribSetsOnEveryBootFile) {
  const AttribAbility& ability = ProbeAttrib();
  PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO");
  PrepareBackupJob(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO");
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), "[boot loader]\r\n"));
  HideBootFiles();
  UnhideBootFiles();
  for (const std::wstring& name : RootEntries())
    EXPECT_EQ(Attributes(OnTestDrive(name)) & ability.clearMask & ability.setMask, 0u) << Utf8(name);
}

TEST_F(AttributeTest, ASecondPreparationRewritesEveryFileOfTheSet) {
  PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO");
  std::vector<std::wstring> names = {L"KX.lsn", L"kxldr", L"kxldr.mbr", L"ghost._KX", L"KX.vid", L"KX.env"};
  std::vector<std::string> first;
  for (const std::wstring& name : names) {
    std::wstring path = OnTestDrive(name);
    first.push_back(ReadBytes(path));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(WriteBytes(path, "left over from an earlier run"));
    SetFileAttributesW(path.c_str(), kHsr);
  }
  PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO");
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(ReadBytes(OnTestDrive(names[i])), first[i]) << Utf8(names[i]);
}

}  // namespace

namespace {

std::vector<std::wstring> g_noted;

TEST_F(RunnerTest, TheObserverHearsEveryCommandLineBeforeItRuns) {
  RecordingTools tools;
  g_noted.clear();
  SetCommandObserver([](const std::wstring& line) { g_noted.push_back(line); });
  RunTool(tools.PartToolPath(), L"0 /act:1");
  RunHidden(OnTestDrive(L"nosuch.exe"));
  SetCommandObserver(nullptr);
  RunHidden(OnTestDrive(L"nosuch.exe") + L" again");
  EXPECT_EQ(g_noted, (std::vector<std::wstring>{tools.PartToolPath() + L" 0 /act:1", OnTestDrive(L"nosuch.exe")}));
}

}  // namespace

namespace {

std::vector<std::wstring> g_commands;

// Every job and entry operation begins with the unhide commands and ends with the hide commands, whatever it writes in between (checked on the command lines, which do not depend on how
// well the attrib at hand applies them).
TEST_F(AttributeTest, EveryOperationIsWrappedInUnhideAndHide) {
  RecordingTools tools;
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), "[boot loader]\r\n"));
  std::vector<std::wstring> unhide = BootFileAttribCommands(TestDrive(), false);
  std::vector<std::wstring> hide = BootFileAttribCommands(TestDrive(), true);
  struct Operation { const char* name; void (*run)(); } operations[] = {
      {"PrepareBackupJob", [] { PrepareBackupJob(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO"); }},
      {"PrepareRestoreJob", [] { PrepareRestoreJob(L"D:\\VRLN\\Download\\win7.GHO"); }},
      {"RegisterBackupBootEntry", [] { RegisterBackupBootEntry(); }},
      {"RegisterReinstallBootEntry", [] { RegisterReinstallBootEntry(); }},
  };
  SetCommandObserver([](const std::wstring& line) { g_commands.push_back(line); });
  for (int32_t osIndex : {1, 5}) {
    UseTestDrive(osIndex);
    ExtractBootTools();
    TheBootConfig.partToolPath = tools.PartToolPath();
    for (const Operation& op : operations) {
      g_commands.clear();
      op.run();
      const size_t n = unhide.size();
      ASSERT_GE(g_commands.size(), 2 * n) << op.name << " on " << osIndex;
      EXPECT_EQ(std::vector<std::wstring>(g_commands.begin(), g_commands.begin() + n), unhide) << op.name;
      EXPECT_EQ(std::vector<std::wstring>(g_commands.end() - n, g_commands.end()), hide) << op.name;
    }
  }
  SetCommandObserver(nullptr);
}

}  // namespace
