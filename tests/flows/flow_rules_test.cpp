// Plain rules of the flows: the image size check, the question texts, the preparation blocks, the
// image hash and the cancellable automatic restart.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/delayed_restart.h"
#include "app/fast_startup.h"
#include "app/flow_rules.h"
#include "app/restart.h"
#include "app/image_check.h"
#include "base/file_name_rule.h"
#include "base/sha256_file.h"
#include "base/unique_handle.h"

namespace {

TEST(FlowRules, ImageSizeThreshold) {
  EXPECT_TRUE(ImageLargeEnough(104857600));
  EXPECT_FALSE(ImageLargeEnough(104857599));
  EXPECT_FALSE(ImageLargeEnough(0));
  EXPECT_FALSE(ImageLargeEnough(-1));
  EXPECT_TRUE(ImageLargeEnough(int64_t(5) << 32));  // images over 4 GiB
}

TEST(FlowRules, QuestionTexts) {
  EXPECT_EQ(L"一键重装已经准备就绪，是否立刻重启安装系统？（无操作10秒后自动重启）【2:2-1:1】\r\n立刻重启\"是\"，稍后重启\"否\"",
            ReinstallQuestion(L"2:2", L"1:1"));
  EXPECT_EQ(L"备份工作已经准备就绪，是否继续？【1:1-2:1】\r\n立刻重启备份\"是\"，手动重启备份\"否\"，取消本次操作\"取消\"\r\n",
            SystemBackupQuestion(L"1:1", L"2:1"));
  EXPECT_EQ(L"还原工作已经准备就绪，是否继续？【1:2-1:1】\r\n立刻重启还原\"是\"，手动重启还原\"否\"，取消本次操作\"取消\"\r\n",
            SystemRestoreQuestion(L"1:2", L"1:1"));
}

TEST(FlowRules, PreparationBlocks) {
  for (int os = 0; os <= 11; ++os) EXPECT_EQ(PreparationBlock::None, CheckPreparation(os, false)) << os;
  for (int os : {12, 13, 14, -1, 15})
    EXPECT_EQ(PreparationBlock::UnsupportedRelease, CheckPreparation(os, false)) << os;
  EXPECT_EQ(PreparationBlock::UefiFirmware, CheckPreparation(5, true));
  EXPECT_EQ(PreparationBlock::UnsupportedRelease, CheckPreparation(13, true));
  EXPECT_STREQ(L"当前系统暂不支持该功能。", PreparationBlockMessage(PreparationBlock::UnsupportedRelease));
  EXPECT_STREQ(L"当前电脑为UEFI启动模式，暂不支持该功能。", PreparationBlockMessage(PreparationBlock::UefiFirmware));
  EXPECT_STREQ(L"", PreparationBlockMessage(PreparationBlock::None));
}

TEST(FlowRules, MachineChecksInOrder) {
  constexpr uint64_t MiB = 1 << 20;
  MachineFacts fine;
  fine.osIndex = 5;  // Windows 7
  fine.memoryKnown = true;
  fine.memoryBytes = kLeastMemoryMiB * MiB;
  struct Case {
    const char* what;
    void (*change)(MachineFacts&);
    PreparationBlock block;
  } cases[] = {
      {"a machine that can", [](MachineFacts&) {}, PreparationBlock::None},
      {"Windows 10", [](MachineFacts& f) { f.osIndex = 13; f.memoryBytes = 0; }, PreparationBlock::UnsupportedRelease},
      {"UEFI", [](MachineFacts& f) { f.uefiFirmware = true; f.bitLockerSystemVolume = true; },
       PreparationBlock::UefiFirmware},
      {"one byte short of the least memory", [](MachineFacts& f) { --f.memoryBytes; }, PreparationBlock::TooLittleMemory},
      {"memory unknown", [](MachineFacts& f) { f.memoryKnown = false; f.memoryBytes = 0; }, PreparationBlock::None},
      {"little memory and BitLocker", [](MachineFacts& f) { f.memoryBytes = 64 * MiB; f.bitLockerSystemVolume = true; },
       PreparationBlock::TooLittleMemory},
      {"BitLocker", [](MachineFacts& f) { f.bitLockerSystemVolume = true; }, PreparationBlock::BitLockerVolume},
      {"drive store without bcdboot", [](MachineFacts& f) { f.driveStorePath = true; }, PreparationBlock::NoBcdboot},
      {"drive store with bcdboot", [](MachineFacts& f) { f.driveStorePath = true; f.hasBcdboot = true; },
       PreparationBlock::None},
      {"system store, no bcdboot needed", [](MachineFacts& f) { f.hasBcdboot = false; }, PreparationBlock::None},
  };
  for (const Case& c : cases) {
    MachineFacts f = fine;
    c.change(f);
    EXPECT_EQ(c.block, CheckMachine(f)) << c.what;
  }
  // Only BCD releases with an inactive system partition take the drive-store path (boot flag -1: unknown).
  EXPECT_FALSE(TakesDriveStorePath(1, 0));   // Windows XP: boot.ini
  EXPECT_TRUE(TakesDriveStorePath(3, 0));    // Vista
  EXPECT_TRUE(TakesDriveStorePath(11, 0));   // 8.1
  EXPECT_FALSE(TakesDriveStorePath(12, 0));  // Windows 10: not prepared at all
  EXPECT_FALSE(TakesDriveStorePath(5, 1));
  EXPECT_FALSE(TakesDriveStorePath(5, -1));
  std::wstring memory = PreparationBlockMessage(PreparationBlock::TooLittleMemory);
  EXPECT_NE(std::wstring::npos, memory.find(std::to_wstring(kLeastMemoryMiB) + L"MB")) << "the message names the figure";
  for (PreparationBlock b : {PreparationBlock::BitLockerVolume, PreparationBlock::NoBcdboot})
    EXPECT_STRNE(L"", PreparationBlockMessage(b));
}

// A system whose shutdown tool is there or not and whose command works or not, recording what was done.
class FakeRestartSystem : public IRestartSystem {
 public:
  FakeRestartSystem(bool tool, bool works) : tool_(tool), works_(works) {}
  bool HasShutdownTool() override { return tool_; }
  bool RunCommand(const std::string& commandLine) override {
    done.push_back("command " + commandLine);
    return works_;
  }
  bool RebootCall() override {
    done.push_back("call");
    return true;
  }
  std::vector<std::string> done;

