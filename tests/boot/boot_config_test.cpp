// The payload resources, the tool extraction at start-up and BootConfig.
#include <gtest/gtest.h>

#include "app/environment.h"
#include "base/unique_handle.h"
#include "boot/boot_config.h"
#include "tests/boot/boot_test_support.h"

namespace {

using PayloadTest = BootDriveTest;

TEST_F(PayloadTest, WriteResourceReplacesAnExistingFile) {
  std::wstring path = OnTestDrive(L"KW.lsn");
  ASSERT_TRUE(WriteBytes(path, std::string(100000, 'x')));
  EXPECT_TRUE(WriteResourceToFile(path, 130, L"GHOST_DATA"));
  EXPECT_EQ(ReadBytes(path), ResourceBytes(130, L"GHOST_DATA"));
  EXPECT_GT(ReadBytes(path).size(), 0u);
}

TEST_F(PayloadTest, AMissingResourceWritesNothing) {
  std::wstring path = OnTestDrive(L"none.bin");
  ASSERT_TRUE(WriteBytes(path, "old"));
  EXPECT_FALSE(WriteResourceToFile(path, 999, L"GHOST_DATA"));
  EXPECT_FALSE(WriteResourceToFile(path, 130, L"NO_SUCH_TYPE"));
  EXPECT_EQ(ReadBytes(path), "old");
  EXPECT_FALSE(WriteResourceToFile(OnTestDrive(L"new.bin"), 999, L"GHOST_DATA"));
  EXPECT_EQ(RootEntries(), std::vector<std::wstring>{L"none.bin"});
}

TEST_F(PayloadTest, AFileThatCannotBeCreatedAnswersFalse) {
  EXPECT_FALSE(WriteResourceToFile(OnTestDrive(L"missing\\KW.lsn"), 130, L"GHOST_DATA"));
  EXPECT_TRUE(RootEntries().empty());
}

TEST_F(PayloadTest, EveryPayloadIsEmbedded) {
  for (uint16_t id : {130, 131, 132, 133, 134, 135, 137, 142, 143}) {
    HRSRC found = FindResourceExW(GetModuleHandleW(nullptr), L"GHOST_DATA", MAKEINTRESOURCEW(id),
                                  MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_NE(found, nullptr) << id;
    EXPECT_GT(SizeofResource(GetModuleHandleW(nullptr), found), 0u) << id;
  }
  // The tools are the ones built beside this program.
  EXPECT_EQ(ResourceBytes(137, L"GHOST_DATA"), ReadBytes(ProgramFolder() + L"\\bcdedit.exe"));
  EXPECT_EQ(ResourceBytes(142, L"GHOST_DATA"), ReadBytes(ProgramFolder() + L"\\dspt.exe"));
  EXPECT_EQ(ResourceBytes(143, L"GHOST_DATA"), ReadBytes(ProgramFolder() + L"\\bcdboot.exe"));
}

TEST(BootStyleTest, ByRelease) {
  struct Case { int32_t osIndex; bool prepared; BootStyle style; } cases[] = {
      {0, true, BootStyleLegacy}, {2, true, BootStyleLegacy}, {3, true, BootStyleBcd},
      {11, true, BootStyleBcd},   {12, false, BootStyleBcd},  {14, false, BootStyleBcd}, {-1, false, BootStyleBcd}};
  for (const Case& c : cases) {
    BootStyle style = BootStyleBcd;
    EXPECT_EQ(BootStyleForOsIndex(c.osIndex, style), c.prepared) << c.osIndex;
    if (c.prepared) {
      EXPECT_EQ(style, c.style) << c.osIndex;
    }
  }
}

TEST(BootConfigTest, InitTakesTheMachineFactsAndSetsTheConstants) {
  TheBootConfig.partToolPath = L"changed";
  InitBootConfig(L'F', 7, L"T:\\a");
  const BootConfig& c = TheBootConfig;
  EXPECT_EQ(c.systemDrive, L'F');
  EXPECT_EQ(c.osIndex, 7);
  EXPECT_EQ(c.bcdeditPath, L"T:\\a\\bcdedit.exe");
  EXPECT_EQ(c.bcdbootPath, L"T:\\a\\bcdboot.exe");
  EXPECT_EQ(c.partToolPath, L"T:\\a\\dspt.exe");
  EXPECT_STREQ(c.entryIds[EntryBackup], L"12310282-F678-420E-A313-468C5687342A");
  EXPECT_STREQ(c.entryIds[EntryReinstall], L"A3B315FE-ADCA-4FB0-848C-EB3529FF0340");
  EXPECT_EQ(std::vector<int>(c.backupSetIds, c.backupSetIds + 3), (std::vector<int>{130, 131, 134}));
  EXPECT_EQ(std::vector<int>(c.reinstallSetIds, c.reinstallSetIds + 3), (std::vector<int>{132, 133, 135}));
  EXPECT_STREQ(c.backupSetNames[0], L"KW.lsn");
  EXPECT_STREQ(c.reinstallSetNames[2], L"kxldr.mbr");
  EXPECT_STREQ(c.payloadType, L"GHOST_DATA");
  EXPECT_STREQ(c.backupJobName, L"Ghost.ba_");
  EXPECT_STREQ(c.reinstallJobName, L"ghost._KX");
}

// The start-up of the program: the tools land in the Templates folder at every start.
TEST_F(PayloadTest, InitWorkPathsWritesTheToolsAtEveryStart) {
  // A working folder on the test drive keeps the start-up's folders there.
  ASSERT_TRUE(CreateDirectoryW(OnTestDrive(L"VRLN").c_str(), nullptr));
  InitWorkPaths();
  EXPECT_EQ(TheEnvironment.WorkFolder(), OnTestDrive(L"VRLN"));
  const Environment& env = TheEnvironment;
  ASSERT_FALSE(env.ToolFolder.empty());
  EXPECT_EQ(env.ToolFolder.find(L' '), std::wstring::npos);
  const BootConfig& c = TheBootConfig;
  EXPECT_EQ(c.bcdeditPath, env.ToolFolder + L"\\bcdedit.exe");
  EXPECT_EQ(c.partToolPath, env.ToolFolder + L"\\dspt.exe");
  EXPECT_EQ(c.bcdbootPath, env.ToolFolder + L"\\bcdboot.exe");
  EXPECT_EQ(c.systemDrive, env.SystemDrive);
  EXPECT_EQ(c.osIndex, env.OsIndex);
  struct Tool { const std::wstring& path; uint16_t id; } tools[] = {
      {c.bcdeditPath, 137}, {c.partToolPath, 142}, {c.bcdbootPath, 143}};
  for (const Tool& t : tools) EXPECT_EQ(ReadBytes(t.path), ResourceBytes(t.id, L"GHOST_DATA")) << Utf8(t.path);

  for (const Tool& t : tools) ASSERT_TRUE(WriteBytes(t.path, "an older copy"));
  InitWorkPaths();
  for (const Tool& t : tools) EXPECT_EQ(ReadBytes(t.path), ResourceBytes(t.id, L"GHOST_DATA")) << Utf8(t.path);
}

TEST_F(PayloadTest, WithoutAToolFolderTheToolsGoToTheRootOfTheCurrentDrive) {
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(OnTestDrive(L"").c_str()));
  InitBootConfig(TestDrive(), 5, L"");
  ExtractBootTools();
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(TheBootConfig.bcdeditPath, L"\\bcdedit.exe");
  EXPECT_EQ(RootEntries(), (std::vector<std::wstring>{L"bcdboot.exe", L"bcdedit.exe", L"dspt.exe"}));
}

}  // namespace

