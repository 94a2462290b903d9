#include "databackup/copy_tree.h"

#include <shlwapi.h>

#include <cwchar>

#include "base/text_format.h"
#include "base/unique_handle.h"

namespace {

// CreateDirectoryW takes folder paths of at most 247 units (room for an 8.3 name below them); with the
// trailing backslash that is 248.
constexpr size_t kMaxFolderPath = 248;

constexpr DWORD kTargetFaults[] = {
    ERROR_PATH_NOT_FOUND,        ERROR_WRITE_PROTECT,  ERROR_NOT_READY,        ERROR_WRITE_FAULT,
    ERROR_GEN_FAILURE,           ERROR_HANDLE_DISK_FULL, ERROR_BAD_NETPATH,    ERROR_DEV_NOT_EXIST,
    ERROR_UNEXP_NET_ERR,         ERROR_NETNAME_DELETED, ERROR_DISK_FULL,       ERROR_IO_DEVICE,
    ERROR_DEVICE_NOT_CONNECTED,  ERROR_NOT_ENOUGH_QUOTA,
};

std::wstring WithTrailingBackslash(const std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') return path;
  return path + L"\\";
}

bool IsDirectoryEntry(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Starts listing folder (which ends with a backslash); an invalid handle when it cannot be listed or the
// pattern does not fit.
UniqueFindHandle StartListing(const std::wstring& folder, WIN32_FIND_DATAW& entry) {
  std::wstring pattern;
  if (!ConcatPath(pattern, folder, L"*.*")) return UniqueFindHandle();
  return UniqueFindHandle(FindFirstFileW(pattern.c_str(), &entry));
}

// Files below a folder that cannot be listed: a linked folder that refuses listing (the compatibility
// junctions that newer systems put in the user's folders) holds nothing of its own; any other counts as one.
uint32_t UnlistableFolderCount(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? 0 : 1;
}

uint32_t CountBelow(const std::wstring& folderWithSlash, DWORD attributes) {
  WIN32_FIND_DATAW entry;
  UniqueFindHandle find = StartListing(folderWithSlash, entry);
  if (!find) return UnlistableFolderCount(attributes);
  uint32_t count = 0;
  do {
    if (IsDotOrDotDot(entry.cFileName)) continue;
    if (!IsDirectoryEntry(entry)) {
      ++count;
      continue;
    }
    std::wstring child;
    if (!ConcatPath(child, folderWithSlash, entry.cFileName) || !ConcatPath(child, child, L"\\")) {
      ++count;
      continue;
    }
    count += CountBelow(child, entry.dwFileAttributes);
  } while (FindNextFileW(find.Get(), &entry));
  return count;
}

// Counts what an entry would have contributed, for the part of a tree that is not copied.
uint32_t CountEntry(const std::wstring& folderWithSlash, const WIN32_FIND_DATAW& entry) {
  if (!IsDirectoryEntry(entry)) return 1;
  std::wstring child;
  if (!ConcatPath(child, folderWithSlash, entry.cFileName) || !ConcatPath(child, child, L"\\")) return 1;
  return CountBelow(child, entry.dwFileAttributes);
}

std::wstring LongPath(const std::wstring& path) {
  wchar_t buffer[kPathCapacity];
  DWORD n = GetLongPathNameW(path.c_str(), buffer, kPathCapacity);
  if (n == 0 || n >= kPathCapacity) return path;
  return buffer;
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

bool CopyTree(const std::wstring& sourceIn, const std::wstring& destinationIn, DWORD sourceAttributes,
              bool failIfExists, CopyStats& stats, const FolderExclusion& exclusion) {
  if (sourceIn.empty() || !PathIsDirectoryW(sourceIn.c_str())) return false;
  std::wstring source = WithTrailingBackslash(sourceIn);
  std::wstring destination = WithTrailingBackslash(destinationIn);
  if (source == destination) return true;
  // A folder path the system cannot create is a path that does not fit: its files are counted, the tree
  // goes on.
  if (destination.size() > kMaxFolderPath) {
    stats.failedFiles += CountBelow(source, sourceAttributes);
    return true;
  }
  if (!PathIsDirectoryW(destination.c_str()) && !CreateDirectoryW(destination.c_str(), nullptr)) {
    stats.failedFiles += CountBelow(source, sourceAttributes);
    return false;
  }

  WIN32_FIND_DATAW entry;
  UniqueFindHandle find = StartListing(source, entry);
  if (!find) {
    stats.failedFiles += UnlistableFolderCount(sourceAttributes);
    return true;
  }
  bool stopped = false;
  do {
    if (IsDotOrDotDot(entry.cFileName)) continue;
    if (stopped) {
      stats.failedFiles += CountEntry(source, entry);
      continue;
    }
    std::wstring from, to;
    if (!ConcatPath(from, source, entry.cFileName) || !ConcatPath(to, destination, entry.cFileName)) {
      stats.failedFiles += CountEntry(source, entry);
      continue;
    }
    if (IsDirectoryEntry(entry)) {
      if (exclusion.Excludes(from)) continue;
      stopped = !CopyTree(from, to, entry.dwFileAttributes, failIfExists, stats, exclusion);
    } else {
      stopped = CopyOneFile(from, to, failIfExists, stats) == FileCopyResult::TargetFault;
    }
  } while (FindNextFileW(find.Get(), &entry));
  return !stopped;
}

}  // namespace

FolderExclusion::FolderExclusion(const std::wstring& root, const std::wstring& excluded) {
  root_ = WithoutTrailingBackslash(root);
  longRoot_ = WithoutTrailingBackslash(LongPath(root_));
  std::wstring longExcluded = WithoutTrailingBackslash(LongPath(excluded));
  // Only a folder below the root can be met during the copy.
  if (longExcluded.size() > longRoot_.size() + 1 &&
      _wcsnicmp(longExcluded.c_str(), longRoot_.c_str(), longRoot_.size()) == 0 &&
      longExcluded[longRoot_.size()] == L'\\')
    excluded_ = longExcluded;
}

bool FolderExclusion::Excludes(const std::wstring& path) const {
  if (excluded_.empty() || path.size() <= root_.size()) return false;
  if (_wcsnicmp(path.c_str(), root_.c_str(), root_.size()) != 0) return false;
  std::wstring candidate = WithoutTrailingBackslash(longRoot_ + path.substr(root_.size()));
  return _wcsicmp(candidate.c_str(), excluded_.c_str()) == 0;
}

bool IsTargetFault(DWORD error) {
  for (DWORD fault : kTargetFaults)
    if (error == fault) return true;
  return false;
}

bool ConcatPath(std::wstring& out, const std::wstring& head, const std::wstring& tail) {
  if (head.size() + tail.size() >= kPathCapacity) return false;
  out = head + tail;
  return true;
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

FileCopyResult CopyOneFile(const std::wstring& from, const std::wstring& to, bool failIfExists,
                           CopyStats& stats) {
  if (CopyFileW(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE)) {
    ++stats.copiedFiles;
    return FileCopyResult::Copied;
  }
  DWORD error = GetLastError();
  ++stats.failedFiles;
  return IsTargetFault(error) ? FileCopyResult::TargetFault : FileCopyResult::Skipped;
}

bool CopyDirectoryTree(const std::wstring& source, const std::wstring& destination, bool failIfExists,
                       CopyStats& stats, const FolderExclusion& exclusion) {
  return CopyTree(source, destination, 0, failIfExists, stats, exclusion);
}

uint32_t CountFilesInTree(const std::wstring& folder) {
  if (folder.empty() || !PathIsDirectoryW(folder.c_str())) return 0;
  return CountBelow(WithTrailingBackslash(folder), 0);
}
