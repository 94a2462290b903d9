// "bcdedit.exe" and "bcdboot.exe": run the system's own tool of the same name with the same arguments and
// answer its exit code. The 32-bit program reaches the native tool through Sysnative under WOW64.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/late_bound.h"
#include "base/unique_handle.h"
#include "tools/forwarder_logic.h"

namespace {

// Exit code when the system has no such tool or it cannot be started.
constexpr int kNoSystemTool = 9009;

std::wstring SystemToolPath() {
  wchar_t windows[MAX_PATH] = {};
  UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L"";
  return SystemToolFolder(windows, RunsUnderWow64()) + L"\\" VORLANE_TOOL_NAME;
}

}  // namespace

int wmain() {
  std::wstring tool = SystemToolPath();
  DWORD attributes = tool.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(tool.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    fwprintf(stderr, L"%ls: this system has no %ls\n", VORLANE_TOOL_NAME,
             tool.empty() ? VORLANE_TOOL_NAME : tool.c_str());
    return kNoSystemTool;
  }
  std::wstring line = ForwardedCommandLine(tool, CommandTail(GetCommandLineW()));
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(tool.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    fwprintf(stderr, L"%ls: cannot start %ls (error %lu)\n", VORLANE_TOOL_NAME, tool.c_str(), GetLastError());
    return kNoSystemTool;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 1;
  if (!GetExitCodeProcess(process.Get(), &code)) code = 1;
  return static_cast<int>(code);
}
