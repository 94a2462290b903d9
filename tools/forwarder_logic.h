// How the bcdedit and bcdboot forwarders find the system's own tool and pass their arguments on.
#pragma once
#include <string>

// What follows the program name on a command line, as the runtime splits argv[0] off: a quoted first token
// ends at the next quote, an unquoted one at the first blank or tab; the blanks after it are skipped.
std::wstring CommandTail(const std::wstring& commandLine);
// The folder that holds the system's own 64-bit or native tools, seen from this 32-bit program.
std::wstring SystemToolFolder(const std::wstring& windowsDirectory, bool underWow64);
// The command line that runs the tool (quoted) with the same arguments.
std::wstring ForwardedCommandLine(const std::wstring& toolPath, const std::wstring& tail);
