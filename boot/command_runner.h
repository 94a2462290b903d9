// Runs external commands hidden and waits for them, and hides or unhides the boot files in the root of the
// system drive with the system's attrib command.
#pragma once
#include <string>
#include <vector>

// Runs a command line (the program is its first token) in a new hidden console with the caller's
// environment and current directory, and waits for it without a time limit. True when the process was
// started (and has ended); false when it could not be started. The exit code is not read.
bool RunHidden(const std::wstring& commandLine);
// Starts and waits for the command line exactly as RunHidden does, bypassing the observer and the hook.
bool RunHiddenProcess(const std::wstring& commandLine);
// Stands in for the running of every command line (the sandbox records them instead of running them): it
// answers what RunHidden answers. Null restores the real running. Set before any command runs.
using CommandRunnerHook = bool (*)(const std::wstring& commandLine);
void SetCommandRunnerHook(CommandRunnerHook hook);
// Runs the tool with its path, one blank and the arguments.
bool RunTool(const std::wstring& toolPath, const std::wstring& arguments);
// Told about every command line RunHidden is about to start (the sandbox writes them to its transcript);
// null for none.
using CommandObserver = void (*)(const std::wstring& commandLine);
void SetCommandObserver(CommandObserver observer);

// The attrib command lines for a drive, in order: job files, boot.ini and its copy, boot images, the
// loaders and loader boot sectors of both sets, then the identity files and start records of both sets.
// hide selects "+h +s +r", else "-h -s -r".
std::vector<std::wstring> BootFileAttribCommands(wchar_t drive, bool hide);

// Set or clear hidden, system and read-only on every boot file of both sets in the system drive's root.
void HideBootFiles();
void UnhideBootFiles();
