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

}  // namespace

void SetCommandObserver(CommandObserver observer) { g_observer = observer; }
void SetCommandRunnerHook(CommandRunnerHook hook) { g_hook = hook; }

bool RunHidden(const std::wstring& commandLine) {
  if (CommandObserver observer = g_observer.load()) observer(commandLine);
  if (CommandRunnerHook hook = g_hook.load()) return hook(commandLine);
  return RunHiddenProcess(commandLine);
}

bool RunHiddenProcess(const std::wstring& commandLine) {
  std::vector<wchar_t> line(commandLine.size() + 1 > kCommandLineCapacity ? commandLine.size() + 1
                                                                          : kCommandLineCapacity,
                            L'\0');
  commandLine.copy(line.data(), commandLine.size());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                      &startup, &info)) {
    GetLastError();
    return false;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

bool RunTool(const std::wstring& toolPath, const std::wstring& arguments) {
  return RunHidden(toolPath + L" " + arguments);
}

std::vector<std::wstring> BootFileAttribCommands(wchar_t drive, bool hide) {
  const wchar_t* flags = hide ? L"+h +s +r" : L"-h -s -r";
  std::vector<std::wstring> commands;
  for (const wchar_t* pattern : {L"GHOST.*", L"boot.in*", L"*.lsn"})
    commands.push_back(Format(L"cmd /c attrib %s \"%c:\\%s\"", flags, drive, pattern));
  const BootConfig& c = TheBootConfig;
  for (const wchar_t* name : {c.backupSetNames[1], c.reinstallSetNames[1], c.reinstallSetNames[2],
                              c.backupSetNames[2], c.backupIdentityName, c.reinstallIdentityName,
                              c.backupStartRecordName, c.reinstallStartRecordName})
    commands.push_back(Format(L"cmd /c attrib %s \"%c:\\%s\"", flags, drive, name));
  return commands;
}

void HideBootFiles() {
  for (const std::wstring& command : BootFileAttribCommands(TheBootConfig.systemDrive, true))
    RunHidden(command);
}

void UnhideBootFiles() {
  for (const std::wstring& command : BootFileAttribCommands(TheBootConfig.systemDrive, false))
    RunHidden(command);
}
