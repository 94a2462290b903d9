// A recording stand-in for the system's tools in tests: appends "<own file name>|<arguments as given>" as a
// UTF-8 line to the file named by VORLANE_RECORD_FILE and exits with VORLANE_RECORD_EXIT (default 0); with
// VORLANE_RECORD_EXIT_IF set, only a run whose line holds that text exits so, the others with 0.
#include <windows.h>

#include <string>

#include "base/unique_handle.h"
#include "tools/forwarder_logic.h"

int wmain() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name = self;
  size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name = name.substr(slash + 1);
  for (wchar_t& c : name) c = static_cast<wchar_t>(towlower(c));
  std::wstring line = name + L"|" + CommandTail(GetCommandLineW()) + L"\n";

  wchar_t recordFile[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"VORLANE_RECORD_FILE", recordFile, MAX_PATH) > 0) {
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], n, nullptr, nullptr);
    UniqueHandle file(CreateFileW(recordFile, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  wchar_t when[512] = {};
  if (GetEnvironmentVariableW(L"VORLANE_RECORD_EXIT_IF", when, 512) > 0 && line.find(when) == std::wstring::npos)
    return 0;
  wchar_t exitText[16] = {};
  if (GetEnvironmentVariableW(L"VORLANE_RECORD_EXIT", exitText, 16) > 0) return _wtoi(exitText);
  return 0;
}
