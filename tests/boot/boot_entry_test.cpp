// The one-time boot entry: boot.ini on the oldest releases, the BCD store on the others. The system's
// bcdedit and bcdboot are recording stand-ins in the prefix's system folder, reached through our
// forwarders extracted into the tool folder; the partition tool is a recording stand-in too.
#include <gtest/gtest.h>

#include "boot/bcd_entry.h"
#include "boot/boot_ini.h"
#include "tests/boot/boot_test_support.h"

namespace {

const char kOldBootIni[] =
    "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
    "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP "
    "Professional\" /fastdetect\r\n";

const std::string kBackupId = "{12310282-F678-420E-A313-468C5687342A}";
const std::string kReinstallId = "{A3B315FE-ADCA-4FB0-848C-EB3529FF0340}";

class EntryTest : public RecordingToolsTest {
 protected:
  std::vector<std::string> Runs() const { return tools_->Runs(); }
  std::string Drive() const { return std::string(1, static_cast<char>(TestDrive())); }
  // Lines of boot.ini that begin with a text, compared without case.
  int CountLines(const std::string& text, const std::string& start) const {
    int n = 0;
    size_t pos = 0;
    std::string lower = text, key = start;
    for (char& c : lower) c = static_cast<char>(tolower(c));
    for (char& c : key) c = static_cast<char>(tolower(c));
    while (pos < lower.size()) {
      size_t end = lower.find('\n', pos);
      if (end == std::string::npos) end = lower.size();
      if (lower.compare(pos, key.size(), key) == 0) ++n;
      pos = end + 1;
    }
    return n;
  }
};

// --- boot.ini ---

TEST_F(EntryTest, BackupEditSavesBootIniAndPointsItsDefaultAtTheLoader) {
  Use(1);
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kOldBootIni));
  RegisterBackupBootEntry();
  EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.in_")), std::string(kOldBootIni));
  std::string ini = ReadBytes(OnTestDrive(L"boot.ini"));
  std::string loader = Drive() + ":\\kwldr";
  EXPECT_NE(ini.find("default=" + loader + "\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("timeout=3\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\r\n" + loader + "=VorlaneBak\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\\WINDOWS=\"Microsoft Windows XP Professional\" /fastdetect"), std::string::npos) << ini;
  EXPECT_EQ(CountLines(ini, "default="), 1);
  EXPECT_EQ(CountLines(ini, "timeout="), 1);
  EXPECT_EQ(Runs(), std::vector<std::string>{"dspt.exe|0 /mbr /noback /y"});
}

TEST_F(EntryTest, ASecondBackupEditCopiesTheEditedFile) {
  Use(1);
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kOldBootIni));
  RegisterBackupBootEntry();
  std::string edited = ReadBytes(OnTestDrive(L"boot.ini"));
  RegisterBackupBootEntry();
  EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.in_")), edited);
  std::string ini = ReadBytes(OnTestDrive(L"boot.ini"));
  EXPECT_EQ(ini, edited);  // the same keys replaced, nothing added
  EXPECT_EQ(CountLines(ini, Drive() + ":\\kwldr="), 1);
}

TEST_F(EntryTest, ReinstallEditTakesNoCopyAndReplacesItsKeys) {
  Use(2);
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kOldBootIni));
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.in_"), "older copy"));
  RegisterReinstallBootEntry();
  RegisterReinstallBootEntry();
  EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.in_")), "older copy");
  std::string ini = ReadBytes(OnTestDrive(L"boot.ini"));
  std::string loader = Drive() + ":\\kxldr";
  EXPECT_EQ(CountLines(ini, "default=" + loader), 1) << ini;
  EXPECT_EQ(CountLines(ini, "default="), 1) << ini;
  EXPECT_EQ(CountLines(ini, "timeout=3"), 1) << ini;
  EXPECT_EQ(CountLines(ini, loader + "=Vorlane\r"), 1) << ini;  // without quotes
  EXPECT_EQ(Runs(), (std::vector<std::string>{"dspt.exe|0 /mbr /noback /y", "dspt.exe|0 /mbr /noback /y"}));
}

