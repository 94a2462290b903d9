// Bounded wide-text formatting. Formats follow the system library's conventions (%s a wide string, %c a
// wide character). A result that does not fit is reported, never silently cut into another text.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

// Formats into buf (capacity cap units, including the NUL). Answers false when the text did not fit; the
// buffer then holds a NUL-terminated prefix.
bool FormatInto(wchar_t* buf, size_t cap, const wchar_t* fmt, ...);
bool FormatIntoV(wchar_t* buf, size_t cap, const wchar_t* fmt, va_list ap);

template <size_t N>
bool FormatInto(wchar_t (&buf)[N], const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  bool ok = FormatIntoV(buf, N, fmt, ap);
  va_end(ap);
  return ok;
}

// Formats into a new string of any length.
std::wstring Format(const wchar_t* fmt, ...);

// Copies src into buf (capacity cap); false, with buf holding a cut copy, when it does not fit.
bool CopyInto(wchar_t* buf, size_t cap, const std::wstring& src);

// Path capacity used by the program's fixed buffers.
constexpr size_t kPathCapacity = 260;

// Joins folder and name with a backslash ("%s\%s"); false when the result would not fit kPathCapacity.
bool JoinPath(std::wstring& out, const std::wstring& folder, const std::wstring& name);

// The text without leading and trailing white space (iswspace).
std::wstring Trim(const std::wstring& s);
// The text with every character lowered (towlower).
std::wstring Lower(std::wstring s);
