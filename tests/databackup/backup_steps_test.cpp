// Backup and restore steps on real folders: layout, replacement of the previous copy, the Documents rules,
// the index file, and what happens when a backup cannot be completed.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>

#include "databackup/backup_steps.h"
#include "test_folders.h"

namespace {

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
  return s;
}

BackupLayout LayoutFor(const std::wstring& root) {
  BackupLayout layout;
  EXPECT_TRUE(BuildBackupLayout(root, layout));
  return layout;
}

TEST(BackupLayout, PathsUnderTheRoot) {
  BackupLayout l = LayoutFor(L"D:\\VRLN");
  EXPECT_EQ(l.backupFolder, L"D:\\VRLN\\VorlaneBak");
  EXPECT_EQ(l.indexFile, L"D:\\VRLN\\VorlaneBak\\backups.ini");
  EXPECT_EQ(l.Copy(UserFolder::Documents), L"D:\\VRLN\\VorlaneBak\\我的文档");
  EXPECT_EQ(l.Copy(UserFolder::Favorites), L"D:\\VRLN\\VorlaneBak\\收藏夹");
  EXPECT_EQ(l.Copy(UserFolder::Desktop), L"D:\\VRLN\\VorlaneBak\\桌面");
  for (UserFolder f : kUserFolders) {
    EXPECT_LE(l.NewCopy(f).size(), l.Copy(f).size());
    EXPECT_NE(l.NewCopy(f), l.Copy(f));
    EXPECT_NE(l.OldCopy(f), l.Copy(f));
  }
}

TEST(BackupLayout, RootThatDoesNotFit) {
  BackupLayout l;
  EXPECT_TRUE(BuildBackupLayout(std::wstring(236, L'r'), l));
  EXPECT_FALSE(BuildBackupLayout(std::wstring(237, L'r'), l));
}

// The test runs with TZ=Asia/Shanghai (UTC+8, no daylight saving).
TEST(FormatBackupTimestamp, LocalTimeInTheIndexPattern) {
  const struct {
    int64_t time;
    const wchar_t* text;
  } cases[] = {
      {1425823509, L"2015/03/08 22:05:09"},
      {0, L"1970/01/01 08:00:00"},
      {1704067199, L"2024/01/01 07:59:59"},
      {-1, L""},
      {INT64_MAX, L""},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatBackupTimestamp(c.time), c.text) << c.time;
}

class BackupSteps : public ::testing::Test {
 protected:
  ScratchFolder area;
  std::wstring root = area / L"VRLN";
  BackupLayout layout = LayoutFor(root);
  std::wstring user = area / L"user";

  bool Backup(UserFolder which, CopyStats& stats, const std::wstring& favorites = L"") {
    return BackupFolderInto(which, user, favorites, layout, stats);
  }
  void ExpectNoLeftovers(UserFolder which) {
    EXPECT_FALSE(IsDir(layout.NewCopy(which)));
    EXPECT_FALSE(IsDir(layout.OldCopy(which)));
  }
};

TEST_F(BackupSteps, SecondBackupReplacesTheFirst) {
  WriteTextFile(user + L"\\keep.txt", "v1");
  WriteTextFile(user + L"\\gone.txt", "deleted later");
  WriteTextFile(user + L"\\sub\\gone-too.txt", "deleted later");
  // Read-only, hidden and system: the previous copy is still removed whole.
  WriteTextFile(user + L"\\sub\\locked-down.ini", "deleted later");
  SetFileAttributesW((user + L"\\sub\\locked-down.ini").c_str(),
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  CopyStats first;
  ASSERT_TRUE(Backup(UserFolder::Desktop, first));
  EXPECT_EQ(first.copiedFiles, 4u);

  DeleteFileW((user + L"\\gone.txt").c_str());
  RemoveTree(user + L"\\sub");
  WriteTextFile(user + L"\\keep.txt", "v2");
  WriteTextFile(user + L"\\new.txt", "new");
  CopyStats second;
  ASSERT_TRUE(Backup(UserFolder::Desktop, second));
  std::map<std::wstring, std::string> expected = {{L"keep.txt", "v2"}, {L"new.txt", "new"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Desktop)), expected);
  EXPECT_EQ(second.failedFiles, 0u);
  ExpectNoLeftovers(UserFolder::Desktop);
}

