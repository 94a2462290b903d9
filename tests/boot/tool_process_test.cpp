// The embedded tools run as processes: the forwarders reach the system's tool (a recording stand-in in the
// prefix's system folder) with the same arguments and exit code; the partition tool rejects bad arguments
// before it opens any disk. (The partition tool is never run against a disk here.)
#include <gtest/gtest.h>

#include "base/text_format.h"
#include "base/unique_handle.h"
#include "tests/boot/boot_test_support.h"

namespace {

struct ProcessResult {
  bool started = false;
  DWORD exitCode = 0;
  std::string output;  // standard output and error together
};

ProcessResult RunCaptured(const std::wstring& commandLine) {
  ProcessResult result;
  CreateDirectoryW(OnTestDrive(L"rec").c_str(), nullptr);
  std::wstring outputPath = OnTestDrive(L"rec\\output.txt");
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  {
    UniqueHandle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    CREATE_ALWAYS, 0, nullptr));
    if (!output) return result;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.Get();
    startup.hStdError = output.Get();
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
      return result;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.Get(), INFINITE);
    GetExitCodeProcess(process.Get(), &result.exitCode);
    result.started = true;
  }
  result.output = ReadBytes(outputPath);
  return result;
}

std::wstring Tool(const wchar_t* name) { return L"\"" + ProgramFolder() + L"\\" + name + L"\""; }

using ToolProcessTest = BootDriveTest;

TEST_F(ToolProcessTest, ForwardersRunTheSystemToolWithTheSameArguments) {
  RecordingTools tools;
  SetEnvironmentVariableW(L"VORLANE_RECORD_EXIT", L"7");
  ProcessResult edit = RunCaptured(Tool(L"bcdedit.exe") + L"  /set {G} description \"a b\"  /x");
  ProcessResult boot = RunCaptured(Tool(L"bcdboot.exe") + L" C:\\windows /s C: /l zh-cn");
  SetEnvironmentVariableW(L"VORLANE_RECORD_EXIT", nullptr);
  ProcessResult noArguments = RunCaptured(Tool(L"bcdedit.exe"));
  ASSERT_TRUE(edit.started && boot.started && noArguments.started);
  EXPECT_EQ(edit.exitCode, 7u);
  EXPECT_EQ(boot.exitCode, 7u);
  EXPECT_EQ(noArguments.exitCode, 0u);
  EXPECT_EQ(tools.Runs(), (std::vector<std::string>{"bcdedit.exe|/set {G} description \"a b\"  /x",
                                                    "bcdboot.exe|C:\\windows /s C: /l zh-cn", "bcdedit.exe|"}));
}

TEST_F(ToolProcessTest, ForwardersFailCleanlyWhereTheSystemHasNoTool) {
  std::wstring systemTool = SystemToolFolderOfPrefix() + L"\\bcdboot.exe";
  ASSERT_FALSE(Exists(systemTool)) << "the prefix has a bcdboot of its own";
  ProcessResult result = RunCaptured(Tool(L"bcdboot.exe") + L" C:\\windows");
  ASSERT_TRUE(result.started);
  EXPECT_NE(result.exitCode, 0u);
  EXPECT_NE(result.output.find("this system has no"), std::string::npos) << result.output;
}

TEST_F(ToolProcessTest, PartitionToolRejectsBadArgumentsBeforeTouchingADisk) {
  const wchar_t* bad[] = {L"", L"0", L"x /act:1", L"-1 /mbr /noback /y", L"-2 /act:1", L"0 /act:0",
                          L"0 /act:x", L"0 /act:", L"0 /mbr", L"0 /mbr /noback", L"0 /mbr /noback /y /z",
                          L"0 /format", L"0 /act:1 /y", L"12345 /act:1"};
  for (const wchar_t* arguments : bad) {
    ProcessResult result = RunCaptured(Tool(L"dspt.exe") + L" " + arguments);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 1u) << Utf8(arguments);
    EXPECT_NE(result.output.find("usage: dspt"), std::string::npos) << Utf8(arguments) << ": " << result.output;
  }
}

}  // namespace
