#include "databackup/copy_tree.h"

#include <shlwapi.h>

#include <cstring>
#include <cwchar>

#include "base/late_bound.h"
#include "base/text_format.h"
#include "base/unique_handle.h"

namespace {

// CreateDirectoryW takes folder paths of at most 247 units (room for an 8.3 name below them); with the
// trailing backslash that is 248.
constexpr size_t kMaxFolderPath = 248;
constexpr DWORD kCompareChunk = 64 * 1024;

// Errors that only the destination can give: its medium is full or refuses writing.
constexpr DWORD kDestinationFaults[] = {
    ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_WRITE_PROTECT, ERROR_NOT_ENOUGH_QUOTA, ERROR_WRITE_FAULT,
};

FolderHook g_folderHook = nullptr;

std::wstring WithTrailingBackslash(const std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') return path;
  return path + L"\\";
}

bool IsDirectoryEntry(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFolder(const std::wstring& path) { return !path.empty() && PathIsDirectoryW(path.c_str()); }

// The folder a path lies in, with its trailing backslash.
std::wstring ParentOf(const std::wstring& path) {
  std::wstring::size_type slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Starts listing folder (which ends with a backslash); an invalid handle when it cannot be listed or the
// pattern does not fit.
UniqueFindHandle StartListing(const std::wstring& folder, WIN32_FIND_DATAW& entry) {
  std::wstring pattern;
  if (!ConcatPath(pattern, folder, L"*.*")) return UniqueFindHandle();
  return UniqueFindHandle(FindFirstFileW(pattern.c_str(), &entry));
}

uint32_t CountBelow(const std::wstring& folderWithSlash) {
  WIN32_FIND_DATAW entry;
  UniqueFindHandle find = StartListing(folderWithSlash, entry);
  if (!find) return 1;
  uint32_t count = 0;
  do {
    if (IsDotOrDotDot(entry.cFileName) || IsLinkEntry(entry)) continue;
    if (!IsDirectoryEntry(entry)) {
      ++count;
      continue;
    }
    std::wstring child;
    if (!ConcatPath(child, folderWithSlash, entry.cFileName) || !ConcatPath(child, child, L"\\")) {
      ++count;
      continue;
    }
    count += CountBelow(child);
  } while (FindNextFileW(find.Get(), &entry));
  return count;
}

// Counts what an entry would have contributed, for the part of a tree that is not copied.
uint32_t CountEntry(const std::wstring& folderWithSlash, const WIN32_FIND_DATAW& entry) {
  if (IsLinkEntry(entry)) return 0;
  if (!IsDirectoryEntry(entry)) return 1;
  std::wstring child;
  if (!ConcatPath(child, folderWithSlash, entry.cFileName) || !ConcatPath(child, child, L"\\")) return 1;
  return CountBelow(child);
}

std::wstring LongPath(const std::wstring& path) {
  wchar_t buffer[kPathCapacity];
  DWORD n = GetLongPathNameW(path.c_str(), buffer, kPathCapacity);
  if (n == 0 || n >= kPathCapacity) return path;
  return buffer;
}

// Creates the missing folders above a file path; true when its folder exists afterwards.
bool CreateParentFolders(const std::wstring& filePath) {
  std::wstring parent = ParentOf(filePath);
  if (parent.size() < 4) return false;
  for (std::wstring::size_type i = parent.find(L'\\', 3); i != std::wstring::npos; i = parent.find(L'\\', i + 1))
    CreateDirectoryW(parent.substr(0, i).c_str(), nullptr);
  return IsFolder(parent);
}

// An unreadable source file whose previous backup still holds it: that version goes into the new copy.
bool CarryPreviousVersion(const std::wstring& from, const std::wstring& to, const CopyOptions& options) {
  if (options.previous.empty() || options.previous.size() >= kPathCapacity) return false;
  DWORD source = GetFileAttributesW(from.c_str());
  if (source == INVALID_FILE_ATTRIBUTES || (source & FILE_ATTRIBUTE_DIRECTORY)) return false;  // gone: nothing to keep
  DWORD previous = GetFileAttributesW(options.previous.c_str());
  if (previous == INVALID_FILE_ATTRIBUTES || (previous & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // A failed copy may have left part of a file behind.
  SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(to.c_str());
  if (CreateHardLinkIfAble(to, options.previous)) return true;
  if (!MoveFileW(options.previous.c_str(), to.c_str())) return false;
  if (options.carried != nullptr) options.carried->push_back({options.previous, to});
  return true;
}

FileCopyResult BackupOneFile(const std::wstring& from, const std::wstring& to, const CopyOptions& options,
                             CopyStats& stats) {
  if (CopyFileW(from.c_str(), to.c_str(), options.failIfExists ? TRUE : FALSE)) {
    ++stats.copiedFiles;
    return FileCopyResult::Copied;
  }
  DWORD error = GetLastError();
  FileCopyResult result = ClassifyCopyFailure(error, IsFolder(ParentOf(to)));
  if (result == FileCopyResult::Skipped && CarryPreviousVersion(from, to, options)) {
    ++stats.keptPrevious;
    return result;
  }
  ++stats.failedFiles;
  return result;
}

// A restore over an existing file: identical content stays, differing content is moved aside first and
// is never replaced unless that move succeeded.
FileCopyResult RestoreOneFile(const std::wstring& from, const std::wstring& to, const CopyOptions& options,
                              CopyStats& stats) {
  DWORD existing = GetFileAttributesW(to.c_str());
  if (existing == INVALID_FILE_ATTRIBUTES) {
    CopyOptions plain;
    plain.failIfExists = true;
    return BackupOneFile(from, to, plain, stats);
  }
  if ((existing & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ++stats.failedFiles;
    return FileCopyResult::Skipped;
  }
  if (SameFileContent(from, to)) {
    ++stats.identicalFiles;
    return FileCopyResult::Copied;
  }
  const std::wstring& saved = options.saveReplacedIn;
  if (saved.size() >= kPathCapacity || !CreateParentFolders(saved) ||
      !MoveFileExW(to.c_str(), saved.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    ++stats.failedFiles;
    return IsFolder(ParentOf(to)) ? FileCopyResult::Skipped : FileCopyResult::TargetFault;
  }
  if (CopyFileW(from.c_str(), to.c_str(), TRUE)) {
    ++stats.copiedFiles;
    ++stats.savedFiles;
    return FileCopyResult::Copied;
  }
  DWORD error = GetLastError();
  ++stats.failedFiles;
  // The user's version goes back where it was; when it cannot, it stays safe in the saved folder.
  if (!MoveFileExW(saved.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) ++stats.savedFiles;
  return ClassifyCopyFailure(error, IsFolder(ParentOf(to)));
}

bool CopyTree(const std::wstring& sourceIn, const std::wstring& destinationIn, const CopyOptions& options,
              CopyStats& stats, bool top) {
  if (sourceIn.empty()) return false;
  if (g_folderHook != nullptr) g_folderHook(sourceIn);
  if (!IsFolder(sourceIn)) {
    if (top) return false;
    // A folder that vanished while the copy ran is the source's matter: counted, and the copy goes on.
    ++stats.failedFiles;
    return true;
  }
  std::wstring source = WithTrailingBackslash(sourceIn);
  std::wstring destination = WithTrailingBackslash(destinationIn);
  if (source == destination) return true;
  // A folder path the system cannot create is a path that does not fit: its files are counted, the tree
  // goes on.
  if (destination.size() > kMaxFolderPath) {
    stats.failedFiles += CountBelow(source);
    return true;
  }
  if (!IsFolder(destination) && !CreateDirectoryW(destination.c_str(), nullptr)) {
    stats.failedFiles += CountBelow(source);
    return false;
  }

  WIN32_FIND_DATAW entry;
  UniqueFindHandle find = StartListing(source, entry);
  if (!find) {
    ++stats.failedFiles;
    return true;
  }
  bool stopped = false;
  do {
    if (IsDotOrDotDot(entry.cFileName)) continue;
    if (IsLinkEntry(entry)) {
      if (!IsSystemLinkEntry(entry)) ++stats.skippedLinks;
      continue;
    }
    if (stopped) {
      stats.failedFiles += CountEntry(source, entry);
      continue;
    }
    std::wstring from, to;
    if (!ConcatPath(from, source, entry.cFileName) || !ConcatPath(to, destination, entry.cFileName)) {
      stats.failedFiles += CountEntry(source, entry);
      continue;
    }
    bool folder = IsDirectoryEntry(entry);
    CopyOptions child = OptionsForEntry(options, entry.cFileName, folder);
    if (folder) {
      if (options.exclusion.Excludes(from)) continue;
      stopped = !CopyTree(from, to, child, stats, false);
    } else {
      stopped = CopyOneFile(from, to, child, stats) == FileCopyResult::TargetFault;
    }
  } while (FindNextFileW(find.Get(), &entry));
  return !stopped;
}

}  // namespace

void CopyStats::Add(const CopyStats& other) {
  copiedFiles += other.copiedFiles;
  failedFiles += other.failedFiles;
  keptPrevious += other.keptPrevious;
  skippedLinks += other.skippedLinks;
  identicalFiles += other.identicalFiles;
  savedFiles += other.savedFiles;
  if (!other.savedFolder.empty()) savedFolder = other.savedFolder;
}

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

FileCopyResult ClassifyCopyFailure(DWORD error, bool destinationFolderPresent) {
  for (DWORD fault : kDestinationFaults)
    if (error == fault) return FileCopyResult::TargetFault;
  return destinationFolderPresent ? FileCopyResult::Skipped : FileCopyResult::TargetFault;
}

bool ConcatPath(std::wstring& out, const std::wstring& head, const std::wstring& tail) {
  if (head.size() + tail.size() >= kPathCapacity) return false;
  out = head + tail;
  return true;
}

bool ChildPath(std::wstring& out, const std::wstring& folder, const std::wstring& name) {
  return ConcatPath(out, WithTrailingBackslash(folder), name);
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (path.size() > 1 && path.back() == L'\\' && !(path.size() == 3 && path[1] == L':')) path.pop_back();
  return path;
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool IsLinkEntry(const WIN32_FIND_DATAW& entry) {
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  // Every folder reparse point leads elsewhere (junction, mount point, symbolic link). A file one is a link
  // only when it is a symbolic link; others (deduplicated or archived files) hold the user's data.
  if (IsDirectoryEntry(entry)) return true;
  return entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
}

bool IsSystemLinkEntry(const WIN32_FIND_DATAW& entry) {
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return IsLinkEntry(entry) && (entry.dwFileAttributes & hiddenSystem) == hiddenSystem;
}

bool SameFileContent(const std::wstring& a, const std::wstring& b) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  UniqueHandle fa(CreateFileW(a.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  UniqueHandle fb(CreateFileW(b.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!fa || !fb) return false;
  LARGE_INTEGER sa, sb;
  if (!GetFileSizeEx(fa.Get(), &sa) || !GetFileSizeEx(fb.Get(), &sb) || sa.QuadPart != sb.QuadPart) return false;
  std::vector<char> ba(kCompareChunk), bb(kCompareChunk);
  for (;;) {
    DWORD ga = 0, gb = 0;
    if (!ReadFile(fa.Get(), ba.data(), kCompareChunk, &ga, nullptr) ||
        !ReadFile(fb.Get(), bb.data(), kCompareChunk, &gb, nullptr) || ga != gb)
      return false;
    if (ga == 0) return true;
    if (memcmp(ba.data(), bb.data(), ga) != 0) return false;
  }
}

// Paths that grow too long stay too long: the file that needs them then fails rather than losing what it
// would have kept.
CopyOptions OptionsForEntry(const CopyOptions& options, const std::wstring& name, bool folder) {
  CopyOptions child = options;
  const wchar_t* tail = folder ? L"\\" : L"";
  if (!child.previous.empty()) child.previous = WithTrailingBackslash(child.previous) + name + tail;
  if (!child.saveReplacedIn.empty()) child.saveReplacedIn = WithTrailingBackslash(child.saveReplacedIn) + name + tail;
  return child;
}

FileCopyResult CopyOneFile(const std::wstring& from, const std::wstring& to, const CopyOptions& fileOptions,
                           CopyStats& stats) {
  if (!fileOptions.saveReplacedIn.empty()) return RestoreOneFile(from, to, fileOptions, stats);
  return BackupOneFile(from, to, fileOptions, stats);
}

bool CopyDirectoryTree(const std::wstring& source, const std::wstring& destination, const CopyOptions& options,
                       CopyStats& stats) {
  return CopyTree(source, destination, options, stats, true);
}

bool CopyDirectoryTree(const std::wstring& source, const std::wstring& destination, bool failIfExists,
                       CopyStats& stats, const FolderExclusion& exclusion) {
  CopyOptions options;
  options.failIfExists = failIfExists;
  options.exclusion = exclusion;
  return CopyTree(source, destination, options, stats, true);
}

uint32_t CountFilesInTree(const std::wstring& folder) {
  if (!IsFolder(folder)) return 0;
  return CountBelow(WithTrailingBackslash(folder));
}

void SetCopyFolderHook(FolderHook hook) { g_folderHook = hook; }
