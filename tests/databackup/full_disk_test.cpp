// A backup that runs out of room on the backup drive keeps the previous copy. The drive is a small file
// system that tests/databackup/full_disk.sh mounts and names in VORLANE_SMALL_DISK; without it the case
// is skipped.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "databackup/backup_steps.h"
#include "test_folders.h"

namespace {

TEST(FullTarget, BackupOnAFullDriveKeepsThePreviousCopy) {
  const char* disk = std::getenv("VORLANE_SMALL_DISK");
  if (disk == nullptr || *disk == '\0') GTEST_SKIP() << "no small drive mounted (run through full_disk.sh)";
  std::wstring root;
  for (const char* p = disk; *p; ++p) root += static_cast<wchar_t>(*p);
  root += L"\\VRLN";
  BackupLayout layout;
  ASSERT_TRUE(BuildBackupLayout(root, layout));
  ScratchFolder area;
  std::wstring user = area / L"Desk";
  WriteTextFile(user + L"\\a.txt", std::string(10000, 'a'));
  CopyStats first;
  ASSERT_TRUE(BackupFolderInto(UserFolder::Desktop, user, L"", layout, first));
  std::wstring stamp = IniValue(layout.indexFile, L"Desktop", L"LastBack");

  WriteTextFile(user + L"\\a.txt", std::string(10000, 'b'));
  WriteTextFile(user + L"\\big.bin", std::string(3 << 20, 'x'));
  WriteTextFile(user + L"\\c.txt", "c");
  CopyStats second;
  EXPECT_FALSE(BackupFolderInto(UserFolder::Desktop, user, L"", layout, second));
  std::map<std::wstring, std::string> old = {{L"a.txt", std::string(10000, 'a')}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Desktop)), old);
  EXPECT_FALSE(IsDir(layout.NewCopy(UserFolder::Desktop)));
  EXPECT_EQ(second.failedFiles, 3u);
  EXPECT_EQ(second.copiedFiles, 0u);
  EXPECT_EQ(IniValue(layout.indexFile, L"Desktop", L"LastBack"), stamp);
  RemoveTree(root);
}

}  // namespace