TEST_F(BackupSteps, IndexSectionsAndTimestamps) {
  WriteTextFile(user + L"\\a.txt", "a");
  CopyStats stats;
  ASSERT_TRUE(Backup(UserFolder::Favorites, stats));
  EXPECT_EQ(IniValue(layout.indexFile, L"Documents", L"LastBack"), L"<none>");
  EXPECT_EQ(IniValue(layout.indexFile, L"Desktop", L"LastBack"), L"<none>");
  ASSERT_TRUE(Backup(UserFolder::Documents, stats));
  ASSERT_TRUE(Backup(UserFolder::Desktop, stats));
  std::wregex pattern(L"\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}");
  for (const wchar_t* section : {L"Documents", L"Favorite", L"Desktop"}) {
    std::wstring value = IniValue(layout.indexFile, section, L"LastBack");
    EXPECT_TRUE(std::regex_match(value, pattern)) << Narrow(section) << ": " << Narrow(value);
  }
  // The value is the time the backup ended, within a few seconds of now.
  std::wstring now = FormatBackupTimestamp(CurrentTime());
  EXPECT_EQ(IniValue(layout.indexFile, L"Desktop", L"LastBack").substr(0, 14), now.substr(0, 14));
  EXPECT_EQ(IniValue(layout.indexFile, L"Favorites", L"LastBack"), L"<none>");
}

TEST_F(BackupSteps, DocumentsSkipsTopLevelDotNamesAndFavorites) {
  WriteTextFile(user + L"\\report.txt", "report");
  WriteTextFile(user + L"\\.secret", "top-level dot file");
  WriteTextFile(user + L"\\.cache\\x.txt", "top-level dot folder");
  WriteTextFile(user + L"\\proj\\.git-like", "dot one level deeper");
  WriteTextFile(user + L"\\Favorites\\link.url", "favourite");
  // The user folders come resolved to short paths, and the listing gives long names.
  std::wstring favorites = ShortPath(user + L"\\Favorites");
  CopyStats stats;
  ASSERT_TRUE(BackupFolderInto(UserFolder::Documents, ShortPath(user), favorites, layout, stats));
  std::map<std::wstring, std::string> expected = {
      {L"report.txt", "report"}, {L"proj\\", ""}, {L"proj\\.git-like", "dot one level deeper"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Documents)), expected);
  EXPECT_EQ(stats.copiedFiles, 2u);
  EXPECT_EQ(stats.failedFiles, 0u);
}

TEST_F(BackupSteps, ChineseAndLongNames) {
  std::wstring longName = std::wstring(120, L'长') + L".doc";
  WriteTextFile(user + L"\\照片\\2015 春节\\全家福 (1).jpg", "photo");
  WriteTextFile(user + L"\\" + longName, "long");
  CopyStats stats;
  ASSERT_TRUE(Backup(UserFolder::Desktop, stats));
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Desktop)), TreeOf(user));
  EXPECT_EQ(stats.copiedFiles, 2u);
}