 private:
  bool tool_, works_;
};

TEST(Restart, TheCommandWhereItWorksElseTheSystemCall) {
  const std::string command = kRestartCommand;
  struct Case {
    bool tool, works;
    RestartWay way;
    std::vector<std::string> done;
  } cases[] = {
      {true, true, RestartWay::Command, {"command " + command}},
      {true, false, RestartWay::SystemCall, {"command " + command, "call"}},  // the command failed
      {false, true, RestartWay::SystemCall, {"call"}},                        // Windows 2000: no shutdown.exe
  };
  for (const Case& c : cases) {
    FakeRestartSystem system(c.tool, c.works);
    EXPECT_EQ(c.way, RestartMachine(command, system)) << c.tool << c.works;
    EXPECT_EQ(c.done, system.done) << c.tool << c.works;
  }
}

TEST(Restart, RealCommandRunsInTheSystemFolderAndReportsItsExitCode) {
  // Under Wine: cmd by its full path; "exit 3" fails, "exit 0" works. Nothing is restarted here.
  Win32RestartSystem system;
  EXPECT_TRUE(system.RunCommand("cmd /c exit 0"));
  EXPECT_FALSE(system.RunCommand("cmd /c exit 3"));
  EXPECT_FALSE(system.RunCommand("cmd /c no-such-program-here"));
}

// Fast startup through Wine's real registry, on keys of the test's own (HKCU) so nothing else is touched.
class FastStartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    keys.root = HKEY_CURRENT_USER;
    keys.powerKey = L"Software\\VorlaneTest\\Power";
    keys.savedKey = L"Software\\VorlaneTest\\Saved";
    RegDeleteTreeOf(L"Software\\VorlaneTest");
  }
  void TearDown() override { RegDeleteTreeOf(L"Software\\VorlaneTest"); }
  static void RegDeleteTreeOf(const std::wstring& path) {
    RegDeleteKeyW(HKEY_CURRENT_USER, (path + L"\\Power").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, (path + L"\\Saved").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
  }
  void SetPower(DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, keys.powerKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr));
    RegSetValueExW(key, keys.value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
  }
  // The value, or -1 when it is not there.
  static long long Read(const std::wstring& path, const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return -1;
    DWORD value = 0, size = sizeof(value), type = 0;
    LONG r = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? static_cast<long long>(value) : -1;
  }
  long long Power() { return Read(keys.powerKey, keys.value); }
  long long Saved() { return Read(keys.savedKey, keys.savedValue); }
  FastStartupKeys keys;
};