TEST_F(EntryTest, ReinstallEditWithoutBackupCopyLeavesNone) {
  Use(0);
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kOldBootIni));
  EXPECT_TRUE(WriteBootIniEntry(L"kxldr", L"Vorlane", EntryReinstall));
  EXPECT_FALSE(Exists(OnTestDrive(L"boot.in_")));
}

TEST_F(EntryTest, AFailedDiskLookupTouchesNothing) {
  // The partition tool would be handed disk -1 and fail: nothing is edited first.
  MachineDescription m = StandardMachine();
  VolumeOf(m, TestDrive()).extentsFail = true;
  UseMachine(m);
  Use(1);
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kOldBootIni));
  EXPECT_FALSE(WriteBootIniEntry(L"kwldr", L"VorlaneBak", EntryBackup));
  EXPECT_TRUE(Runs().empty());
  EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.ini")), std::string(kOldBootIni));
  EXPECT_FALSE(Exists(OnTestDrive(L"boot.in_")));
}

TEST_F(EntryTest, AFailingPartitionToolPutsBootIniAndItsCopyBack) {
  struct Case { EntryKind kind; const char* oldCopy; } cases[] = {
      {EntryBackup, nullptr}, {EntryBackup, "older copy"}, {EntryReinstall, "older copy"}};
  for (const Case& c : cases) {
    StartOver(1);
    tools_->ExitWith(2, L"/mbr");
    ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kOldBootIni));
    if (c.oldCopy) ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.in_"), c.oldCopy));
    PreparationLog log;
    EXPECT_FALSE(AddBootIniEntry(L"kwldr", L"VorlaneBak", c.kind, log));
    EXPECT_EQ(log.failure, L"无法写入引导代码（分区工具出错）");
    EXPECT_NE(ReadBytes(OnTestDrive(L"boot.ini")), std::string(kOldBootIni));  // edited before the tool ran
    EXPECT_TRUE(RunUndoPlan(log.undo.Plan()));
    EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.ini")), std::string(kOldBootIni));
    if (c.oldCopy)
      EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.in_")), c.oldCopy);
    else
      EXPECT_FALSE(Exists(OnTestDrive(L"boot.in_")));
  }
}

TEST_F(EntryTest, NothingIsTouchedWithoutTheToolFile) {
  Use(1);
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kOldBootIni));
  ASSERT_TRUE(DeleteFileW(TheBootConfig.bcdeditPath.c_str()));
  EXPECT_FALSE(WriteBootIniEntry(L"kwldr", L"VorlaneBak", EntryBackup));
  EXPECT_FALSE(RegisterBackupBootEntry());
  EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.ini")), std::string(kOldBootIni));
  EXPECT_FALSE(Exists(OnTestDrive(L"boot.in_")));
  EXPECT_TRUE(Runs().empty());
}

TEST_F(EntryTest, TimeoutIsWrittenUnderBootLoader) {
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), "[boot loader]\r\ntimeout=30\r\n"));
  EXPECT_TRUE(WriteBootIniTimeout(CIniFile(OnTestDrive(L"boot.ini"))));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.ini")), "[boot loader]\r\ntimeout=3\r\n");
}

// --- BCD ---

std::vector<std::string> SystemStoreRuns(const std::string& id, const std::string& text, const std::string& sector,
                                         const std::string& device) {
  return {
      "bcdedit.exe|/delete " + id + " /f",
      "bcdedit.exe|/create " + id + " /d \"" + text + "\" /application bootsector",
      "bcdedit.exe|/set " + id + " path \\" + sector,
      "bcdedit.exe|/displayorder " + id + " /addlast",
      "bcdedit.exe|/timeout 3",
      "bcdedit.exe|/set " + id + " device partition=" + device,
      "bcdedit.exe|/bootsequence " + id,
  };
}

