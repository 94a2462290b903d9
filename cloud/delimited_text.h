// Text pieces between delimiters, as the catalogue text uses them ("<line>...</line>" records, "|" fields).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The k-th text (k = 1, 2, ...) between a left and a right delimiter: the left delimiter is found k times,
// each search starting one character after the previous match; the text after the k-th match is cut at the
// first right delimiter. Empty when the left delimiter occurs fewer than k times, when the right delimiter
// follows at once or when it does not occur after the match.
std::wstring TextBetween(const std::wstring& text, const std::wstring& left, const std::wstring& right, int k);

// The same walk one match at a time, so that reading every record of a long text stays linear: each call
// finds the next left delimiter from the scanner's position and answers the text after it (empty in the
// cases above). Found() turns false once no further left delimiter exists.
class DelimitedScanner {
 public:
  DelimitedScanner(const std::wstring& text, const std::wstring& left, const std::wstring& right);
  // Moves to the next match; false when the left delimiter does not occur again.
  bool Next();
  // The text between the current match and the following right delimiter (empty when there is none).
  std::wstring Current() const;

 private:
  const std::wstring& text_;
  std::wstring left_, right_;
  size_t searchFrom_ = 0;
  size_t match_ = std::wstring::npos;
};

// A decimal number as the catalogue reads it: leading white space (ASCII blanks and the full-width space)
// skipped, an optional sign, then digits up to the first other character; 0 when there are no digits.
// Values beyond 32 bits are held at the limits.
int32_t ParseDecimal(const std::wstring& text);