TEST_F(FastStartupTest, TurnedOffWhileAJobIsPendingAndPutBackAfterwards) {
  SetPower(1);
  EXPECT_FALSE(TurnOffFastStartupForJob(5, keys));  // Windows 7 has none: nothing touched
  EXPECT_EQ(1, Power());
  EXPECT_EQ(-1, Saved());
  EXPECT_TRUE(TurnOffFastStartupForJob(10, keys));  // Windows 8.1
  EXPECT_EQ(0, Power());
  EXPECT_EQ(1, Saved());
  EXPECT_FALSE(TurnOffFastStartupForJob(10, keys));  // a second job: already off, the copy stays
  EXPECT_EQ(1, Saved());
  EXPECT_FALSE(PutBackFastStartup(true, keys));  // the job still waits
  EXPECT_EQ(0, Power());
  EXPECT_TRUE(PutBackFastStartup(false, keys));
  EXPECT_EQ(1, Power());
  EXPECT_EQ(-1, Saved());
  EXPECT_FALSE(PutBackFastStartup(false, keys));  // nothing kept: nothing changes
  EXPECT_EQ(1, Power());
}

TEST_F(FastStartupTest, OffOrAbsentIsLeftAlone) {
  EXPECT_FALSE(TurnOffFastStartupForJob(9, keys));  // no Power key at all
  EXPECT_EQ(-1, Saved());
  SetPower(0);
  EXPECT_FALSE(TurnOffFastStartupForJob(9, keys));
  EXPECT_EQ(0, Power());
  EXPECT_EQ(-1, Saved());
  EXPECT_FALSE(PutBackFastStartup(false, keys));
  EXPECT_EQ(0, Power());
}