namespace {

// The shipped program of the ship tree carries the nine payloads, the tools being the shipped ones.
std::wstring ShipFile(const std::wstring& relative) {
  std::wstring path = L"Z:" VORLANE_SHIP_DIR_W L"/" + relative;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

TEST(ShipProgramTest, EmbedsAllNinePayloadsWithTheShippedTools) {
  std::wstring exe = ShipFile(L"bin/vorlane.exe");
  UniqueModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module) << Utf8(exe);
  struct Payload { uint16_t id; std::wstring file; } payloads[] = {
      {130, L"resources/payload/KW.lsn"},    {131, L"resources/payload/kwldr"},
      {132, L"resources/payload/KX.lsn"},    {133, L"resources/payload/kxldr"},
      {134, L"resources/payload/kwldr.mbr"}, {135, L"resources/payload/kxldr.mbr"},
      {137, L"bin/bcdedit.exe"},             {142, L"bin/dspt.exe"},
      {143, L"bin/bcdboot.exe"}};
  for (const Payload& p : payloads) {
    HRSRC found = FindResourceExW(module.Get(), L"GHOST_DATA", MAKEINTRESOURCEW(p.id),
                                  MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_NE(found, nullptr) << p.id;
    DWORD size = SizeofResource(module.Get(), found);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module.Get(), found)));
    ASSERT_NE(data, nullptr) << p.id;
    EXPECT_EQ(std::string(data, size), ReadBytes(ShipFile(p.file))) << p.id;
  }
}

}  // namespace
