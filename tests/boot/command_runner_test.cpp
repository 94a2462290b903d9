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
  EXPECT_TRUE(RunHidden(tools.RecorderPath() + L" " + arguments).Succeeded());
  EXPECT_EQ(tools.Runs(), std::vector<std::string>{"vl_recorder.exe|" + Utf8(arguments)});
}

TEST_F(RunnerTest, RunToolJoinsTheQuotedPathAndArgumentsWithOneBlank) {
  RecordingTools tools;
  EXPECT_TRUE(RunTool(tools.PartToolPath(), L"0 /act:2").Succeeded());
  EXPECT_TRUE(RunTool(tools.PartToolPath(), L"").Succeeded());
  EXPECT_EQ(tools.Runs(), (std::vector<std::string>{"dspt.exe|0 /act:2", "dspt.exe|"}));
  // A tool folder with a blank, as "Documents and Settings" on the oldest releases.
  std::wstring folder = OnTestDrive(L"rec\\a folder");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  std::wstring spaced = folder + L"\\dspt.exe";
  ASSERT_TRUE(CopyFileW(tools.PartToolPath().c_str(), spaced.c_str(), FALSE));
  tools.Clear();
  EXPECT_TRUE(RunTool(spaced, L"1 /act:3").Succeeded());
  EXPECT_EQ(tools.Runs(), std::vector<std::string>{"dspt.exe|1 /act:3"});
}

TEST_F(RunnerTest, TheExitCodeIsReadAndOnlyZeroSucceeds) {
  RecordingTools tools;
  tools.ExitWith(9009, L"/act:2");
  CommandResult failed = RunTool(tools.PartToolPath(), L"0 /act:2");
  CommandResult other = RunTool(tools.PartToolPath(), L"0 /act:1");
  tools.ExitWith(1, L"");
  CommandResult any = RunTool(tools.PartToolPath(), L"0 /mbr /noback /y");
  tools.ExitWith(0, L"");
  EXPECT_TRUE(failed.started);
  EXPECT_EQ(failed.exitCode, 9009u);
  EXPECT_FALSE(failed.Succeeded());
  EXPECT_TRUE(other.Succeeded());
  EXPECT_EQ(any.exitCode, 1u);
  EXPECT_FALSE(any.Succeeded());
  CommandResult missing = RunHidden(OnTestDrive(L"nosuch.exe"));
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.Succeeded());
}

TEST(CommandLinesTest, ToolsQuotedAndSystemProgramsByTheirFullPath) {
  EXPECT_EQ(ToolCommandLine(L"C:\\Documents and Settings\\user\\Templates\\bcdedit.exe", L"/timeout 3"),
            L"\"C:\\Documents and Settings\\user\\Templates\\bcdedit.exe\" /timeout 3");
  EXPECT_EQ(SystemProgramPathIn(L"C:\\WINNT\\system32", L"cmd.exe"), L"C:\\WINNT\\system32\\cmd.exe");
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  EXPECT_EQ(SystemProgramPath(L"attrib.exe"), std::wstring(system) + L"\\attrib.exe");
}

TEST_F(RunnerTest, AProgramThatCannotStartAnswersFalse) {
  EXPECT_FALSE(RunHidden(OnTestDrive(L"nosuch.exe") + L" x").started);
  EXPECT_FALSE(RunTool(OnTestDrive(L"nosuch\\tool.exe"), L"1 /act:1").started);
}

TEST(AttribCommandsTest, ElevenCommandsInOrderForBothSetsWithAttribByItsFullPath) {
  const std::vector<std::wstring> patterns = {L"GHOST.*", L"boot.in*", L"*.lsn", L"kwldr", L"kxldr", L"kxldr.mbr",
                                              L"kwldr.mbr", L"KW.vid", L"KX.vid", L"KW.env", L"KX.env"};
  for (bool hide : {true, false}) {
    std::vector<std::wstring> expected;
    for (const std::wstring& p : patterns)
      expected.push_back(Format(L"\"C:\\WINDOWS\\system32\\attrib.exe\" %s \"D:\\%s\"", hide ? L"+h +s +r" : L"-h -s -r",
                                p.c_str()));
    EXPECT_EQ(BootFileAttribCommands(L"C:\\WINDOWS\\system32", L'D', hide), expected) << hide;
  }
}

using AttributeTest = BootDriveTest;

const DWORD kHsr = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;

// Every file in the root is a boot file here; each must carry what attrib sets.
void ExpectAllHidden(const char* after) {
  DWORD expected = ProbeAttrib().setMask;
  ASSERT_NE(expected, 0u) << "attrib sets none of the attributes here";
  for (const std::wstring& name : RootEntries()) {
    if (Attributes(OnTestDrive(name)) & FILE_ATTRIBUTE_DIRECTORY) continue;  // the store's BOOT folder
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
  // with their identity files and start records, boot.ini and its copy, and the BOOT folder of the store
  // copies.
  EXPECT_EQ(RootEntries().size(), 14u);
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
  EXPECT_EQ(g_noted,
            (std::vector<std::wstring>{L"\"" + tools.PartToolPath() + L"\" 0 /act:1", OnTestDrive(L"nosuch.exe")}));
}

}  // namespace

namespace {

std::vector<std::wstring> g_commands;

// Every job and entry operation begins with the unhide commands and ends with the hide commands, whatever it writes in between (checked on the command lines, which do not depend on how
// well the attrib at hand applies them).
TEST_F(AttributeTest, EveryOperationIsWrappedInUnhideAndHide) {
  RecordingTools tools;
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), "[boot loader]\r\n"));
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::vector<std::wstring> unhide = BootFileAttribCommands(system, TestDrive(), false);
  std::vector<std::wstring> hide = BootFileAttribCommands(system, TestDrive(), true);
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
