#include "databackup/backup_steps.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <ctime>
#include <cwchar>
#include <functional>
#include <vector>

#include "base/folders.h"
#include "base/text_format.h"
#include "base/unique_handle.h"
#include "boot/command_runner.h"

CIniFile TheBackupIndex;

namespace {

constexpr wchar_t kBackupFolderName[] = L"VorlaneBak";
constexpr wchar_t kIndexFileName[] = L"backups.ini";
constexpr wchar_t kIndexKey[] = L"LastBack";
// Under the backup folder: where a restore keeps the files it replaced, one dated folder per restore.
constexpr wchar_t kRestoreKeepFolderName[] = L"还原前";

// A new copy is written under a name no longer than the copy's own ("~" and all but the last character),
// so that every path that fits in the new copy still fits once it is renamed.
constexpr const wchar_t* kNewCopyNames[] = {L"~我的文", L"~收藏", L"~桌"};
constexpr const wchar_t* kOldCopySuffix = L".old";

// Seconds between 1601-01-01 (file times) and 1970-01-01.
constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000LL;

int Index(UserFolder f) { return static_cast<int>(f); }

bool IsFolder(const std::wstring& path) { return !path.empty() && PathIsDirectoryW(path.c_str()); }

// True when folder\name names the same folder as other, in its long or its short (8.3) spelling; the user
// folders are resolved to short paths while listings give long names. Trailing backslashes do not count
// (a folder at a drive root, or a path the shell gives with one).
bool IsSameFolder(const std::wstring& folder, const WIN32_FIND_DATAW& entry, const std::wstring& other) {
  if (other.empty()) return false;
  std::wstring plainOther = WithoutTrailingBackslash(other);
  for (const wchar_t* name : {entry.cFileName, entry.cAlternateFileName}) {
    if (name[0] == L'\0') continue;
    std::wstring candidate;
    if (ChildPath(candidate, folder, name) && _wcsicmp(candidate.c_str(), plainOther.c_str()) == 0) return true;
  }
  return false;
}

// Visits the top-level entries of a Documents folder (or of its copy) that are copied: every name that does
// not begin with a dot, except the folder skip and links (counted in stats). from is empty when
// folder\name does not fit. False when the folder cannot be listed.
using TopLevelVisitor = std::function<void(const WIN32_FIND_DATAW& entry, const std::wstring& from)>;
bool ForEachTopLevelEntry(const std::wstring& folder, const std::wstring& skip, CopyStats& stats,
                          const TopLevelVisitor& visit) {
  std::wstring pattern;
  if (!ChildPath(pattern, folder, L"*.*")) return false;
  WIN32_FIND_DATAW entry;
  UniqueFindHandle find(FindFirstFileW(pattern.c_str(), &entry));
  if (!find) return false;
  do {
    if (entry.cFileName[0] == L'.') continue;
    if (IsLinkEntry(entry)) {
      if (!IsSystemLinkEntry(entry)) ++stats.skippedLinks;
      continue;
    }
    bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory && IsSameFolder(folder, entry, skip)) continue;
    std::wstring from;
    if (!ChildPath(from, folder, entry.cFileName)) from.clear();
    visit(entry, from);
  } while (FindNextFileW(find.Get(), &entry));
  return true;
}