std::vector<std::string> WithStore(const std::string& drive, std::vector<std::string> runs) {
  for (std::string& run : runs) run.insert(run.find('|') + 1, "/store \"" + drive + ":\\boot\\bcd\" ");
  return runs;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The system store is saved for the imaging environment (BCD_M) and for the undo (BCD_U) first.
std::vector<std::string> Exports(const std::string& drive, bool savedCopy = true) {
  std::vector<std::string> runs;
  if (savedCopy) runs.push_back("bcdedit.exe|/export \"" + drive + ":\\BOOT\\BCD_M\"");
  runs.push_back("bcdedit.exe|/export \"" + drive + ":\\BOOT\\BCD_U\"");
  return runs;
}

TEST_F(EntryTest, SystemStoreEntryOfTheExampleStartsOnceThroughTheBootSequence) {
  // An active system partition: the system store, saved first.
  EXPECT_TRUE(RegisterBackupBootEntry());
  EXPECT_EQ(Runs(), Join(Exports(Drive()), SystemStoreRuns(kBackupId, "VorlaneBak", "kwldr.mbr",
                                                           "\\Device\\HarddiskVolume1")));
  EXPECT_FALSE(Exists(OnTestDrive(L"BOOT\\BCD_U")));
}

TEST_F(EntryTest, BootFlagChoosesTheStore) {
  struct Case { const char* name; bool active; bool partInfoFails; uint32_t style; bool driveStore; } cases[] = {
      {"active MBR partition", true, false, 0, false},
      {"inactive MBR partition", false, false, 0, true},
      {"GPT partition", false, false, 1, false},
      {"failed partition query", false, true, 0, false},
  };
  for (const Case& c : cases) {
    MachineDescription m = StandardMachine();
    SimVolume& system = VolumeOf(m, TestDrive());
    system.bootIndicator = c.active;
    system.partitionInfoFails = c.partInfoFails;
    system.style = c.style;
    UseMachine(m);
    tools_->Clear();
    EXPECT_TRUE(RegisterReinstallBootEntry()) << c.name;
    std::vector<std::string> runs = Runs();
    ASSERT_FALSE(runs.empty()) << c.name;
    std::vector<std::string> entry = SystemStoreRuns(kReinstallId, "Vorlane", "kxldr.mbr", "\\Device\\HarddiskVolume1");
    if (c.driveStore) {
      std::vector<std::string> expected = {
          "bcdboot.exe|" + Drive() + ":\\windows /s " + Drive() + ": /l zh-cn",
          "dspt.exe|0 /act:1",
          "bcdedit.exe|/export \"" + Drive() + ":\\BOOT\\BCD_M\"",
      };
      EXPECT_EQ(runs, Join(expected, WithStore(Drive(), entry))) << c.name;
    } else {
      EXPECT_EQ(runs, Join(Exports(Drive(), !Exists(OnTestDrive(L"BOOT\\BCD_M"))), entry)) << c.name;
    }
  }
}

TEST_F(EntryTest, DriveStoreCopiesTheStoreAndLeavesAnExistingCopyAlone) {
  MachineDescription m = StandardMachine();
  VolumeOf(m, TestDrive()).bootIndicator = false;
  UseMachine(m);
  ASSERT_TRUE(CreateDirectoryW(OnTestDrive(L"Boot").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"Boot\\BCD"), "the store"));
  PreparationLog log;
  EXPECT_TRUE(AddBcdEntryToDriveStore(L"kwldr.mbr", L"VorlaneBak", EntryBackup, log));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"Boot\\BCD_M")), "the store");
  EXPECT_FALSE(Exists(OnTestDrive(L"Boot\\BCD_U")));  // the undo copy goes once the entry is made
  std::vector<std::string> runs = Runs();
  for (const std::string& run : runs) EXPECT_EQ(run.find("/export"), std::string::npos) << run;

  ASSERT_TRUE(WriteBytes(OnTestDrive(L"Boot\\BCD"), "the store with our entry"));
  tools_->Clear();
  EXPECT_TRUE(AddBcdEntryToDriveStore(L"kwldr.mbr", L"VorlaneBak", EntryBackup, log));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"Boot\\BCD_M")), "the store");
  EXPECT_EQ(Runs(), runs);
}

