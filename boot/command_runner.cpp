#include "boot/command_runner.h"

#include <windows.h>

#include <atomic>

#include "base/text_format.h"
#include "base/unique_handle.h"
#include "boot/boot_config.h"

namespace {

// The process-creation call may write into its command line, so it gets a private copy of at least this
// many units; longer lines get room for their whole length.
constexpr size_t kCommandLineCapacity = 520;

std::atomic<CommandObserver> g_observer{nullptr};
std::atomic<CommandRunnerHook> g_hook{nullptr};

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(folder);
}

}  // namespace

void SetCommandObserver(CommandObserver observer) { g_observer = observer; }
void SetCommandRunnerHook(CommandRunnerHook hook) { g_hook = hook; }

CommandResult RunHidden(const std::wstring& commandLine) {
  if (CommandObserver observer = g_observer.load()) observer(commandLine);
  if (CommandRunnerHook hook = g_hook.load()) return hook(commandLine);
  return RunHiddenProcess(commandLine);
}

CommandResult RunHiddenProcess(const std::wstring& commandLine) {
  std::vector<wchar_t> line(commandLine.size() + 1 > kCommandLineCapacity ? commandLine.size() + 1
                                                                          : kCommandLineCapacity,
                            L'\0');
  commandLine.copy(line.data(), commandLine.size());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info = {};
  CommandResult result;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                      &startup, &info))
    return result;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  result.started = true;
  DWORD code = 0;
  // An exit code that cannot be read counts as a failure.
  if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.Get(), &code))
    code = static_cast<DWORD>(-1);
  result.exitCode = code;
  return result;
}

std::wstring ToolCommandLine(const std::wstring& toolPath, const std::wstring& arguments) {
  return L"\"" + toolPath + L"\" " + arguments;
}

CommandResult RunTool(const std::wstring& toolPath, const std::wstring& arguments) {
  return RunHidden(ToolCommandLine(toolPath, arguments));
}

std::wstring SystemProgramPathIn(const std::wstring& systemFolder, const wchar_t* fileName) {
  std::wstring path;
  JoinPath(path, systemFolder, fileName);
  return path;
}


std::wstring SystemProgramPath(const wchar_t* fileName) { return SystemProgramPathIn(SystemFolder(), fileName); }

std::vector<std::wstring> BootFileAttribCommands(const std::wstring& systemFolder, wchar_t drive, bool hide) {
  const wchar_t* flags = hide ? L"+h +s +r" : L"-h -s -r";
  std::wstring attrib = SystemProgramPathIn(systemFolder, L"attrib.exe");
  std::vector<std::wstring> commands;
  const BootConfig& c = TheBootConfig;
  for (const wchar_t* pattern : {L"GHOST.*", L"boot.in*", L"*.lsn", c.backupSetNames[1], c.reinstallSetNames[1],
                                 c.reinstallSetNames[2], c.backupSetNames[2], c.backupIdentityName,
                                 c.reinstallIdentityName, c.backupStartRecordName, c.reinstallStartRecordName})
    commands.push_back(Format(L"\"%s\" %s \"%c:\\%s\"", attrib.c_str(), flags, drive, pattern));
  return commands;
}

namespace {

// attrib reports an error for a pattern that matches nothing: the results are not looked at.
void RunAttrib(bool hide) {
  for (const std::wstring& command : BootFileAttribCommands(SystemFolder(), TheBootConfig.systemDrive, hide))
    RunHidden(command);
}

}  // namespace

void HideBootFiles() { RunAttrib(true); }

void UnhideBootFiles() { RunAttrib(false); }
