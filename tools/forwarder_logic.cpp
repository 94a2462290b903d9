#include "tools/forwarder_logic.h"

std::wstring CommandTail(const std::wstring& commandLine) {
  size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    size_t close = commandLine.find(L'"', 1);
    i = close == std::wstring::npos ? commandLine.size() : close + 1;
  } else {
    while (i < commandLine.size() && commandLine[i] != L' ' && commandLine[i] != L'\t') ++i;
  }
  while (i < commandLine.size() && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
  return commandLine.substr(i);
}

std::wstring SystemToolFolder(const std::wstring& windowsDirectory, bool underWow64) {
  std::wstring folder = windowsDirectory;
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder + (underWow64 ? L"\\Sysnative" : L"\\System32");
}

std::wstring ForwardedCommandLine(const std::wstring& toolPath, const std::wstring& tail) {
  std::wstring line = L"\"" + toolPath + L"\"";
  if (!tail.empty()) line += L" " + tail;
  return line;
}