uint32_t CountEntry(const WIN32_FIND_DATAW& entry, const std::wstring& from) {
  if (from.empty() || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;
  return CountFilesInTree(from);
}

// Copies one top-level entry; false when the destination failed and the copy cannot go on.
bool CopyEntry(const WIN32_FIND_DATAW& entry, const std::wstring& from, const std::wstring& toFolder,
               const CopyOptions& options, CopyStats& stats) {
  std::wstring to;
  if (from.empty() || !ChildPath(to, toFolder, entry.cFileName)) {
    stats.failedFiles += CountEntry(entry, from);
    return true;
  }
  bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  CopyOptions child = OptionsForEntry(options, entry.cFileName, folder);
  if (folder) {
    if (options.exclusion.Excludes(from)) return true;
    if (CopyDirectoryTree(from, to, child, stats)) return true;
    if (IsFolder(from)) return false;
    // The folder vanished while the copy ran: the source's matter, counted like any unreadable item.
    ++stats.failedFiles;
    return true;
  }
  return CopyOneFile(from, to, child, stats) != FileCopyResult::TargetFault;
}

// Files a backup of the folder would copy.
uint32_t CountBackupFiles(UserFolder which, const std::wstring& userFolder, const std::wstring& favorites) {
  if (which != UserFolder::Documents) return CountFilesInTree(userFolder);
  uint32_t count = 0;
  CopyStats ignored;
  ForEachTopLevelEntry(userFolder, favorites, ignored, [&](const WIN32_FIND_DATAW& entry, const std::wstring& from) {
    count += CountEntry(entry, from);
  });
  return count;
}

// Copies the user's folder into fresh (which exists and is empty); true when every part of it was copied
// that could be, false when the destination failed or the folder could not be listed.
bool CopyForBackup(UserFolder which, const std::wstring& userFolder, const std::wstring& favorites,
                   const std::wstring& fresh, const CopyOptions& options, CopyStats& stats) {
  if (which != UserFolder::Documents) return CopyDirectoryTree(userFolder, fresh, options, stats);
  bool complete = true;
  bool listed = ForEachTopLevelEntry(userFolder, favorites, stats,
                                     [&](const WIN32_FIND_DATAW& entry, const std::wstring& from) {
                                       if (!complete) {
                                         stats.failedFiles += CountEntry(entry, from);
                                         return;
                                       }
                                       complete = CopyEntry(entry, from, fresh, options, stats);
                                     });
  return listed && complete;
}

// Files of the previous copy that were moved into a new copy go back when the new copy is thrown away.
void PutBackCarriedFiles(const std::vector<CarriedFile>& carried) {
  for (auto it = carried.rbegin(); it != carried.rend(); ++it) MoveFileW(it->to.c_str(), it->from.c_str());
}

// A backup interrupted between its two renames leaves the previous copy under the old name: put it back,
// or drop it when the new copy did arrive.
void RecoverInterruptedReplace(const std::wstring& copy, const std::wstring& old) {
  if (!IsFolder(old)) return;
  if (IsFolder(copy)) {
    RemoveFolder(old);
  } else {
    MoveFileW(old.c_str(), copy.c_str());
  }
}

// Puts the complete new copy in place of the previous one: rename the previous copy aside, rename the new
// copy in, then remove the previous one. On failure everything is as before.
bool ReplaceCopy(const std::wstring& fresh, const std::wstring& copy, const std::wstring& old) {
  bool hadCopy = IsFolder(copy);
  if (hadCopy && !MoveFileW(copy.c_str(), old.c_str())) return false;
  if (!MoveFileW(fresh.c_str(), copy.c_str())) {
    if (hadCopy) MoveFileW(old.c_str(), copy.c_str());
    return false;
  }
  if (hadCopy) RemoveFolder(old);
  return true;
}

bool ResolveUserFolder(UserFolder which, std::wstring& path) {
  wchar_t buffer[kPathCapacity] = {};
  if (!GetSpecialFolderShortPath(buffer, SpecialFolderId(which))) return false;
  path = WithoutTrailingBackslash(buffer);
  return true;
}

bool BackupStep(UserFolder which, const std::wstring& root, CopyStats& stats) {
  BackupLayout layout;
  std::wstring userFolder, favorites;
  if (!ResolveUserFolder(which, userFolder)) return false;
  if (which == UserFolder::Documents) ResolveUserFolder(UserFolder::Favorites, favorites);
  if (!BuildBackupLayout(root, layout)) {
    stats.failedFiles += CountBackupFiles(which, userFolder, favorites);
    return false;
  }
  return BackupFolderInto(which, userFolder, favorites, layout, stats);
}

bool RestoreStep(UserFolder which, const std::wstring& root, const std::wstring& stamp, CopyStats& stats) {
  BackupLayout layout;
  std::wstring userFolder;
  if (!ResolveUserFolder(which, userFolder) || !BuildBackupLayout(root, layout)) return false;
  return RestoreFolderFrom(which, layout, userFolder, stamp, stats);
}

}  // namespace