TEST(FastStartup, JobPendingLooksForEitherJobFile) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring root = std::wstring(temp) + L"vorlane-job-pending\\";
  CreateDirectoryW(root.c_str(), nullptr);
  DeleteFileW((root + L"ghost._KX").c_str());
  DeleteFileW((root + L"Ghost.ba_").c_str());
  EXPECT_FALSE(JobPending(root));
  for (const wchar_t* name : {L"ghost._KX", L"Ghost.ba_"}) {
    UniqueHandle(CreateFileW((root + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(JobPending(root)) << name;
    DeleteFileW((root + name).c_str());
  }
  CreateDirectoryW((root + L"ghost._KX").c_str(), nullptr);  // a folder of that name is no job
  EXPECT_FALSE(JobPending(root));
  RemoveDirectoryW((root + L"ghost._KX").c_str());
  RemoveDirectoryW(root.c_str());
}

std::string HashOf(const std::string& s) {
  Sha256 h;
  h.Update(s.data(), s.size());
  return h.HexDigest();
}

TEST(StorageRules, TheSystemPartitionHoldsNoImage) {
  struct Case {
    wchar_t drive;
    const wchar_t* driveAddress;
    const wchar_t* systemAddress;
    bool onSystem;
  } cases[] = {
      {L'C', L"1:1", L"1:1", true},   // the system drive itself
      {L'c', L"", L"", true},         // in any case, even where the table cannot place it
      {L'D', L"2:2", L"1:1", false},  // a partition of its own
      {L'D', L"1:1", L"1:1", true},   // another letter of the system partition
      {L'D', L"", L"", false},        // unplaced drives are refused elsewhere (the partition error)
      {L'D', L"", L"1:1", false},
      {L'\0', L"", L"1:1", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.onSystem, OnSystemPartition(c.drive, L'C', c.driveAddress, c.systemAddress)) << c.drive << c.driveAddress;
}

TEST(StorageRules, CatalogueSizeTextsRoundUp) {
  constexpr uint64_t MiB = 1 << 20, GiB = UINT64_C(1) << 30;
  struct Case {
    const wchar_t* text;
    uint64_t bytes;
  } cases[] = {
      {L"800M", 801 * MiB},           // rounded down by the catalogue: one more unit
      {L"100M", 101 * MiB},
      {L"3.5G", 3 * GiB + 6 * GiB / 10},
      {L"3.50G", 3 * GiB + 51 * GiB / 100},
      {L" 700 MB ", 701 * MiB},
      {L"4.2gb", 4 * GiB + 3 * GiB / 10},
      {L"1T", UINT64_C(2) << 40},
      {L"512K", 513 * 1024},
      {L"123", 124},
      {L"", 0},                       // no size given: never refused
      {L"M", 0},
      {L"大约2G", 0},
      {L"2X", 0},
      {L"99999999999999999999T", UINT64_MAX},  // past any disk
  };
  for (const Case& c : cases) EXPECT_EQ(c.bytes, CatalogueImageBytes(c.text)) << c.text;
}

TEST(StorageRules, DownloadRoomCountsWhatTheImageAlreadyHolds) {
  EXPECT_EQ(StorageBlock::None, CheckDownloadRoom(0, 0, 0));           // size unknown
  EXPECT_EQ(StorageBlock::None, CheckDownloadRoom(100, 100, 0));
  EXPECT_EQ(StorageBlock::NoRoom, CheckDownloadRoom(101, 100, 0));
  EXPECT_EQ(StorageBlock::None, CheckDownloadRoom(101, 60, 41));       // a partial download held
  EXPECT_EQ(StorageBlock::NoRoom, CheckDownloadRoom(UINT64_MAX, 1000, 1000));
  EXPECT_EQ(StorageBlock::None, CheckDownloadRoom(UINT64_MAX, UINT64_MAX, 5));  // no overflow
  EXPECT_STREQ(L"需要一个系统分区以外、剩余空间足够的分区来存放系统镜像。", StorageBlockMessage(StorageBlock::NoRoom));
  EXPECT_STREQ(StorageBlockMessage(StorageBlock::NoRoom), StorageBlockMessage(StorageBlock::OnSystemPartition));
  EXPECT_STREQ(L"", StorageBlockMessage(StorageBlock::None));
}

TEST(Sha256, KnownVectors) {
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", HashOf(""));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", HashOf("abc"));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            HashOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", HashOf(std::string(1000000, 'a')));
}

TEST(Sha256, PiecewiseUpdatesMatchOneUpdate) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += char(i * 7);
  std::string whole = HashOf(data);
  for (size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u}) {
    Sha256 h;
    for (size_t at = 0; at < data.size(); at += piece) h.Update(data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(whole, h.HexDigest()) << piece;
  }
}

TEST(Sha256, FilesAndExpectedTexts) {
  wchar_t dir[MAX_PATH], path[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"img", 0, path);
  HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  std::string data(3 * 1024 * 1024 + 17, 'v');
  DWORD wrote = 0;
  WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &wrote, nullptr);
  CloseHandle(f);
  std::string digest;
  uint64_t lastDone = 0, lastTotal = 0;
  ASSERT_TRUE(Sha256OfFile(path, digest, [&](uint64_t done, uint64_t total) {
    lastDone = done;
    lastTotal = total;
    return true;
  }));
  EXPECT_EQ(HashOf(data), digest);
  EXPECT_EQ(data.size(), lastDone);
  EXPECT_EQ(data.size(), lastTotal);
  EXPECT_FALSE(Sha256OfFile(path, digest, [](uint64_t, uint64_t) { return false; }));  // abandoned
  DeleteFileW(path);
  EXPECT_FALSE(Sha256OfFile(path, digest));  // missing file
  std::wstring upper(digest.begin(), digest.end());
  for (auto& c : upper) c = towupper(c);
  EXPECT_TRUE(IsSha256Hex(upper));
  EXPECT_TRUE(Sha256Equal(digest, upper));
  EXPECT_FALSE(Sha256Equal(digest, upper.substr(1) + L"0"));
  EXPECT_FALSE(IsSha256Hex(upper.substr(1)));
  EXPECT_FALSE(IsSha256Hex(std::wstring(63, L'a') + L"g"));
}