TEST_F(EntryTest, SystemStoreLeavesAnExistingCopyAlone) {
  ASSERT_TRUE(CreateDirectoryW(OnTestDrive(L"Boot").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"Boot\\BCD_M"), "saved before"));
  PreparationLog log;
  EXPECT_TRUE(AddBcdEntry(L"kwldr.mbr", L"VorlaneBak", EntryBackup, log));
  EXPECT_EQ(ReadBytes(OnTestDrive(L"Boot\\BCD_M")), "saved before");
  EXPECT_EQ(Runs(), Join(Exports(Drive(), false),
                         SystemStoreRuns(kBackupId, "VorlaneBak", "kwldr.mbr", "\\Device\\HarddiskVolume1")));
}

// A command that exits non-zero stops the entry there; the undo puts the saved store back with /import
// and removes the copies this entry made.
TEST_F(EntryTest, AFailingCommandOfTheSystemStoreIsTakenBackWholly) {
  const std::string id = kReinstallId;
  const std::string import = "bcdedit.exe|/import \"" + Drive() + ":\\BOOT\\BCD_U\"";
  struct Case { const wchar_t* failing; bool undoImports; } cases[] = {
      {L"/export \"", false}, {L"/create", true}, {L"path \\", true}, {L"/displayorder", true},
      {L"/timeout", true}, {L"device partition=", true}, {L"/bootsequence", true},
  };
  for (const Case& c : cases) {
    StartOver(5);
    tools_->Clear();
    tools_->ExitWith(1, c.failing);
    PreparationLog log;
    EXPECT_FALSE(MakeBootEntry(EntryReinstall, log)) << Utf8(c.failing);
    EXPECT_EQ(log.failure, L"无法修改启动配置（bcdedit 出错）");
    size_t made = Runs().size();
    tools_->ExitWith(0, L"");
    EXPECT_TRUE(RunUndoPlan(log.undo.Plan())) << Utf8(c.failing);
    std::vector<std::string> runs = Runs();
    std::vector<std::string> undo(runs.begin() + made, runs.end());
    EXPECT_EQ(undo, c.undoImports ? std::vector<std::string>{import} : std::vector<std::string>{})
        << Utf8(c.failing);
    EXPECT_TRUE(RootEntries().empty()) << Utf8(c.failing);  // the BOOT folder made for the copies is gone
  }
}

