// Backing up the user's Documents, Favorites and Desktop into the backup folder under the work folder, and
// copying them back. A backup is written beside the previous copy and replaces it only once complete.
#pragma once
#include <cstdint>
#include <string>

#include "boot/ini_file.h"
#include "databackup/copy_tree.h"

enum class UserFolder { Documents = 0, Favorites = 1, Desktop = 2 };
constexpr UserFolder kUserFolders[] = {UserFolder::Documents, UserFolder::Favorites, UserFolder::Desktop};

// The paths below a backup root, each of at most 259 units.
struct BackupLayout {
  std::wstring backupFolder;  // root\VorlaneBak
  std::wstring indexFile;     // root\VorlaneBak\backups.ini
  std::wstring copies[3];     // root\VorlaneBak\我的文档, 收藏夹, 桌面
  std::wstring newCopies[3];  // where a backup is written before it replaces the copy
  std::wstring oldCopies[3];  // where the replaced copy waits for its removal

  const std::wstring& Copy(UserFolder f) const { return copies[static_cast<int>(f)]; }
  const std::wstring& NewCopy(UserFolder f) const { return newCopies[static_cast<int>(f)]; }
  const std::wstring& OldCopy(UserFolder f) const { return oldCopies[static_cast<int>(f)]; }
};

// False when any of the paths would not fit.
bool BuildBackupLayout(const std::wstring& root, BackupLayout& layout);

const wchar_t* CopyFolderName(UserFolder folder);  // "我的文档", "收藏夹", "桌面"
const wchar_t* IndexSection(UserFolder folder);    // "Documents", "Favorite", "Desktop"
int SpecialFolderId(UserFolder folder);            // CSIDL_PERSONAL, CSIDL_FAVORITES, CSIDL_DESKTOP

// The index file of the backups; each backup step points it at its own backups.ini before writing.
extern CIniFile TheBackupIndex;

// Local time of a time value (seconds since 1970, UTC) as "YYYY/MM/DD hh:mm:ss"; empty when it cannot be
// converted.
std::wstring FormatBackupTimestamp(int64_t time);
// Now, as seconds since 1970.
int64_t CurrentTime();

// Removes a folder and everything in it with the system's rd command, run hidden and waited for.
void RemoveFolder(const std::wstring& path);

// Backs up one user folder (given as a path) into the layout's copy. Documents leaves out its top-level
// names beginning with a dot and the Favorites folder when that lies inside it (given as favorites, may be
// empty). The index entry is written only when the new copy is complete and in place. A file that cannot be
// read keeps the previous copy's version (counted in keptPrevious). Answers false when the folder cannot be
// read or the copy could not be completed; the previous copy is then kept and every file of the folder that
// is not in a new copy is counted as failed.
bool BackupFolderInto(UserFolder which, const std::wstring& userFolder, const std::wstring& favorites,
                      const BackupLayout& layout, CopyStats& stats);

// Copies one folder's backup back into the user's folder. Files that are not there are copied; identical
// files are left; a file whose content differs is first moved into the restore's keep folder (below,
// with the copy's folder name and the same relative path) and replaced only when that move succeeded.
// Nothing is deleted. Documents leaves out top-level names beginning with a dot. False when there is
// nothing to copy from or to.
bool RestoreFolderFrom(UserFolder which, const BackupLayout& layout, const std::wstring& userFolder,
                       const std::wstring& stamp, CopyStats& stats);

// A restore's name for its keep folder: the local time as "YYYYMMDD-hhmmss".
std::wstring RestoreStamp(int64_t time);
// root\VorlaneBak\还原前\<stamp>: where a restore started at stamp keeps what it replaced.
std::wstring RestoreKeepFolder(const BackupLayout& layout, const std::wstring& stamp);

// The workers' steps: each resolves the user's folder and runs the above on the given root. A restore job
// passes one stamp to all of its steps.
bool BackupDocuments(const std::wstring& root, CopyStats& stats);
bool BackupFavorites(const std::wstring& root, CopyStats& stats);
bool BackupDesktop(const std::wstring& root, CopyStats& stats);
bool RestoreDocuments(const std::wstring& root, const std::wstring& stamp, CopyStats& stats);
bool RestoreFavorites(const std::wstring& root, const std::wstring& stamp, CopyStats& stats);
bool RestoreDesktop(const std::wstring& root, const std::wstring& stamp, CopyStats& stats);
