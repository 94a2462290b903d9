#include "engine/task_paths.h"

std::wstring ExtendedFolderPath(const std::wstring& folder) {
  std::wstring f = folder;
  for (wchar_t& c : f) {
    if (c == L'/') c = L'\\';
  }
  while (f.size() > 3 && f.back() == L'\\') f.pop_back();
  if (f.compare(0, 4, L"\\\\?\\") == 0) {
    while (f.size() > 7 && f.back() == L'\\') f.pop_back();
    return f;
  }
  bool drive = f.size() >= 3 && ((f[0] >= L'A' && f[0] <= L'Z') || (f[0] >= L'a' && f[0] <= L'z')) &&
               f[1] == L':' && f[2] == L'\\';
  if (drive) {
    if (f.size() == 3) f.pop_back();  // "C:\" → "C:" so that joining adds one "\"
    return L"\\\\?\\" + f;
  }
  if (f.size() > 2 && f[0] == L'\\' && f[1] == L'\\' && f[2] != L'\\') {
    return L"\\\\?\\UNC\\" + f.substr(2);
  }
  return std::wstring();
}

std::wstring::size_type FirstCreatableSeparator(const std::wstring& extendedFolder) {
  // "\\?\C:\a\b": the first creatable folder ends at the separator after "C:".
  // "\\?\UNC\server\share\a": after "share".
  const std::wstring& f = extendedFolder;
  if (f.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    std::wstring::size_type server = f.find(L'\\', 8);
    if (server == std::wstring::npos) return std::wstring::npos;
    return f.find(L'\\', server + 1);
  }
  return f.find(L'\\', 4);
}

bool MakeTaskPaths(const std::wstring& folder, const std::wstring& name, TaskPaths* out) {
  if (!IsUsableFileName(name)) return false;
  std::wstring ext = ExtendedFolderPath(folder);
  if (ext.empty()) return false;
  out->folder = ext;
  out->final = ext + L"\\" + name;
  out->temp = out->final + kTempSuffix;
  out->state = out->final + kStateSuffix;
  return true;
}
