// The choice of the working drive and the start-up work paths.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>

#include <map>

#include "app/environment.h"
#include "base/folders.h"
#include "sysinfo/os_version.h"

namespace {

constexpr uint64_t GiB = uint64_t(1) << 30;

// A machine of drive letters: type, whether "X:\VRLN" exists, free space (absent = unreadable).
struct Drive {
  UINT type;
  bool vrln;
  bool freeKnown;
  uint64_t freeBytes;
};

wchar_t Choose(wchar_t system, const std::map<wchar_t, Drive>& drives) {
  return ChooseWorkDriveFrom(system, [&](wchar_t letter) {
    DriveProbe p;
    auto it = drives.find(letter);
    if (it == drives.end()) return p;
    p.driveType = it->second.type;
    p.hasWorkFolder = it->second.vrln;
    p.freeKnown = it->second.freeKnown;
    p.freeBytes = it->second.freeBytes;
    return p;
  });
}

Drive Fixed(uint64_t freeBytes, bool vrln = false) { return {DRIVE_FIXED, vrln, true, freeBytes}; }

TEST(ChooseWorkDrive, Rules) {
  const struct {
    const char* what;
    std::map<wchar_t, Drive> drives;
    wchar_t expected;
  } cases[] = {
      {"only the system drive", {{L'C', Fixed(100 * GiB)}}, L'C'},
      {"most free space wins", {{L'C', Fixed(9 * GiB)}, {L'D', Fixed(5 * GiB)}, {L'E', Fixed(50 * GiB)}}, L'E'},
      {"an existing VRLN folder wins over more room",
       {{L'D', Fixed(5 * GiB, true)}, {L'E', Fixed(500 * GiB)}}, L'D'},
      {"a VRLN folder is reused even on a small drive", {{L'D', Fixed(1 * GiB, true)}, {L'E', Fixed(500 * GiB)}}, L'D'},
      {"a VRLN folder on a removable drive does not count",
       {{L'D', {DRIVE_REMOVABLE, true, true, 90 * GiB}}, {L'E', Fixed(10 * GiB)}}, L'E'},
      {"optical and network drives are never chosen",
       {{L'D', {DRIVE_CDROM, false, true, 90 * GiB}}, {L'E', {DRIVE_REMOTE, false, true, 90 * GiB}}}, L'C'},
      {"exactly 4 GiB qualifies", {{L'D', Fixed(4 * GiB)}}, L'D'},
      {"just under 4 GiB never qualifies", {{L'D', Fixed(4 * GiB - 1)}}, L'C'},
      {"equal free space keeps the earlier letter", {{L'E', Fixed(20 * GiB)}, {L'D', Fixed(20 * GiB)}}, L'D'},
      {"unreadable free space counts as none",
       {{L'D', {DRIVE_FIXED, false, false, 900 * GiB}}, {L'E', Fixed(8 * GiB)}}, L'E'},
      {"Z is never examined", {{L'Z', Fixed(900 * GiB, true)}}, L'C'},
      {"A and B are examined", {{L'B', Fixed(8 * GiB)}}, L'B'},
      {"the system drive's own VRLN folder is skipped", {{L'C', Fixed(90 * GiB, true)}, {L'D', Fixed(6 * GiB)}}, L'D'},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, Choose(L'C', c.drives)) << c.what;
}

TEST(ChooseWorkDrive, LowerCaseSystemDriveIsSkippedByTheSpacePass) {
  // The first pass compares the letter as given, the second in upper case.
  std::map<wchar_t, Drive> drives = {{L'C', Fixed(90 * GiB)}};
  EXPECT_EQ(L'c', Choose(L'c', drives));
}

TEST(InitWorkPaths, UnderWineSettlesFoldersOnTheOnlyFixedDrive) {
  InitWorkPaths();
  const Environment& env = TheEnvironment;
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(windows[0], env.SystemDrive);
  EXPECT_EQ(DetectOsIndex(), env.OsIndex);
  // The test prefix has one fixed drive (C:); Z: maps the host root and is never chosen.
  std::wstring work = env.WorkFolder();
  EXPECT_EQ(std::wstring(1, env.SystemDrive) + L":\\VRLN", work);
  EXPECT_EQ(work[0], env.WorkDrive);
  EXPECT_EQ(work + L"\\BackSystem", env.SystemBackupFolder);
  EXPECT_EQ(work + L"\\BackSystem\\BAKSYS.GHO", env.DefaultSystemImagePath);
  EXPECT_EQ(work + L"\\VorlaneBak", env.DataBackupFolder);
  EXPECT_EQ(work + L"\\Download", env.DownloadFolder);
  for (const std::wstring& f : {env.SystemBackupFolder, env.DataBackupFolder, env.DownloadFolder})
    EXPECT_TRUE(PathIsDirectoryW(f.c_str())) << "missing folder";
  // The tool folder is the short path of Templates: no blanks, and it exists.
  ASSERT_FALSE(env.ToolFolder.empty());
  EXPECT_EQ(std::wstring::npos, env.ToolFolder.find(L' '));
  EXPECT_TRUE(PathIsDirectoryW(env.ToolFolder.c_str()));
}

TEST(InitWorkPaths, SecondStartKeepsTheWorkingFolder) {
  InitWorkPaths();
  std::wstring first = TheEnvironment.WorkFolder();
  InitWorkPaths();
  EXPECT_EQ(first, TheEnvironment.WorkFolder());
}

TEST(GetSpecialFolderShortPath, ResolvesOrLeavesTheBufferAlone) {
  wchar_t buf[260] = L"untouched";
  ASSERT_TRUE(GetSpecialFolderShortPath(buf, CSIDL_PERSONAL));
  EXPECT_TRUE(PathIsDirectoryW(buf));
  wchar_t shortForm[260];
  ASSERT_GT(GetShortPathNameW(buf, shortForm, 260), 0u);
  EXPECT_STREQ(shortForm, buf);
  wchar_t none[260] = L"untouched";
  EXPECT_FALSE(GetSpecialFolderShortPath(none, 0x7F));  // no such folder id
  EXPECT_STREQ(L"untouched", none);
}

TEST(Environment, WorkFolderRejectsPathsThatDoNotFit) {
  Environment env;
  EXPECT_TRUE(env.SetWorkFolder(L"D:\\Backup"));
  EXPECT_FALSE(env.SetWorkFolder(std::wstring(260, L'x')));
  EXPECT_EQ(L"D:\\Backup", env.WorkFolder());
  EXPECT_TRUE(env.SetWorkFolder(std::wstring(259, L'y')));
}

}  // namespace