// A kept or downloaded image against its catalogue hash: a match keeps it, a mismatch deletes it, no hash
// or an unreadable file checks nothing (the size checks that follow report a missing file).
TEST(ImageCheck, VerifyKeepsMatchesAndDeletesMismatches) {
  wchar_t dir[MAX_PATH], path[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"img", 0, path);
  std::string data(1024 * 1024 + 3, 'i');
  HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  DWORD wrote = 0;
  WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &wrote, nullptr);
  CloseHandle(f);
  std::string hex = HashOf(data);
  std::wstring right(hex.begin(), hex.end());
  std::wstring wrong = right.substr(1) + (right[0] == L'0' ? L"1" : L"0");

  EXPECT_EQ(kImageNotChecked, VerifyImage(path, L""));
  EXPECT_EQ(kImageNotChecked, VerifyImage(path, L"not a hash"));
  uint64_t seen = 0;
  EXPECT_EQ(kImageVerified, VerifyImage(path, right, [&](uint64_t done, uint64_t) { seen = done; }));
  EXPECT_EQ(data.size(), seen);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path));
  EXPECT_EQ(kImageMismatch, VerifyImage(path, wrong));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path));
  EXPECT_EQ(kImageNotChecked, VerifyImage(path, right));  // gone: nothing to check
}

