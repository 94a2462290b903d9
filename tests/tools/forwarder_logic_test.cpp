#include <gtest/gtest.h>

#include "tools/forwarder_logic.h"

namespace {

TEST(CommandTailTest, SplitsOffTheProgramAsTheRuntimeDoes) {
  struct Case { const wchar_t* line; const wchar_t* tail; } cases[] = {
      {L"bcdedit.exe /set {x} path \\a", L"/set {x} path \\a"},
      {L"\"C:\\Program Files\\bcdedit.exe\" /export \"C:\\a b\"", L"/export \"C:\\a b\""},
      {L"\"C:\\t\\bcdedit.exe\"/timeout 3", L"/timeout 3"},
      {L"bcdedit.exe", L""},
      {L"bcdedit.exe   \t  /v", L"/v"},
      {L"bcdedit.exe /d \"two  blanks\"  kept  ", L"/d \"two  blanks\"  kept  "},
      {L"\"unterminated quote", L""},
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(CommandTail(c.line), c.tail) << c.line;
}

TEST(SystemToolFolderTest, SysnativeOnlyUnderWow64) {
  EXPECT_EQ(SystemToolFolder(L"C:\\Windows", false), L"C:\\Windows\\System32");
  EXPECT_EQ(SystemToolFolder(L"C:\\Windows", true), L"C:\\Windows\\Sysnative");
  EXPECT_EQ(SystemToolFolder(L"D:\\WINNT\\", false), L"D:\\WINNT\\System32");
}

TEST(ForwardedCommandLineTest, QuotesTheToolAndKeepsTheArguments) {
  EXPECT_EQ(ForwardedCommandLine(L"C:\\Windows\\Sysnative\\bcdedit.exe", L"/d \"x\""),
            L"\"C:\\Windows\\Sysnative\\bcdedit.exe\" /d \"x\"");
  EXPECT_EQ(ForwardedCommandLine(L"C:\\W\\bcdboot.exe", L""), L"\"C:\\W\\bcdboot.exe\"");
}

}  // namespace