const wchar_t* CopyFolderName(UserFolder folder) {
  static const wchar_t* const names[] = {L"我的文档", L"收藏夹", L"桌面"};
  return names[Index(folder)];
}

const wchar_t* IndexSection(UserFolder folder) {
  static const wchar_t* const sections[] = {L"Documents", L"Favorite", L"Desktop"};
  return sections[Index(folder)];
}

int SpecialFolderId(UserFolder folder) {
  static const int ids[] = {CSIDL_PERSONAL, CSIDL_FAVORITES, CSIDL_DESKTOP};
  return ids[Index(folder)];
}

bool BuildBackupLayout(const std::wstring& root, BackupLayout& layout) {
  BackupLayout l;
  if (!JoinPath(l.backupFolder, root, kBackupFolderName)) return false;
  if (!JoinPath(l.indexFile, l.backupFolder, kIndexFileName)) return false;
  for (UserFolder f : kUserFolders) {
    int i = Index(f);
    if (!JoinPath(l.copies[i], l.backupFolder, CopyFolderName(f))) return false;
    if (!JoinPath(l.newCopies[i], l.backupFolder, kNewCopyNames[i])) return false;
    if (!ConcatPath(l.oldCopies[i], l.copies[i], kOldCopySuffix)) return false;
  }
  layout = l;
  return true;
}

std::wstring FormatBackupTimestamp(int64_t time) {
  if (time < 0 || time > (INT64_MAX / kFileTimeUnitsPerSecond) - kUnixEpochInFileTimeSeconds) return L"";
  ULARGE_INTEGER units;
  units.QuadPart = static_cast<uint64_t>((time + kUnixEpochInFileTimeSeconds) * kFileTimeUnitsPerSecond);
  FILETIME utc = {units.LowPart, units.HighPart};
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return L"";
  struct tm parts = {};
  parts.tm_year = st.wYear - 1900;
  parts.tm_mon = st.wMonth - 1;
  parts.tm_mday = st.wDay;
  parts.tm_hour = st.wHour;
  parts.tm_min = st.wMinute;
  parts.tm_sec = st.wSecond;
  parts.tm_wday = st.wDayOfWeek;
  wchar_t text[128];
  if (wcsftime(text, 128, L"%Y/%m/%d %H:%M:%S", &parts) == 0) return L"";
  return text;
}

int64_t CurrentTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER units;
  units.LowPart = now.dwLowDateTime;
  units.HighPart = now.dwHighDateTime;
  return static_cast<int64_t>(units.QuadPart / kFileTimeUnitsPerSecond) - kUnixEpochInFileTimeSeconds;
}

void RemoveFolder(const std::wstring& path) {
  if (path.empty()) return;
  RunHidden(Format(L"\"%s\" /c rd /s /q \"%s\"", SystemProgramPath(L"cmd.exe").c_str(), path.c_str()));
}

