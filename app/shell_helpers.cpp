#include "app/shell_helpers.h"

#include <windows.h>

#include "app/dialogs.h"
#include "base/folders.h"
#include "base/text_format.h"

std::wstring BrowseForFolder() { return Dialogs().BrowseForFolder(); }

bool BrowseForImageFile(std::wstring& path) { return Dialogs().BrowseForImageFile(path); }

std::wstring FolderOfPath(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ExplorerParameters(const std::wstring& folder) { return L"/e, \"" + folder + L"\""; }

void OpenFolderInExplorer(const std::wstring& folder) {
  if (!folder.empty()) CreateFolderWithParents(folder);
  Dialogs().ShellOpen(L"open", L"explorer.exe", ExplorerParameters(folder), SW_SHOWNORMAL);
}

std::wstring BackupImagePathIn(const std::wstring& folder) {
  wchar_t buffer[kPathCapacity];
  // A drive root comes back as "D:\"; it gets no second backslash.
  const wchar_t* format = !folder.empty() && folder.back() == L'\\' ? L"%s%s" : L"%s\\%s";
  if (!FormatInto(buffer, format, folder.c_str(), L"BAKSYS.GHO")) return std::wstring();
  return buffer;
}
