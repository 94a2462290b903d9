// Copying folder trees file by file, counting what could not be copied.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// What a copy achieved. A file counts as failed when it was not copied for any reason: its own copy failed,
// its path did not fit, or the tree it belongs to stopped before reaching it.
struct CopyStats {
  uint32_t copiedFiles = 0;
  uint32_t failedFiles = 0;
};

// How one file copy ended.
enum class FileCopyResult {
  Copied,
  Skipped,      // this file could not be copied (locked, access denied, bad name); the others can go on
  TargetFault,  // the destination itself failed (full, write-protected, gone): the copy cannot go on
};

// True for errors that say the destination medium is unusable rather than that one file is.
bool IsTargetFault(DWORD error);

// Appends tail to head (a folder ending with a backslash) into a path of at most 259 units; false, and out
// unchanged, when the result would not fit.
bool ConcatPath(std::wstring& out, const std::wstring& head, const std::wstring& tail);

// Copies one file with CopyFileW and counts the outcome in stats.
FileCopyResult CopyOneFile(const std::wstring& from, const std::wstring& to, bool failIfExists,
                           CopyStats& stats);

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

// Copies the source tree into the destination, creating the destination (one level) when missing. Names
// beginning with a dot are copied like any other; hidden and system files too. Answers false when the
// source is not a directory, when a destination folder cannot be created, or when the destination failed
// while writing: the rest of the tree is then not copied and its files are counted as failed. A source
// folder that cannot be listed, a file that cannot be copied and a path that does not fit are counted and
// skipped; the copy goes on.
bool CopyDirectoryTree(const std::wstring& source, const std::wstring& destination, bool failIfExists,
                       CopyStats& stats, const FolderExclusion& exclusion = FolderExclusion());

// Counts the files below a folder (every level); a folder that cannot be listed counts as one.
uint32_t CountFilesInTree(const std::wstring& folder);

// True when the entry name is "." or "..".
bool IsDotOrDotDot(const wchar_t* name);