// A restore replaces same-named files whose content differs, but keeps each replaced version, byte for byte,
// under the dated folder with the same relative path; identical files are left alone; nothing is deleted.
TEST_F(BackupSteps, RestoreKeepsWhatItReplaces) {
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 7) & 0xFF);
  WriteTextFile(user + L"\\a.txt", "backed up a");
  WriteTextFile(user + L"\\.top", "top-level dot");
  WriteTextFile(user + L"\\sub\\.deep", "deeper dot");
  WriteTextFile(user + L"\\sub\\b.txt", "backed up b");
  WriteTextFile(user + L"\\sub\\same.bin", binary);
  WriteTextFile(user + L"\\sub\\big.bin", binary);
  CopyStats stats;
  ASSERT_TRUE(Backup(UserFolder::Documents, stats));
  // Put the top-level dot file into the copy by hand: a restore leaves it out too.
  WriteTextFile(layout.Copy(UserFolder::Documents) + L"\\.top", "in the copy");

  std::wstring target = area / L"restored";
  std::string changedBig = binary;
  changedBig[65536 + 3] = 'x';  // differs only in the second chunk
  WriteTextFile(target + L"\\a.txt", "changed a");
  WriteTextFile(target + L"\\mine.txt", "not in the backup");
  WriteTextFile(target + L"\\sub\\other.txt", "not in the backup either");
  WriteTextFile(target + L"\\sub\\same.bin", binary);
  WriteTextFile(target + L"\\sub\\big.bin", changedBig);
  SetFileAttributesW((target + L"\\sub\\big.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  CopyStats restored;
  ASSERT_TRUE(RestoreFolderFrom(UserFolder::Documents, layout, target, L"20150308-140509", restored));
  std::map<std::wstring, std::string> expected = {
      {L"a.txt", "backed up a"},     {L"mine.txt", "not in the backup"}, {L"sub\\", ""},
      {L"sub\\.deep", "deeper dot"}, {L"sub\\b.txt", "backed up b"},     {L"sub\\other.txt", "not in the backup either"},
      {L"sub\\same.bin", binary},   {L"sub\\big.bin", binary}};
  EXPECT_EQ(TreeOf(target), expected);
  std::wstring keep = layout.backupFolder + L"\\还原前\\20150308-140509";
  std::map<std::wstring, std::string> kept = {
      {L"我的文档\\", ""}, {L"我的文档\\a.txt", "changed a"}, {L"我的文档\\sub\\", ""}, {L"我的文档\\sub\\big.bin", changedBig}};
  EXPECT_EQ(TreeOf(keep), kept);
  EXPECT_EQ(RestoreKeepFolder(layout, L"20150308-140509"), keep);
  EXPECT_EQ(restored.savedFiles, 2u);
  EXPECT_EQ(restored.savedFolder, keep);
  EXPECT_EQ(restored.identicalFiles, 1u);
  EXPECT_EQ(restored.copiedFiles, 4u);  // a.txt, .deep, b.txt, big.bin
  EXPECT_EQ(restored.failedFiles, 0u);

  // A second restore finds everything identical: nothing copied, nothing kept.
  CopyStats again;
  ASSERT_TRUE(RestoreFolderFrom(UserFolder::Documents, layout, target, L"20150308-140510", again));
  EXPECT_EQ(again.copiedFiles, 0u);
  EXPECT_EQ(again.savedFiles, 0u);
  EXPECT_EQ(again.identicalFiles, 5u);
  EXPECT_FALSE(IsDir(layout.backupFolder + L"\\还原前\\20150308-140510"));
}

// A changed file that cannot be moved aside (held open without sharing) is not replaced.
TEST_F(BackupSteps, RestoreNeverReplacesWhatItCannotKeep) {
  WriteTextFile(user + L"\\a.txt", "backed up a");
  CopyStats stats;
  ASSERT_TRUE(Backup(UserFolder::Desktop, stats));
  std::wstring target = area / L"restored";
  WriteTextFile(target + L"\\a.txt", "changed a");
  HANDLE held = CreateFileW((target + L"\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  CopyStats restored;
  RestoreFolderFrom(UserFolder::Desktop, layout, target, L"20150308-140509", restored);
  CloseHandle(held);
  EXPECT_EQ(ReadTextFile(target + L"\\a.txt"), "changed a");
  EXPECT_EQ(restored.failedFiles, 1u);
  EXPECT_EQ(restored.savedFiles, 0u);
}

TEST(RestoreStamp, LocalTimeAsFolderName) {
  EXPECT_EQ(RestoreStamp(1425823509), L"20150308-220509");  // TZ=Asia/Shanghai
  EXPECT_EQ(RestoreStamp(0), L"19700101-080000");
}

TEST_F(BackupSteps, RestoreWithoutABackupCopiesNothing) {
  WriteTextFile(user + L"\\mine.txt", "mine");
  CopyStats stats;
  for (UserFolder f : kUserFolders) EXPECT_FALSE(RestoreFolderFrom(f, layout, user, L"20150308-140509", stats));
  EXPECT_EQ(stats.copiedFiles + stats.failedFiles, 0u);
  EXPECT_EQ(ReadTextFile(user + L"\\mine.txt"), "mine");
}

// A destination folder that cannot be created stops that tree only; the other trees are restored.
TEST_F(BackupSteps, RestoreTreeThatCannotBeCreatedStopsThatTreeOnly) {
  WriteTextFile(user + L"\\A\\a.txt", "a");
  WriteTextFile(user + L"\\B\\b1.txt", "b1");
  WriteTextFile(user + L"\\B\\sub\\b2.txt", "b2");
  WriteTextFile(user + L"\\C\\c.txt", "c");
  WriteTextFile(user + L"\\top.txt", "top");
  CopyStats stats;
  ASSERT_TRUE(Backup(UserFolder::Documents, stats));
  std::wstring target = area / L"restored";
  WriteTextFile(target + L"\\B", "a file where the folder B would go");
  CopyStats restored;
  RestoreFolderFrom(UserFolder::Documents, layout, target, L"20150308-140509", restored);
  EXPECT_EQ(ReadTextFile(target + L"\\A\\a.txt"), "a");
  EXPECT_EQ(ReadTextFile(target + L"\\C\\c.txt"), "c");
  EXPECT_EQ(ReadTextFile(target + L"\\top.txt"), "top");
  EXPECT_EQ(ReadTextFile(target + L"\\B"), "a file where the folder B would go");
  EXPECT_EQ(restored.copiedFiles, 3u);
  EXPECT_EQ(restored.failedFiles, 2u);
}

// When the new copy cannot be made, the previous copy stays whole, its index entry stays, and every file
// counts as not copied.
TEST_F(BackupSteps, BackupThatCannotCompleteKeepsThePreviousCopy) {
  WriteTextFile(user + L"\\a.txt", "v1");
  CopyStats first;
  ASSERT_TRUE(Backup(UserFolder::Desktop, first));
  std::wstring stamp = L"2001/01/01 00:00:00";
  WritePrivateProfileStringW(L"Desktop", L"LastBack", stamp.c_str(), layout.indexFile.c_str());

  WriteTextFile(user + L"\\a.txt", "v2");
  WriteTextFile(user + L"\\b.txt", "b");
  // A file where the new copy's folder would go: the new copy cannot be created.
  WriteTextFile(layout.NewCopy(UserFolder::Desktop), "in the way");
  CopyStats second;
  EXPECT_FALSE(Backup(UserFolder::Desktop, second));
  std::map<std::wstring, std::string> old = {{L"a.txt", "v1"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Desktop)), old);
  EXPECT_EQ(second.failedFiles, 2u);
  EXPECT_EQ(IniValue(layout.indexFile, L"Desktop", L"LastBack"), stamp);
}

// A backup interrupted between its two renames left the previous copy under its old name: the next backup
// puts it back before anything else, and keeps it when that backup cannot complete either.
TEST_F(BackupSteps, PreviousCopyLeftAsideIsRecovered) {
  WriteTextFile(layout.OldCopy(UserFolder::Favorites) + L"\\fav.url", "old favourite");
  WriteTextFile(layout.NewCopy(UserFolder::Favorites), "in the way");
  WriteTextFile(user + L"\\fav.url", "new favourite");
  CopyStats stats;
  EXPECT_FALSE(Backup(UserFolder::Favorites, stats));
  std::map<std::wstring, std::string> old = {{L"fav.url", "old favourite"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Favorites)), old);
  EXPECT_FALSE(IsDir(layout.OldCopy(UserFolder::Favorites)));

  DeleteFileW(layout.NewCopy(UserFolder::Favorites).c_str());
  ASSERT_TRUE(Backup(UserFolder::Favorites, stats));
  std::map<std::wstring, std::string> fresh = {{L"fav.url", "new favourite"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Favorites)), fresh);
  ExpectNoLeftovers(UserFolder::Favorites);
}

