// Copying folder trees file by file, counting what could not be copied.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// What a copy achieved. A file counts as failed when it was not copied for any reason: its own copy failed,
// its path did not fit, or the tree it belongs to stopped before reaching it.
struct CopyStats {
  uint32_t copiedFiles = 0;
  uint32_t failedFiles = 0;
  uint32_t keptPrevious = 0;    // could not be read: the previous backup's version went into the new copy
  uint32_t skippedLinks = 0;    // junctions, symbolic links and mount points: neither copied nor entered
  uint32_t identicalFiles = 0;  // a restore found the same content already there and left it
  uint32_t savedFiles = 0;      // a restore moved a differing file aside before replacing it
  std::wstring savedFolder;     // where those went (the last restore step's folder)

  void Add(const CopyStats& other);
};

// How one file copy ended.
enum class FileCopyResult {
  Copied,
  Skipped,      // this file could not be copied (locked, unreadable, gone, bad name); the others can go on
  TargetFault,  // the destination itself failed (full, write-protected, gone): the copy cannot go on
};

// Which side a failed file copy is blamed on. Only the destination can make a copy incomplete: a full or
// write-protected medium, or a destination folder that is no longer there. Everything else (a locked,
// unreadable or vanished source, a name the system refuses) skips that one file.
FileCopyResult ClassifyCopyFailure(DWORD error, bool destinationFolderPresent);

// Appends tail to head (a folder ending with a backslash) into a path of at most 259 units; false, and out
// unchanged, when the result would not fit.
bool ConcatPath(std::wstring& out, const std::wstring& head, const std::wstring& tail);

// folder\name with exactly one backslash between them (a drive root such as "D:\" already ends with one);
// false, and out unchanged, when the result would not fit 259 units.
bool ChildPath(std::wstring& out, const std::wstring& folder, const std::wstring& name);

// A folder path without trailing backslashes, except that a drive root keeps its own ("D:\").
std::wstring WithoutTrailingBackslash(std::wstring path);

// A folder left out of a copy: the backup folder, when it lies inside the folder being backed up, so that a
// backup never copies itself or earlier backups. Paths below root (as the copy spells them, often in short
// form) are compared in their long spelling, without regard to case.
class FolderExclusion {
 public:
  FolderExclusion() = default;
  FolderExclusion(const std::wstring& root, const std::wstring& excluded);
  bool Excludes(const std::wstring& path) const;

 private:
  std::wstring root_, longRoot_, excluded_;
};

// A file of the previous backup moved (not linked) into a new copy, so that it can be put back when the new
// copy is thrown away.
struct CarriedFile {
  std::wstring from, to;
};

// What a copy does besides copying.
struct CopyOptions {
  bool failIfExists = false;
  FolderExclusion exclusion;
  // Backup: the folder of the previous copy that matches the destination. A source file that exists but
  // cannot be read is then replaced by the previous copy's version: a hard link, or a move recorded in
  // carried when the medium has no hard links.
  std::wstring previous;
  std::vector<CarriedFile>* carried = nullptr;
  // Restore: the folder that receives, under the same relative path, every existing file whose content
  // differs from the one copied over it. A file that cannot be moved there is not replaced. Files that are
  // already identical are left as they are.
  std::wstring saveReplacedIn;
};

// Copies the source tree into the destination, creating the destination (one level) when missing. Names
// beginning with a dot are copied like any other; hidden and system files too. Junctions, symbolic links and
// mount points below the source are neither copied nor entered (counted in skippedLinks, except the hidden
// system links that newer systems place in the user's folders). Answers false when the source is not a
// directory, when a destination folder cannot be created, or when the destination failed while writing: the
// rest of the tree is then not copied and its files are counted as failed. A source folder that vanished or
// cannot be listed, a file that cannot be read and a path that does not fit are counted and skipped; the
// copy goes on.
bool CopyDirectoryTree(const std::wstring& source, const std::wstring& destination, const CopyOptions& options,
                       CopyStats& stats);
bool CopyDirectoryTree(const std::wstring& source, const std::wstring& destination, bool failIfExists,
                       CopyStats& stats, const FolderExclusion& exclusion = FolderExclusion());

// The options for the entry name (a folder or a file) inside the folders the given options name.
CopyOptions OptionsForEntry(const CopyOptions& options, const std::wstring& name, bool folder);

// Copies one file as the tree copy does (restore's keeping of replaced files, backup's keeping of the
// previous version included); previous and saveReplacedIn name the file itself here, not a folder.
FileCopyResult CopyOneFile(const std::wstring& from, const std::wstring& to, const CopyOptions& fileOptions,
                           CopyStats& stats);

// Counts the files below a folder (every level, links not entered); a folder that cannot be listed counts
// as one.
uint32_t CountFilesInTree(const std::wstring& folder);

// True when the entry name is "." or "..".
bool IsDotOrDotDot(const wchar_t* name);

// True for a directory entry that is a junction, a symbolic link or a mount point, and for a file entry
// that is a symbolic link: a copy neither follows nor copies them.
bool IsLinkEntry(const WIN32_FIND_DATAW& entry);
// True for the hidden system links of the user's folders (such as "My Music" inside Documents on newer
// systems): skipped without being counted.
bool IsSystemLinkEntry(const WIN32_FIND_DATAW& entry);

// True when the two files have the same size and bytes; false when either cannot be read.
bool SameFileContent(const std::wstring& a, const std::wstring& b);

// Test hook: called with each source folder's path (as the copy spells it) just before the copy enters it.
using FolderHook = void (*)(const std::wstring& sourceFolder);
void SetCopyFolderHook(FolderHook hook);
