#include "app/sandbox_script.h"

#include <windows.h>

#include <cwctype>
#include <sstream>

#include "base/text_format.h"

namespace {

// How a verb's arguments are split: Words takes exactly n blank-separated words; Rest takes the rest of
// the line as one argument; NameTextSeconds takes a word, a text and a final number.
enum class Shape { Words, Rest, NameTextSeconds };

struct VerbSpec {
  const wchar_t* verb;
  Shape shape;
  size_t words;
};

// Add a row here (and its action in sandbox_main.cpp) to give the sandbox a new verb.
const VerbSpec kVerbs[] = {
    {L"click", Shape::Words, 1},
    {L"click-row", Shape::Words, 2},
    {L"answer", Shape::Words, 1},
    {L"answer-after", Shape::Words, 2},
    {L"choose-folder", Shape::Rest, 1},
    {L"choose-file", Shape::Rest, 1},
    {L"wait-enabled", Shape::Words, 2},
    {L"wait-disabled", Shape::Words, 2},
    {L"wait-text", Shape::NameTextSeconds, 3},
    {L"wait-page", Shape::Words, 2},
    {L"wait-msgbox", Shape::Words, 1},
    {L"screenshot", Shape::Rest, 1},
    {L"dump", Shape::Words, 0},
    {L"sleep", Shape::Words, 1},
    {L"close", Shape::Words, 0},
    {L"note", Shape::Rest, 1},
    {L"attach-machine", Shape::Rest, 1},
};

std::vector<std::wstring> Words(const std::wstring& s) {
  std::wistringstream in(s);
  std::vector<std::wstring> out;
  std::wstring w;
  while (in >> w) out.push_back(w);
  return out;
}

bool IsNumber(const std::wstring& s) {
  if (s.empty()) return false;
  for (wchar_t c : s) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

}  // namespace

bool ParseScriptLine(const std::wstring& text, int line, ScriptCommand& out, std::wstring& error) {
  out = ScriptCommand();
  out.line = line;
  std::wstring t = Trim(text);
  if (!t.empty() && t[0] == 0xFEFF) t = Trim(t.substr(1));
  if (t.empty() || t[0] == L'#') return true;
  size_t space = t.find_first_of(L" \t");
  std::wstring verb = t.substr(0, space);
  std::wstring rest = space == std::wstring::npos ? std::wstring() : Trim(t.substr(space));
  const VerbSpec* verbInfo = nullptr;
  for (const VerbSpec& v : kVerbs) {
    if (verb == v.verb) verbInfo = &v;
  }
  if (verbInfo == nullptr) {
    error = L"unknown verb \"" + verb + L"\"";
    return false;
  }
  std::vector<std::wstring> args;
  switch (verbInfo->shape) {
    case Shape::Words:
      args = Words(rest);
      if (args.size() != verbInfo->words) {
        error = verb + L" takes " + std::to_wstring(verbInfo->words) + L" argument(s)";
        return false;
      }
      break;
    case Shape::Rest:
      if (rest.empty()) {
        error = verb + L" needs an argument";
        return false;
      }
      args.push_back(rest);
      break;
    case Shape::NameTextSeconds: {
      size_t first = rest.find_first_of(L" \t");
      size_t last = rest.find_last_of(L" \t");
      if (first == std::wstring::npos || last == first) {
        error = verb + L" takes a name, a text and seconds";
        return false;
      }
      args.push_back(rest.substr(0, first));
      args.push_back(Trim(rest.substr(first, last - first)));
      args.push_back(rest.substr(last + 1));
      break;
    }
  }
  // Numbers where the grammar wants them.
  auto needNumber = [&](size_t i) {
    if (i < args.size() && !IsNumber(args[i])) {
      error = verb + L": \"" + args[i] + L"\" is not a number";
      return false;
    }
    return true;
  };
  if (verb == L"click-row" && !needNumber(0)) return false;
  if ((verb == L"wait-enabled" || verb == L"wait-disabled") && !needNumber(1)) return false;
  if (verb == L"wait-page" && (!needNumber(0) || !needNumber(1))) return false;
  if (verb == L"wait-text" && !needNumber(2)) return false;
  if ((verb == L"wait-msgbox" || verb == L"sleep") && !needNumber(0)) return false;
  if (verb == L"answer" && AnswerFromName(args[0]) == 0) {
    error = L"answer: unknown button \"" + args[0] + L"\"";
    return false;
  }
  if (verb == L"answer-after" && !needNumber(0)) return false;
  if (verb == L"answer-after" && AnswerFromName(args[1]) == 0) {
    error = L"answer-after: unknown button \"" + args[1] + L"\"";
    return false;
  }
  out.verb = verb;
  out.args = args;
  return true;
}

std::vector<ScriptCommand> ParseScript(const std::string& utf8, std::vector<std::wstring>& errors) {
  std::wstring text;
  if (!utf8.empty()) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    text.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], n);
  }
  std::vector<ScriptCommand> commands;
  std::wistringstream in(text);
  std::wstring lineText;
  int line = 0;
  while (std::getline(in, lineText)) {
    ++line;
    ScriptCommand c;
    std::wstring error;
    if (!ParseScriptLine(lineText, line, c, error)) {
      errors.push_back(L"line " + std::to_wstring(line) + L": " + error);
      continue;
    }
    if (!c.verb.empty()) commands.push_back(c);
  }
  return commands;
}

namespace {
const struct {
  const wchar_t* name;
  int value;
} kAnswers[] = {{L"IDOK", IDOK},       {L"IDCANCEL", IDCANCEL}, {L"IDYES", IDYES}, {L"IDNO", IDNO},
                {L"IDABORT", IDABORT}, {L"IDRETRY", IDRETRY},   {L"IDIGNORE", IDIGNORE}};
}  // namespace

int AnswerFromName(const std::wstring& name) {
  for (const auto& a : kAnswers) {
    if (name == a.name) return a.value;
  }
  return 0;
}

const wchar_t* AnswerName(int answer) {
  for (const auto& a : kAnswers) {
    if (answer == a.value) return a.name;
  }
  return L"?";
}

int DefaultAnswer(unsigned flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
      return IDYES;
    case MB_RETRYCANCEL:
      return IDRETRY;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    default:
      return IDOK;
  }
}