bool BackupFolderInto(UserFolder which, const std::wstring& userFolderIn, const std::wstring& favorites,
                      const BackupLayout& layout, CopyStats& stats) {
  const std::wstring userFolder = WithoutTrailingBackslash(userFolderIn);
  const std::wstring& copy = layout.Copy(which);
  const std::wstring& fresh = layout.NewCopy(which);
  RecoverInterruptedReplace(copy, layout.OldCopy(which));
  if (!IsFolder(userFolder)) return false;

  // A new copy left by an earlier interrupted backup is incomplete: start afresh.
  if (IsFolder(fresh)) RemoveFolder(fresh);
  if (IsFolder(fresh) || !CreateFolderWithParents(fresh)) {
    stats.failedFiles += CountBackupFiles(which, userFolder, favorites);
    return false;
  }

  CopyOptions options;
  // The backup folder itself may lie inside the user's folder (a folder picked there): it is left out.
  options.exclusion = FolderExclusion(userFolder, layout.backupFolder);
  // Files that cannot be read keep the version of the previous copy.
  std::vector<CarriedFile> carried;
  if (IsFolder(copy)) options.previous = copy;
  options.carried = &carried;
  CopyStats copied;
  bool complete = CopyForBackup(which, userFolder, favorites, fresh, options, copied);
  if (!complete || !ReplaceCopy(fresh, copy, layout.OldCopy(which))) {
    PutBackCarriedFiles(carried);
    RemoveFolder(fresh);
    stats.failedFiles += copied.failedFiles + copied.copiedFiles + copied.keptPrevious;
    stats.skippedLinks += copied.skippedLinks;
    return false;
  }
  stats.Add(copied);

  TheBackupIndex.SetPath(layout.indexFile);
  TheBackupIndex.WriteString(IndexSection(which), kIndexKey, FormatBackupTimestamp(CurrentTime()));
  return true;
}

std::wstring RestoreStamp(int64_t time) {
  std::wstring text = FormatBackupTimestamp(time);  // "YYYY/MM/DD hh:mm:ss"
  if (text.size() != 19) return L"00000000-000000";
  std::wstring stamp;
  for (wchar_t c : text) {
    if (c >= L'0' && c <= L'9') stamp += c;
    if (stamp.size() == 8 && c == L' ') stamp += L'-';
  }
  return stamp;
}

std::wstring RestoreKeepFolder(const BackupLayout& layout, const std::wstring& stamp) {
  return layout.backupFolder + L"\\" + kRestoreKeepFolderName + L"\\" + stamp;
}

bool RestoreFolderFrom(UserFolder which, const BackupLayout& layout, const std::wstring& userFolderIn,
                       const std::wstring& stamp, CopyStats& stats) {
  const std::wstring userFolder = WithoutTrailingBackslash(userFolderIn);
  const std::wstring& copy = layout.Copy(which);
  if (userFolder.empty() || !IsFolder(copy)) return false;
  // Every file the restore would replace with different content goes to the dated folder first.
  CopyOptions options;
  std::wstring keep = RestoreKeepFolder(layout, stamp);
  options.saveReplacedIn = keep + L"\\" + CopyFolderName(which);
  CopyStats restored;
  bool result = true;
  if (which != UserFolder::Documents) {
    CopyDirectoryTree(copy, userFolder, options, restored);
  } else {
    // Each top-level entry is its own tree: a tree that stops does not stop the others.
    result = ForEachTopLevelEntry(copy, L"", restored, [&](const WIN32_FIND_DATAW& entry, const std::wstring& from) {
      CopyEntry(entry, from, userFolder, options, restored);
    });
  }
  if (restored.savedFiles > 0) restored.savedFolder = keep;
  stats.Add(restored);
  return result;
}

bool BackupDocuments(const std::wstring& root, CopyStats& stats) {
  return BackupStep(UserFolder::Documents, root, stats);
}
bool BackupFavorites(const std::wstring& root, CopyStats& stats) {
  return BackupStep(UserFolder::Favorites, root, stats);
}
bool BackupDesktop(const std::wstring& root, CopyStats& stats) { return BackupStep(UserFolder::Desktop, root, stats); }
bool RestoreDocuments(const std::wstring& root, const std::wstring& stamp, CopyStats& stats) {
  return RestoreStep(UserFolder::Documents, root, stamp, stats);
}
bool RestoreFavorites(const std::wstring& root, const std::wstring& stamp, CopyStats& stats) {
  return RestoreStep(UserFolder::Favorites, root, stamp, stats);
}
bool RestoreDesktop(const std::wstring& root, const std::wstring& stamp, CopyStats& stats) {
  return RestoreStep(UserFolder::Desktop, root, stamp, stats);
}
