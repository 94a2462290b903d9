// The tree copy on real folders: what it copies, what it counts, where it stops.
#include <gtest/gtest.h>
#include <windows.h>

#include "databackup/backup_steps.h"
#include "databackup/copy_tree.h"
#include "test_folders.h"

namespace {

const std::wstring kChineseName = L"报告 2015 年度总结（终稿）.txt";
const std::wstring kLongName = std::wstring(150, L'n') + L".dat";

void MakeSampleTree(const std::wstring& root) {
  WriteTextFile(root + L"\\top.txt", "top");
  WriteTextFile(root + L"\\.dotfile", "dot at the top");
  WriteTextFile(root + L"\\sub\\.hidden-config", "dot below");
  WriteTextFile(root + L"\\sub\\deeper\\" + kChineseName, "中文内容");
  WriteTextFile(root + L"\\sub\\" + kLongName, "long");
  WriteTextFile(root + L"\\hs.sys", "hidden and system");
  SetFileAttributesW((root + L"\\hs.sys").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeDirs(root + L"\\empty");
}

TEST(CopyDirectoryTree, CopiesEveryFileAtEveryLevel) {
  ScratchFolder area;
  MakeSampleTree(area / L"src");
  CopyStats stats;
  EXPECT_TRUE(CopyDirectoryTree(area / L"src", area / L"dst", false, stats));
  EXPECT_EQ(TreeOf(area / L"src"), TreeOf(area / L"dst"));
  EXPECT_EQ(stats.copiedFiles, 6u);
  EXPECT_EQ(stats.failedFiles, 0u);
  DWORD attributes = GetFileAttributesW((area / L"dst\\hs.sys").c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_SYSTEM);
}

TEST(CopyDirectoryTree, OverwritesSameNamedFilesAndLeavesOthers) {
  ScratchFolder area;
  WriteTextFile(area / L"src\\a.txt", "new a");
  WriteTextFile(area / L"dst\\a.txt", "old a");
  WriteTextFile(area / L"dst\\mine.txt", "mine");
  CopyStats stats;
  EXPECT_TRUE(CopyDirectoryTree(area / L"src\\", area / L"dst\\", false, stats));
  EXPECT_EQ(ReadTextFile(area / L"dst\\a.txt"), "new a");
  EXPECT_EQ(ReadTextFile(area / L"dst\\mine.txt"), "mine");
}

TEST(CopyDirectoryTree, Results) {
  ScratchFolder area;
  WriteTextFile(area / L"src\\a.txt", "a");
  WriteTextFile(area / L"src\\sub\\b.txt", "b");
  const struct {
    const char* what;
    std::wstring source, destination;
    bool result;
    uint32_t copied, failed;
  } cases[] = {
      {"missing source", area / L"nothing", area / L"d1", false, 0, 0},
      {"empty source", L"", area / L"d2", false, 0, 0},
      {"source and destination the same folder", area / L"src", area / L"src\\", true, 0, 0},
      {"destination that cannot be created counts every file", area / L"src", area / L"no\\such\\d3", false, 0, 2},
      {"ordinary copy", area / L"src", area / L"d4", true, 2, 0},
  };
  for (const auto& c : cases) {
    CopyStats stats;
    EXPECT_EQ(CopyDirectoryTree(c.source, c.destination, false, stats), c.result) << c.what;
    EXPECT_EQ(stats.copiedFiles, c.copied) << c.what;
    EXPECT_EQ(stats.failedFiles, c.failed) << c.what;
  }
  EXPECT_FALSE(IsDir(area / L"d1"));
  EXPECT_FALSE(IsDir(area / L"no"));
}

TEST(CopyDirectoryTree, LockedFileIsCountedAndTheRestCopied) {
  ScratchFolder area;
  WriteTextFile(area / L"src\\a.txt", "a");
  WriteTextFile(area / L"src\\locked.txt", "locked");
  WriteTextFile(area / L"src\\z\\c.txt", "c");
  HANDLE lock = CreateFileW((area / L"src\\locked.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  CopyStats stats;
  EXPECT_TRUE(CopyDirectoryTree(area / L"src", area / L"dst", false, stats));
  CloseHandle(lock);
  EXPECT_EQ(stats.copiedFiles, 2u);
  EXPECT_EQ(stats.failedFiles, 1u);
  EXPECT_EQ(ReadTextFile(area / L"dst\\z\\c.txt"), "c");
  EXPECT_FALSE(IsFile(area / L"dst\\locked.txt"));
}

// A destination path longer than the system takes is counted as failed; nothing is written under a cut name.
TEST(CopyDirectoryTree, PathsThatDoNotFitAreCountedNeverCut) {
  ScratchFolder area;
  std::wstring name100(100, L'f');
  WriteTextFile(area / L"s\\short.txt", "short");
  WriteTextFile(area / (L"s\\" + name100), "long name");
  WriteTextFile(area / (L"s\\" + name100.substr(0, 90) + L"\\inner.txt"), "in a long folder");
  std::wstring destination = area / std::wstring(169 - area.Path().size(), L'd');
  ASSERT_EQ(destination.size(), 170u);
  CopyStats stats;
  EXPECT_TRUE(CopyDirectoryTree(area / L"s", destination, false, stats));
  EXPECT_EQ(stats.copiedFiles, 1u);
  EXPECT_EQ(stats.failedFiles, 2u);
  std::map<std::wstring, std::string> expected = {{L"short.txt", "short"}};
  EXPECT_EQ(TreeOf(destination), expected);
}

TEST(CopyDirectoryTree, CountFilesInTree) {
  ScratchFolder area;
  MakeSampleTree(area / L"src");
  EXPECT_EQ(CountFilesInTree(area / L"src"), 6u);
  EXPECT_EQ(CountFilesInTree(area / L"src\\empty"), 0u);
  EXPECT_EQ(CountFilesInTree(area / L"missing"), 0u);
}

// Only the destination makes a copy incomplete: a full or write-protected medium, or a destination folder
// that is gone. Errors with the destination folder still there belong to the source file.
TEST(CopyDirectoryTree, FailuresBlamedOnTheDestinationOnly) {
  const struct {
    DWORD error;
    bool destinationPresent;
    FileCopyResult result;
  } cases[] = {
      {ERROR_DISK_FULL, true, FileCopyResult::TargetFault},
      {ERROR_HANDLE_DISK_FULL, true, FileCopyResult::TargetFault},
      {ERROR_WRITE_PROTECT, true, FileCopyResult::TargetFault},
      {ERROR_NOT_ENOUGH_QUOTA, true, FileCopyResult::TargetFault},
      {ERROR_WRITE_FAULT, true, FileCopyResult::TargetFault},
      // A source that vanished or cannot be read while the destination is fine.
      {ERROR_PATH_NOT_FOUND, true, FileCopyResult::Skipped},
      {ERROR_FILE_NOT_FOUND, true, FileCopyResult::Skipped},
      {ERROR_SHARING_VIOLATION, true, FileCopyResult::Skipped},
      {ERROR_LOCK_VIOLATION, true, FileCopyResult::Skipped},
      {ERROR_ACCESS_DENIED, true, FileCopyResult::Skipped},
      {ERROR_NOT_READY, true, FileCopyResult::Skipped},
      {ERROR_IO_DEVICE, true, FileCopyResult::Skipped},
      {ERROR_FILENAME_EXCED_RANGE, true, FileCopyResult::Skipped},
      // The destination folder went away (drive removed, share dropped): nothing more can be written.
      {ERROR_PATH_NOT_FOUND, false, FileCopyResult::TargetFault},
      {ERROR_NOT_READY, false, FileCopyResult::TargetFault},
      {ERROR_DEV_NOT_EXIST, false, FileCopyResult::TargetFault},
      {ERROR_NETNAME_DELETED, false, FileCopyResult::TargetFault},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ClassifyCopyFailure(c.error, c.destinationPresent), c.result) << c.error << " " << c.destinationPresent;
}

TEST(ChildPath, OneBackslashBetweenFolderAndName) {
  const struct {
    const wchar_t* folder;
    const wchar_t* name;
    const wchar_t* path;
  } cases[] = {
      {L"C:\\Docs", L"Favorites", L"C:\\Docs\\Favorites"},
      {L"C:\\Docs\\", L"Favorites", L"C:\\Docs\\Favorites"},
      {L"D:\\", L"Favorites", L"D:\\Favorites"},
      {L"\\\\server\\share\\Docs\\", L"x", L"\\\\server\\share\\Docs\\x"},
  };
  for (const auto& c : cases) {
    std::wstring out;
    EXPECT_TRUE(ChildPath(out, c.folder, c.name));
    EXPECT_EQ(out, c.path);
  }
  EXPECT_EQ(WithoutTrailingBackslash(L"D:\\"), L"D:\\");
  EXPECT_EQ(WithoutTrailingBackslash(L"D:\\Docs\\\\"), L"D:\\Docs");
  EXPECT_EQ(WithoutTrailingBackslash(L"D:\\Docs"), L"D:\\Docs");
}

TEST(ConcatPath, FitsOrLeavesTheOutputAlone) {
  std::wstring out = L"unchanged";
  EXPECT_FALSE(ConcatPath(out, std::wstring(200, L'a'), std::wstring(60, L'b')));
  EXPECT_EQ(out, L"unchanged");
  EXPECT_TRUE(ConcatPath(out, std::wstring(200, L'a'), std::wstring(59, L'b')));
  EXPECT_EQ(out.size(), 259u);
}

}  // namespace
