#include "cloud/delimited_text.h"

#include <climits>

DelimitedScanner::DelimitedScanner(const std::wstring& text, const std::wstring& left, const std::wstring& right)
    : text_(text), left_(left), right_(right) {}

bool DelimitedScanner::Next() {
  if (left_.empty() || searchFrom_ > text_.size()) {
    match_ = std::wstring::npos;
    return false;
  }
  match_ = text_.find(left_, searchFrom_);
  if (match_ == std::wstring::npos) return false;
  searchFrom_ = match_ + 1;
  return true;
}

std::wstring DelimitedScanner::Current() const {
  if (match_ == std::wstring::npos) return std::wstring();
  size_t start = match_ + left_.size();
  size_t end = text_.find(right_, start);
  if (end == std::wstring::npos || end == start) return std::wstring();
  return text_.substr(start, end - start);
}

std::wstring TextBetween(const std::wstring& text, const std::wstring& left, const std::wstring& right, int k) {
  if (k < 1) return std::wstring();
  DelimitedScanner scanner(text, left, right);
  for (int i = 0; i < k; ++i) {
    if (!scanner.Next()) return std::wstring();
  }
  return scanner.Current();
}

namespace {
// ASCII blanks, and the full-width space (U+3000) that text typed in code page 936 often carries.
bool IsLeadingBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r') || c == L'\u3000'; }
}  // namespace

int32_t ParseDecimal(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && IsLeadingBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}
