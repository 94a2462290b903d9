#include "base/file_name_rule.h"

#include <cwchar>

namespace {

constexpr const wchar_t* kDeviceNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
constexpr const wchar_t* kNumberedDevices[] = {L"COM", L"LPT"};

bool IsForbiddenCharacter(wchar_t c) {
  if (c < 32) return true;
  return wcschr(L"\\/:*?\"<>|", c) != nullptr;
}

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b) {
  size_t n = wcslen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (Upper(a[i]) != b[i]) return false;
  return true;
}

// "1" to "9", and the superscript digits the system also takes as port numbers.
bool IsPortDigit(wchar_t c) { return (c >= L'1' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3'; }

}  // namespace

bool IsDeviceName(const std::wstring& name) {
  std::wstring base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (const wchar_t* device : kDeviceNames)
    if (EqualsIgnoringCase(base, device)) return true;
  if (base.size() != 4 || !IsPortDigit(base[3])) return false;
  for (const wchar_t* prefix : kNumberedDevices)
    if (EqualsIgnoringCase(base.substr(0, 3), prefix)) return true;
  return false;
}

bool IsUsableFileName(const std::wstring& name) {
  if (name.empty() || name.size() > kMaxImageFileNameLength) return false;
  if (name == L"." || name == L"..") return false;
  for (wchar_t c : name)
    if (IsForbiddenCharacter(c)) return false;
  wchar_t last = name.back();
  if (last == L'.' || last == L' ') return false;
  return !IsDeviceName(name);
}
