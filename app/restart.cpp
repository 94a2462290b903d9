#include "app/restart.h"

#include <windows.h>

#include <vector>

#include "base/unique_handle.h"

namespace {

// A restart command that has not ended by then is taken as failed.
constexpr DWORD kCommandWaitMs = 15000;

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(folder);
}

bool EnableShutdownPrivilege() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return false;
  if (!AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr)) return false;
  return GetLastError() == ERROR_SUCCESS;
}

}  // namespace

RestartWay RestartMachine(const std::string& commandLine, IRestartSystem& system) {
  if (system.HasShutdownTool() && system.RunCommand(commandLine)) return RestartWay::Command;
  system.RebootCall();
  return RestartWay::SystemCall;
}

bool Win32RestartSystem::HasShutdownTool() {
  std::wstring folder = SystemFolder();
  if (folder.empty()) return false;
  DWORD attributes = GetFileAttributesW((folder + L"\\shutdown.exe").c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32RestartSystem::RunCommand(const std::string& commandLine) {
  // cmd is started by its full path, in the system folder, so that neither the program's folder nor the
  // search path can put another program in its place.
  std::wstring folder = SystemFolder();
  if (folder.empty()) return false;
  std::wstring cmd = folder + L"\\cmd.exe";
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, folder.c_str(),
                      &startup, &info))
    return false;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (WaitForSingleObject(process.Get(), kCommandWaitMs) != WAIT_OBJECT_0) return false;
  DWORD code = 1;
  return GetExitCodeProcess(process.Get(), &code) && code == 0;
}

bool Win32RestartSystem::RebootCall() {
  EnableShutdownPrivilege();
  return ExitWindowsEx(EWX_REBOOT, 0) != FALSE;
}