// A new copy left behind by an interrupted backup is not taken for a complete one.
TEST_F(BackupSteps, LeftoverNewCopyIsDiscarded) {
  WriteTextFile(layout.NewCopy(UserFolder::Desktop) + L"\\stale.txt", "from an interrupted run");
  WriteTextFile(user + L"\\a.txt", "a");
  CopyStats stats;
  ASSERT_TRUE(Backup(UserFolder::Desktop, stats));
  std::map<std::wstring, std::string> expected = {{L"a.txt", "a"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Desktop)), expected);
  ExpectNoLeftovers(UserFolder::Desktop);
}

// A backup folder picked inside the folder being backed up is left out: no copy of itself, no copies of
// earlier backups, in either spelling of the user's folder.
TEST_F(BackupSteps, BackupFolderInsideTheUserFolderIsLeftOut) {
  WriteTextFile(user + L"\\a.txt", "a");
  WriteTextFile(user + L"\\My Projects\\b.txt", "b");
  const struct {
    UserFolder which;
    std::wstring root;
    std::wstring rootInCopy;  // the picked folder itself stays, without the backup folder inside it
  } cases[] = {
      {UserFolder::Desktop, user + L"\\My Projects\\Backups Here", L"My Projects\\Backups Here\\"},
      {UserFolder::Documents, user + L"\\Backups Here", L"Backups Here\\"},
  };
  for (const auto& c : cases) {
    BackupLayout inside = LayoutFor(c.root);
    for (int run = 0; run < 2; ++run) {
      CopyStats stats;
      ASSERT_TRUE(BackupFolderInto(c.which, ShortPath(user), L"", inside, stats));
      std::map<std::wstring, std::string> expected = {
          {L"a.txt", "a"}, {L"My Projects\\", ""}, {L"My Projects\\b.txt", "b"}};
      expected[c.rootInCopy] = "";
      EXPECT_EQ(TreeOf(inside.Copy(c.which)), expected) << "run " << run;
      EXPECT_EQ(stats.failedFiles, 0u);
    }
    RemoveTree(c.root);
  }
}

