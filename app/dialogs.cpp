#include "app/dialogs.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shellapi.h>

#include <atomic>

#include "app/restart.h"

namespace {

Win32Dialogs g_real;
std::atomic<IDialogs*> g_current{nullptr};

}  // namespace

IDialogs& Dialogs() {
  IDialogs* d = g_current.load();
  return d != nullptr ? *d : g_real;
}

void SetDialogs(IDialogs* dialogs) { g_current = dialogs; }

int Win32Dialogs::ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  return ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

std::wstring Win32Dialogs::BrowseForFolder() {
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW bi = {};
  bi.hwndOwner = nullptr;
  bi.pidlRoot = nullptr;
  bi.pszDisplayName = displayName;
  bi.lpszTitle = L"请选择路径";
  bi.ulFlags = BIF_EDITBOX;
  LPITEMIDLIST item = SHBrowseForFolderW(&bi);
  if (item == nullptr) return std::wstring();
  wchar_t path[MAX_PATH] = {};
  SHGetPathFromIDListW(item, path);
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || allocator == nullptr) return std::wstring();
  allocator->Free(item);
  allocator->Release();
  return path;
}

bool Win32Dialogs::BrowseForImageFile(std::wstring& path) {
  static const wchar_t kFilter[] = L"GHO文件\0*.GHO\0所有文件(*.*)\0*.*\0";
  wchar_t file[MAX_PATH] = {};
  wchar_t initialDir[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, initialDir);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = 76;  // the structure without its trailing reserved members
  ofn.hwndOwner = GetForegroundWindow();
  ofn.lpstrFilter = kFilter;
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrInitialDir = initialDir;
  ofn.lpstrTitle = L"选择文件";
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT;
  if (!GetOpenFileNameW(&ofn)) return false;
  file[MAX_PATH - 1] = L'\0';
  path = file;  // the first text: the file, or the folder when several were chosen
  return true;
}

void Win32Dialogs::ShellOpen(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                                int showCommand) {
  ::ShellExecuteW(nullptr, verb.c_str(), file.c_str(), parameters.empty() ? nullptr : parameters.c_str(), nullptr,
                showCommand);
}

void Win32Dialogs::RunRestart(const std::string& commandLine) {
  Win32RestartSystem system;
  RestartMachine(commandLine, system);
}
