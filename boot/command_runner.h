// Runs external commands hidden and waits for them, and hides or unhides the boot files in the root of the
// system drive with the system's attrib command.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// How a command ended: whether its process started, and its exit code once it ended.
struct CommandResult {
  bool started = false;
  uint32_t exitCode = 0;
  // A command succeeded only when it ran and exited 0.
  bool Succeeded() const { return started && exitCode == 0; }
};

// Runs a command line (the program is its first token) in a new hidden console with the caller's
// environment and current directory, waits for it without a time limit and reads its exit code.
CommandResult RunHidden(const std::wstring& commandLine);
// Starts and waits for the command line exactly as RunHidden does, bypassing the observer and the hook.
CommandResult RunHiddenProcess(const std::wstring& commandLine);
// Stands in for the running of every command line (the sandbox records them instead of running them): it
// answers what RunHidden answers. Null restores the real running. Set before any command runs.
using CommandRunnerHook = CommandResult (*)(const std::wstring& commandLine);
void SetCommandRunnerHook(CommandRunnerHook hook);
// Runs the tool with its path in double quotes (the tool folder may hold blanks), one blank and the
// arguments.
CommandResult RunTool(const std::wstring& toolPath, const std::wstring& arguments);
// The command line RunTool runs.
std::wstring ToolCommandLine(const std::wstring& toolPath, const std::wstring& arguments);
// Told about every command line RunHidden is about to start (the sandbox writes them to its transcript);
// null for none.
using CommandObserver = void (*)(const std::wstring& commandLine);
void SetCommandObserver(CommandObserver observer);

// The full path of a program in the system folder ("C:\WINDOWS\system32\attrib.exe"): system programs are
// never found through the program's own folder or the search path.
std::wstring SystemProgramPath(const wchar_t* fileName);
// The same for a given system folder (a plain rule, for tests).
std::wstring SystemProgramPathIn(const std::wstring& systemFolder, const wchar_t* fileName);

// The attrib command lines for a drive, in order: job files, boot.ini and its copy, boot images, the
// loaders and loader boot sectors of both sets, then the identity files and start records of both sets.
// hide selects "+h +s +r", else "-h -s -r"; attrib is started by its full path in systemFolder.
std::vector<std::wstring> BootFileAttribCommands(const std::wstring& systemFolder, wchar_t drive, bool hide);

// Set or clear hidden, system and read-only on every boot file of both sets in the system drive's root.
void HideBootFiles();
void UnhideBootFiles();
