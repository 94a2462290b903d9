// The rules of the version check, on values: trimming the published version and deciding on the offer.
#pragma once
#include <string>

// The program's own version.
extern const wchar_t kProgramVersion[];  // "5.4"

// Longest published version text (after trimming) that is still compared.
constexpr size_t kMaxVersionLength = 20;

// True for every character that counts as wide white space: blank, tab, carriage return, line feed,
// vertical tab, form feed and the other Unicode spaces.
bool IsWideSpace(wchar_t c);

// Removes white space at the end, then at the start.
std::wstring TrimWideSpace(const std::wstring& text);

// What the fetched "/banben.txt" means. offer is true when the trimmed text is a version number greater
// than ours, compared as numbers ("5.10" > "5.9"); version holds the trimmed text.
struct VersionVerdict {
  bool offer = false;
  std::wstring version;
};
VersionVerdict JudgeServerVersion(const std::wstring& fetchedText);
