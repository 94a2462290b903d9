#include "base/folders.h"

#include <windows.h>
#include <shlobj.h>

#include "base/text_format.h"

namespace {

bool IsExistingFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Without the shell: each level from the drive root on, "X:\a", then "X:\a\b", ...
void CreateLevelByLevel(const std::wstring& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
}

}  // namespace

bool CreateFolderWithParents(const std::wstring& path, const LateBoundCalls& calls) {
  if (path.empty()) return false;
  if (!ShellCreateFolder(path, calls)) CreateLevelByLevel(path);
  return IsExistingFolder(path);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool GetSpecialFolderShortPath(wchar_t* buffer, int csidl) {
  HRESULT init = CoInitialize(nullptr);
  bool result = false;
  LPITEMIDLIST pidl = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &pidl))) {
    wchar_t longPath[kPathCapacity] = {};
    wchar_t shortPath[kPathCapacity] = {};
    if (SHGetPathFromIDListW(pidl, longPath)) {
      DWORD n = GetShortPathNameW(longPath, shortPath, kPathCapacity);
      if (n > 0 && n < kPathCapacity) {
        CopyInto(buffer, kPathCapacity, shortPath);
        result = true;
      }
    }
    CoTaskMemFree(pidl);
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return result;
}
