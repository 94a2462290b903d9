// The sandbox script grammar.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/sandbox_script.h"

TEST(SandboxScript, VerbsAndTheirArguments) {
  struct Case {
    const wchar_t* line;
    const wchar_t* verb;
    std::vector<std::wstring> args;
  } cases[] = {
      {L"click optmain", L"click", {L"optmain"}},
      {L"  click-row 3 btnselectthis ", L"click-row", {L"3", L"btnselectthis"}},
      {L"answer IDNO", L"answer", {L"IDNO"}},
      {L"choose-folder C:\\My Backups\\x", L"choose-folder", {L"C:\\My Backups\\x"}},
      {L"choose-file cancel", L"choose-file", {L"cancel"}},
      {L"wait-enabled btninstall 30", L"wait-enabled", {L"btninstall", L"30"}},
      {L"wait-text labconnect  云引擎连接成功，云模式 15", L"wait-text", {L"labconnect", L"云引擎连接成功，云模式", L"15"}},
      {L"wait-page 5 10", L"wait-page", {L"5", L"10"}},
      {L"wait-msgbox 5", L"wait-msgbox", {L"5"}},
      {L"screenshot shots/page 1.png", L"screenshot", {L"shots/page 1.png"}},
      {L"dump", L"dump", {}},
      {L"sleep 200", L"sleep", {L"200"}},
      {L"close", L"close", {}},
      {L"answer-after 12000 IDNO", L"answer-after", {L"12000", L"IDNO"}},
      {L"note question shown", L"note", {L"question shown"}},
      {L"attach-machine second disk.ini", L"attach-machine", {L"second disk.ini"}},
      {L"# a comment", L"", {}},
      {L"   ", L"", {}},
  };
  for (const Case& c : cases) {
    ScriptCommand cmd;
    std::wstring error;
    ASSERT_TRUE(ParseScriptLine(c.line, 7, cmd, error)) << c.line << ": " << std::string(error.begin(), error.end());
    EXPECT_EQ(cmd.verb, c.verb) << c.line;
    EXPECT_EQ(cmd.args, c.args) << c.line;
    EXPECT_EQ(cmd.line, 7);
  }
}

TEST(SandboxScript, MalformedLinesAreRejectedWithAReason) {
  const wchar_t* bad[] = {L"clack optmain", L"click", L"click a b", L"click-row x btn", L"answer MAYBE",
                          L"wait-page one 5", L"wait-enabled btn", L"wait-text labconnect 5", L"sleep soon",
                          L"screenshot", L"dump now", L"answer-after IDNO 100", L"answer-after 100 MAYBE",
                          L"answer-after 100", L"note", L"attach-machine"};
  for (const wchar_t* line : bad) {
    ScriptCommand cmd;
    std::wstring error;
    EXPECT_FALSE(ParseScriptLine(line, 1, cmd, error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

TEST(SandboxScript, WholeScriptKeepsGoodLinesAndNamesBadOnes) {
  std::vector<std::wstring> errors;
  auto commands = ParseScript("\xEF\xBB\xBF" "click optmain\r\nbogus\n\nclose\n", errors);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].verb, L"click");
  EXPECT_EQ(commands[0].args[0], L"optmain");  // the carriage return is not part of the name
  EXPECT_EQ(commands[1].line, 4);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].compare(0, 7, L"line 2:"), 0);
}

TEST(SandboxScript, AnswersAndDefaults) {
  EXPECT_EQ(AnswerFromName(L"IDOK"), IDOK);
  EXPECT_EQ(AnswerFromName(L"IDCANCEL"), IDCANCEL);
  EXPECT_EQ(AnswerFromName(L"idok"), 0);
  EXPECT_STREQ(AnswerName(IDYES), L"IDYES");
  EXPECT_EQ(DefaultAnswer(MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(DefaultAnswer(MB_OKCANCEL), IDOK);
  EXPECT_EQ(DefaultAnswer(MB_YESNO | MB_ICONQUESTION), IDYES);
}