TEST_F(BackupSteps, UserFolderThatCannotBeReadChangesNothing) {
  WriteTextFile(area / L"keep\\a.txt", "a");
  user = area / L"keep";
  CopyStats stats;
  ASSERT_TRUE(Backup(UserFolder::Documents, stats));
  user = area / L"missing";
  EXPECT_FALSE(Backup(UserFolder::Documents, stats));
  std::map<std::wstring, std::string> expected = {{L"a.txt", "a"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Documents)), expected);
}

// The steps the workers run resolve the user's folders through the shell (here pointed at test folders).
TEST_F(BackupSteps, StepsResolveTheUserFolders) {
  const TestUserFolders& folders = UserFolders();
  folders.Empty();
  const std::wstring &documents = folders.documents, &favorites = folders.favorites, &desktop = folders.desktop;
  WriteTextFile(documents + L"\\doc.txt", "doc");
  WriteTextFile(favorites + L"\\site.url", "url");
  WriteTextFile(desktop + L"\\icon.lnk", "lnk");
  CopyStats stats;
  ASSERT_TRUE(BackupDocuments(root, stats));
  ASSERT_TRUE(BackupFavorites(root, stats));
  ASSERT_TRUE(BackupDesktop(root, stats));
  std::map<std::wstring, std::string> docs = {{L"doc.txt", "doc"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Documents)), docs) << "Favorites inside Documents is stored once";
  std::map<std::wstring, std::string> favs = {{L"site.url", "url"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Favorites)), favs);
  std::map<std::wstring, std::string> desk = {{L"icon.lnk", "lnk"}};
  EXPECT_EQ(TreeOf(layout.Copy(UserFolder::Desktop)), desk);

  DeleteFileW((documents + L"\\doc.txt").c_str());
  DeleteFileW((favorites + L"\\site.url").c_str());
  DeleteFileW((desktop + L"\\icon.lnk").c_str());
  ASSERT_TRUE(RestoreDocuments(root, L"20150308-140509", stats));
  ASSERT_TRUE(RestoreFavorites(root, L"20150308-140509", stats));
  ASSERT_TRUE(RestoreDesktop(root, L"20150308-140509", stats));
  EXPECT_EQ(ReadTextFile(documents + L"\\doc.txt"), "doc");
  EXPECT_EQ(ReadTextFile(favorites + L"\\site.url"), "url");
  EXPECT_EQ(ReadTextFile(desktop + L"\\icon.lnk"), "lnk");
  EXPECT_EQ(stats.failedFiles, 0u);
}

}  // namespace
