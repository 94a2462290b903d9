#include "app/shell_helpers.h"

#include <windows.h>

#include "app/dialogs.h"
#include "app/text_format.h"

std::wstring BrowseForFolder() { return Dialogs().BrowseForFolder(); }

bool BrowseForImageFile(std::wstring& path) { return Dialogs().BrowseForImageFile(path); }

namespace {

// SHCreateDirectoryExW is resolved at run time; without it the folders are made one level at a time.
void CreateFolderWithParents(const std::wstring& folder) {
  using Fn = int(WINAPI*)(HWND, LPCWSTR, const SECURITY_ATTRIBUTES*);
  HMODULE shell = GetModuleHandleW(L"shell32.dll");
  if (shell == nullptr) shell = LoadLibraryW(L"shell32.dll");
  auto fn = shell ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(shell, "SHCreateDirectoryExW"))) : nullptr;
  if (fn != nullptr) {
    fn(nullptr, folder.c_str(), nullptr);
    return;
  }
  for (size_t i = 3; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == L'\\') CreateDirectoryW(folder.substr(0, i).c_str(), nullptr);
  }
}

}  // namespace

std::wstring FolderOfPath(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ExplorerParameters(const std::wstring& folder) { return L"/e, \"" + folder + L"\""; }

void OpenFolderInExplorer(const std::wstring& folder) {
  if (!folder.empty()) CreateFolderWithParents(folder);
  Dialogs().ShellOpen(L"open", L"explorer.exe", ExplorerParameters(folder), SW_SHOWNORMAL);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring BackupImagePathIn(const std::wstring& folder) {
  wchar_t buffer[kPathCapacity];
  // A drive root comes back as "D:\"; it gets no second backslash.
  const wchar_t* format = !folder.empty() && folder.back() == L'\\' ? L"%s%s" : L"%s\\%s";
  if (!FormatInto(buffer, format, folder.c_str(), L"BAKSYS.GHO")) return std::wstring();
  return buffer;
}
