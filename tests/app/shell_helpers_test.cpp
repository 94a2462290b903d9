// Path rules of the shell helpers.
#include <gtest/gtest.h>

#include "app/shell_helpers.h"

TEST(ShellHelpers, FolderOfPathIsTheTextBeforeTheLastBackslash) {
  EXPECT_EQ(FolderOfPath(L"D:\\VRLN\\Download\\win7.GHO"), L"D:\\VRLN\\Download");
  EXPECT_EQ(FolderOfPath(L"D:\\win7.GHO"), L"D:");
  EXPECT_EQ(FolderOfPath(L"win7.GHO"), L"");
  EXPECT_EQ(FolderOfPath(L""), L"");
}

TEST(ShellHelpers, ExplorerGetsTheFolderInQuotes) {
  EXPECT_EQ(ExplorerParameters(L"D:\\VRLN\\Download"), L"/e, \"D:\\VRLN\\Download\"");
}

TEST(ShellHelpers, BackupImagePathInAChosenFolder) {
  EXPECT_EQ(BackupImagePathIn(L"D:\\Backup"), L"D:\\Backup\\BAKSYS.GHO");
  EXPECT_EQ(BackupImagePathIn(L"D:\\"), L"D:\\BAKSYS.GHO");  // a drive root gets no second backslash
  EXPECT_EQ(BackupImagePathIn(std::wstring(250, L'a')), L"");  // would not fit 260 units
}
