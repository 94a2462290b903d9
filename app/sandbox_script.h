// The sandbox's automation script: one command a line ("click optmain", "wait-page 1 10", ...). Blank
// lines and lines starting with "#" are skipped. docs/sandbox.md lists the verbs.
#pragma once
#include <string>
#include <vector>

struct ScriptCommand {
  int line = 0;
  std::wstring verb;               // empty for a blank or comment line
  std::vector<std::wstring> args;  // split as the verb's grammar says
};

// Splits one line. False, with a message, when the verb is unknown or its arguments do not fit.
bool ParseScriptLine(const std::wstring& text, int line, ScriptCommand& out, std::wstring& error);

// Splits a whole script (UTF-8 text, byte-order mark allowed) into commands; errors name their line.
std::vector<ScriptCommand> ParseScript(const std::string& utf8, std::vector<std::wstring>& errors);

// The message box answer named by a script word (IDOK, IDCANCEL, IDYES, IDNO, IDABORT, IDRETRY,
// IDIGNORE); 0 when unknown.
int AnswerFromName(const std::wstring& name);
const wchar_t* AnswerName(int answer);
// The answer a message box gets when the script queued none: its first button.
int DefaultAnswer(unsigned flags);