TEST_F(EntryTest, AFailingDriveStoreIsTakenBackWithTheActivePartitionAndTheStore) {
  // D: (the second partition) is active, the system partition is not: the drive-store path.
  MachineDescription m = StandardMachine();
  m.disks[0].entries[0].bootIndicator = false;
  m.disks[0].entries[1].bootIndicator = true;
  VolumeOf(m, TestDrive()).bootIndicator = false;
  UseMachine(m);
  struct Case { const wchar_t* failing; std::vector<std::string> undo; } cases[] = {
      {L"/l zh-cn", {}},
      {L"/act:1", {"dspt.exe|0 /act:2"}},
      {L"/create", {"dspt.exe|0 /act:2"}},
      {L"/bootsequence", {"dspt.exe|0 /act:2"}},
  };
  for (const Case& c : cases) {
    StartOver(5);
    ASSERT_TRUE(CreateDirectoryW(OnTestDrive(L"Boot").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(OnTestDrive(L"Boot\\BCD"), "the store before"));
    tools_->Clear();
    tools_->ExitWith(5, c.failing);
    PreparationLog log;
    EXPECT_FALSE(MakeBootEntry(EntryBackup, log)) << Utf8(c.failing);
    EXPECT_FALSE(log.failure.empty());
    // What the entry changed in the store file (bcdedit is a recorder here): the copy must come back.
    WriteBytes(OnTestDrive(L"Boot\\BCD"), "changed");
    size_t made = Runs().size();
    tools_->ExitWith(0, L"");
    EXPECT_TRUE(RunUndoPlan(log.undo.Plan())) << Utf8(c.failing);
    std::vector<std::string> runs = Runs();
    EXPECT_EQ(std::vector<std::string>(runs.begin() + made, runs.end()), c.undo) << Utf8(c.failing);
    EXPECT_EQ(ReadBytes(OnTestDrive(L"Boot\\BCD")), "the store before") << Utf8(c.failing);
    EXPECT_FALSE(Exists(OnTestDrive(L"Boot\\BCD_U"))) << Utf8(c.failing);
    EXPECT_FALSE(Exists(OnTestDrive(L"Boot\\BCD_M"))) << Utf8(c.failing);
  }
}

TEST_F(EntryTest, PartitionPositionCountsEveryPartitionByOffset) {
  // Disk 1: an unlettered partition, a logical drive and the system drive third by offset, listed out of
  // order and with an extended container (number 0) that is not counted.
  MachineDescription m = StandardMachine();
  m.disks[1].entries = {{300LL << 30, 10LL << 30, 3, 0x07, false},
                        {1LL << 20, 10LL << 30, 1, 0x07, false},
                        {20LL << 30, 200LL << 30, 0, 0x0F, false},
                        {21LL << 30, 10LL << 30, 5, 0x07, false}};
  SimVolume& system = VolumeOf(m, TestDrive());
  system.disk = 1;
  system.startingOffset = 300LL << 30;
  system.bootIndicator = false;
  VolumeOf(m, L'E').startingOffset = 21LL << 30;
  UseMachine(m);
  PreparationLog log;
  EXPECT_EQ(MakeSystemPartitionBootable(TheBootConfig.bcdbootPath, TheBootConfig.partToolPath, TestDrive(), log), 0);
  EXPECT_EQ(Runs(), (std::vector<std::string>{"bcdboot.exe|" + Drive() + ":\\windows /s " + Drive() + ": /l zh-cn",
                                              "dspt.exe|1 /act:3"}));
}

TEST_F(EntryTest, MakeBootableFailsWhenAToolFailsOrThePartitionIsUnknown) {
  PreparationLog log;
  EXPECT_EQ(MakeSystemPartitionBootable(OnTestDrive(L"none.exe"), TheBootConfig.partToolPath, TestDrive(), log), -1);
  EXPECT_TRUE(Runs().empty());
  EXPECT_EQ(MakeSystemPartitionBootable(TheBootConfig.bcdbootPath, OnTestDrive(L"none.exe"), TestDrive(), log), -1);
  // bcdboot exits 9009 where the system has none: the partition is not made active.
  tools_->Clear();
  tools_->ExitWith(9009, L"bcdboot.exe|");
  EXPECT_EQ(MakeSystemPartitionBootable(TheBootConfig.bcdbootPath, TheBootConfig.partToolPath, TestDrive(), log), -1);
  EXPECT_EQ(log.failure, L"无法写入系统启动文件（bcdboot 出错）");
  EXPECT_EQ(Runs().size(), 1u);
  tools_->ExitWith(0, L"");
  // A partition that cannot be placed: nothing runs.
  tools_->Clear();
  EXPECT_EQ(MakeSystemPartitionBootable(TheBootConfig.bcdbootPath, TheBootConfig.partToolPath, L'Q', log), -1);
  EXPECT_TRUE(Runs().empty());
}

TEST_F(EntryTest, DeviceFallsBackToPartitionOneOfTheDisk) {
  MachineDescription m = StandardMachine();
  SimVolume& system = VolumeOf(m, TestDrive());
  system.deviceName.clear();
  system.disk = 1;
  system.startingOffset = 1LL << 20;
  VolumeOf(m, L'E').disk = 0;
  VolumeOf(m, L'E').startingOffset = 1LL << 20;
  UseMachine(m);
  std::wstring device;
  ASSERT_TRUE(ResolveEntryDevice(TestDrive(), device));
  EXPECT_EQ(device, L"\\Device\\Harddisk1\\Partition1");
  EXPECT_TRUE(RegisterBackupBootEntry());
  std::vector<std::string> runs = Runs();
  ASSERT_EQ(runs.size(), 9u);
  EXPECT_EQ(runs[7], "bcdedit.exe|/set " + kBackupId + " device partition=\\Device\\Harddisk1\\Partition1");
}

TEST_F(EntryTest, AnUnresolvableDeviceLeavesTheEntryWithoutDeviceOrDefault) {
  MachineDescription m = StandardMachine();
  SimVolume& system = VolumeOf(m, TestDrive());
  system.deviceName.clear();
  system.openFails = true;
  UseMachine(m);
  std::wstring device;
  EXPECT_FALSE(ResolveEntryDevice(TestDrive(), device));
  PreparationLog log;
  EXPECT_FALSE(AddBcdEntry(L"kwldr.mbr", L"VorlaneBak", EntryBackup, log));
  EXPECT_EQ(log.failure, L"无法确定系统分区的设备名");
  std::vector<std::string> expected = SystemStoreRuns(kBackupId, "VorlaneBak", "kwldr.mbr", "");
  expected.resize(5);
  EXPECT_EQ(Runs(), Join(Exports(Drive()), expected));
}

TEST_F(EntryTest, ReleasesFromTwelveOnAreLeftUntouched) {
  ASSERT_TRUE(WriteBytes(OnTestDrive(L"boot.ini"), kOldBootIni));
  for (int32_t osIndex : {12, 13}) {
    Use(osIndex);
    EXPECT_FALSE(RegisterBackupBootEntry());
    EXPECT_FALSE(RegisterReinstallBootEntry());
    EXPECT_TRUE(Runs().empty()) << "OsIndex " << osIndex;
    EXPECT_EQ(RootEntries(), std::vector<std::wstring>{L"boot.ini"});
    EXPECT_EQ(ReadBytes(OnTestDrive(L"boot.ini")), std::string(kOldBootIni));
  }
}

TEST(BcdCommandsTest, DriveStoreCommandsCarryTheQuotedStore) {
  EXPECT_EQ(BcdStorePrefix(L'C'), L"/store \"C:\\boot\\bcd\" ");
  std::vector<std::wstring> before = BcdEntryCommands(BcdStorePrefix(L'C'), L"G", L"T", L"m.mbr");
  EXPECT_EQ(before, (std::vector<std::wstring>{L"/store \"C:\\boot\\bcd\" /create {G} /d \"T\" /application bootsector",
                                              L"/store \"C:\\boot\\bcd\" /set {G} path \\m.mbr",
                                              L"/store \"C:\\boot\\bcd\" /displayorder {G} /addlast",
                                              L"/store \"C:\\boot\\bcd\" /timeout 3"}));
  // The entry starts once (the boot sequence), never as the default: the start after it is Windows'.
  EXPECT_EQ(BcdDeviceCommands(L"", L"G", L"\\Device\\X"),
            (std::vector<std::wstring>{L"/set {G} device partition=\\Device\\X", L"/bootsequence {G}"}));
  EXPECT_EQ(BcdDeleteArguments(L"", L"G"), L"/delete {G} /f");
  EXPECT_EQ(BcdbootArguments(L'C'), L"C:\\windows /s C: /l zh-cn");
  EXPECT_EQ(ActivateArguments(0, 2), L"0 /act:2");
  EXPECT_EQ(MbrCodeArguments(1), L"1 /mbr /noback /y");
}

}  // namespace
