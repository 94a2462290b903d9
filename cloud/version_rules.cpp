#include "cloud/version_rules.h"

#include "cloud/update_manifest.h"

const wchar_t kProgramVersion[] = L"5.4";

bool IsWideSpace(wchar_t c) {
  if (c == L' ' || (c >= 0x09 && c <= 0x0D)) return true;
  switch (c) {
    case 0x0085: case 0x00A0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::wstring TrimWideSpace(const std::wstring& text) {
  size_t end = text.size();
  while (end > 0 && IsWideSpace(text[end - 1])) --end;
  size_t start = 0;
  while (start < end && IsWideSpace(text[start])) ++start;
  return text.substr(start, end - start);
}

VersionVerdict JudgeServerVersion(const std::wstring& fetchedText) {
  VersionVerdict verdict;
  if (fetchedText.empty()) return verdict;
  verdict.version = TrimWideSpace(fetchedText);
  if (verdict.version.size() > kMaxVersionLength) return verdict;
  verdict.offer = IsNewerVersion(verdict.version, kProgramVersion);
  return verdict;
}
