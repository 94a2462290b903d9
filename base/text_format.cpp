#include "base/text_format.h"

#include <cwchar>
#include <cwctype>
#include <vector>

bool FormatIntoV(wchar_t* buf, size_t cap, const wchar_t* fmt, va_list ap) {
  if (buf == nullptr || cap == 0) return false;
  int n = _vsnwprintf(buf, cap, fmt, ap);
  if (n < 0 || static_cast<size_t>(n) >= cap) {
    buf[cap - 1] = L'\0';
    return false;
  }
  return true;
}

bool FormatInto(wchar_t* buf, size_t cap, const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  bool ok = FormatIntoV(buf, cap, fmt, ap);
  va_end(ap);
  return ok;
}

std::wstring Format(const wchar_t* fmt, ...) {
  std::vector<wchar_t> buf(256);
  for (;;) {
    va_list ap;
    va_start(ap, fmt);
    bool ok = FormatIntoV(buf.data(), buf.size(), fmt, ap);
    va_end(ap);
    if (ok) return std::wstring(buf.data());
    if (buf.size() >= (1u << 24)) return std::wstring(buf.data());
    buf.resize(buf.size() * 4);
  }
}

bool CopyInto(wchar_t* buf, size_t cap, const std::wstring& src) {
  if (buf == nullptr || cap == 0) return false;
  size_t n = src.size() < cap ? src.size() : cap - 1;
  src.copy(buf, n);
  buf[n] = L'\0';
  return src.size() < cap;
}

bool JoinPath(std::wstring& out, const std::wstring& folder, const std::wstring& name) {
  std::wstring joined = folder + L"\\" + name;
  if (joined.size() >= kPathCapacity) return false;
  out = joined;
  return true;
}

std::wstring Trim(const std::wstring& s) {
  size_t b = 0, e = s.size();
  while (b < e && iswspace(s[b])) ++b;
  while (e > b && iswspace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
  return s;
}