// The program and the engine share one rule: a name that stays in the download folder, that the system
// stores as given, and that is not a device.
TEST(ImageCheck, CatalogueFileNamesFollowTheSharedRule) {
  struct Case {
    const wchar_t* name;
    bool usable;
  } cases[] = {
      {L"win7_ultimate_x86.gho", true}, {L"系统 镜像.GHO", true}, {L".hidden", true}, {L"a", true},
      {L"console.gho", true}, {L"COM10.gho", true}, {L"LPT0.gho", true}, {L"CONX.gho", true},
      {L"", false}, {L".", false}, {L"..", false},
      {L"..\\..\\boot.ini", false}, {L"a/b.gho", false}, {L"C:x.gho", false}, {L"a\\b.gho", false},
      {L"what?.gho", false}, {L"a\tb.gho", false}, {L"a*", false}, {L"a\"", false}, {L"a<", false},
      {L"a>", false}, {L"a|", false},
      // The system drops trailing dots and blanks: "x.gho." would be saved as "x.gho".
      {L"x.gho.", false}, {L"x.gho ", false}, {L"x.gho. .", false},
      // Device names, alone, with an extension, in any case, with blanks before the dot.
      {L"CON", false}, {L"CON.gho", false}, {L"con.GHO", false}, {L"Nul.tar.gz", false}, {L"AUX .gho", false},
      {L"PRN.gho", false}, {L"COM1.gho", false}, {L"com9", false}, {L"LPT1.gho", false}, {L"lpt9.x", false},
      {L"COM\u00B9.gho", false}, {L"CONIN$.gho", false}, {L"conout$", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.usable, IsUsableFileName(c.name)) << c.name;
  EXPECT_TRUE(IsUsableFileName(std::wstring(kMaxImageFileNameLength - 4, L'n') + L".gho"));
  EXPECT_FALSE(IsUsableFileName(std::wstring(kMaxImageFileNameLength - 3, L'n') + L".gho"));
}

TEST(DelayedRestart, RunsAfterTheDelayUnlessCancelled) {
  std::atomic<int> runs{0};
  DelayedRestart fires;
  ASSERT_TRUE(fires.Start(50, [&] { ++runs; }));
  for (int i = 0; i < 500 && !fires.Fired(); ++i) Sleep(10);
  EXPECT_TRUE(fires.Fired());
  EXPECT_FALSE(fires.Cancel());  // too late: the action ran
  EXPECT_EQ(1, runs.load());

  DelayedRestart cancelled;
  ASSERT_TRUE(cancelled.Start(10000, [&] { ++runs; }));
  EXPECT_TRUE(cancelled.Cancel());
  EXPECT_FALSE(cancelled.Fired());
  EXPECT_EQ(1, runs.load());
}

TEST(DelayedRestart, RearmingCancelsThePreviousTimer) {
  std::atomic<int> first{0}, second{0};
  DelayedRestart t;
  ASSERT_TRUE(t.Start(10000, [&] { ++first; }));
  ASSERT_TRUE(t.Start(20, [&] { ++second; }));
  for (int i = 0; i < 500 && !t.Fired(); ++i) Sleep(10);
  EXPECT_EQ(0, first.load());
  EXPECT_EQ(1, second.load());
}

}  // namespace

TEST(FlowTexts, DownloadKeptAndVolumeMessages) {
  EXPECT_EQ(FinalNameHeldMessage(L"D:\\VRLN\\Download\\win7.gho", true),
            L"镜像已下载完成，但同名的文件“D:\\VRLN\\Download\\win7.gho”是只读文件，无法替换。"
            L"已下载的数据已保留，去掉它的只读属性后再次安装此系统即可完成。");
  EXPECT_EQ(FinalNameHeldMessage(L"D:\\VRLN\\Download\\win7.gho", false),
            L"镜像已下载完成，但同名的文件“D:\\VRLN\\Download\\win7.gho”正被其他程序使用，无法替换。"
            L"已下载的数据已保留，关闭使用它的程序后再次安装此系统即可完成。");
  EXPECT_EQ(ImageNameInvalidMessage(L"CON.gho"), L"镜像文件名“CON.gho”无效，无法下载。");
  EXPECT_STREQ(kTooLargeForFat32Message, L"下载目录所在分区为FAT32格式，无法保存大于4GB的文件。");
}

namespace {

TEST(PreparationFailedMessage, NamesTheStepAndWhetherEverythingWasTakenBack) {
  EXPECT_EQ(PreparationFailedMessage(PreparationKind::Reinstall, L"无法写入启动文件（C盘空间不足）", true),
            L"准备重装环境失败：无法写入启动文件（C盘空间不足）。系统未作任何更改。");
  EXPECT_EQ(PreparationFailedMessage(PreparationKind::Backup, L"X", true), L"准备备份环境失败：X。系统未作任何更改。");
  EXPECT_EQ(PreparationFailedMessage(PreparationKind::Restore, L"X", false),
            L"准备还原环境失败：X。部分更改未能撤销，请检查系统盘根目录的启动文件和启动配置。");
}

}  // namespace
