#include "engine/http_rules.h"

#include <cwctype>

namespace {

bool ReadNumber(const std::wstring& t, size_t* pos, int64_t* out) {
  size_t p = *pos;
  int64_t v = 0;
  size_t digits = 0;
  while (p < t.size() && t[p] >= L'0' && t[p] <= L'9') {
    if (v > (INT64_MAX - 9) / 10) return false;
    v = v * 10 + (t[p] - L'0');
    ++p;
    ++digits;
  }
  if (digits == 0) return false;
  *pos = p;
  *out = v;
  return true;
}

void SkipBlanks(const std::wstring& t, size_t* pos) {
  while (*pos < t.size() && (t[*pos] == L' ' || t[*pos] == L'\t')) ++*pos;
}

}  // namespace

bool ParseContentRange(const std::wstring& text, ContentRange* out) {
  size_t p = 0;
  SkipBlanks(text, &p);
  if (text.compare(p, 5, L"bytes") != 0) return false;
  p += 5;
  SkipBlanks(text, &p);
  ContentRange r;
  if (!ReadNumber(text, &p, &r.first) || p >= text.size() || text[p] != L'-') return false;
  ++p;
  if (!ReadNumber(text, &p, &r.last) || p >= text.size() || text[p] != L'/') return false;
  ++p;
  if (p < text.size() && text[p] == L'*') {
    r.total = -1;
    ++p;
  } else if (!ReadNumber(text, &p, &r.total)) {
    return false;
  }
  SkipBlanks(text, &p);
  if (p != text.size() || r.last < r.first) return false;
  if (r.total >= 0 && r.last >= r.total) return false;
  *out = r;
  return true;
}

bool ParseDecimal64(const std::wstring& text, int64_t* out) {
  size_t p = 0;
  SkipBlanks(text, &p);
  int64_t v = 0;
  if (!ReadNumber(text, &p, &v)) return false;
  SkipBlanks(text, &p);
  if (p != text.size()) return false;
  *out = v;
  return true;
}

StatusClass ClassifyStatus(int status) {
  if (status == 200) return StatusClass::kFull;
  if (status == 206) return StatusClass::kPartial;
  if (status == 416) return StatusClass::kRangeError;
  if (status == 408 || status == 425 || status == 429 || (status >= 500 && status <= 599)) {
    return StatusClass::kTransient;
  }
  return StatusClass::kFatal;
}

bool PartialAnswerFits(const ContentRange& range, int64_t from, int64_t to, int64_t knownTotal) {
  if (range.first != from) return false;
  if (range.last >= to) return false;
  if (knownTotal >= 0 && range.total != knownTotal) return false;
  return true;
}

std::wstring IfRangeValidator(const std::wstring& etag, const std::wstring& lastModified) {
  if (!etag.empty() && etag.compare(0, 2, L"W/") != 0) return etag;
  return lastModified;
}

bool SameFileVersion(const std::string& etagA, const std::string& modifiedA, int64_t sizeA,
                     const std::string& etagB, const std::string& modifiedB, int64_t sizeB) {
  if (sizeA >= 0 && sizeB >= 0 && sizeA != sizeB) return false;
  if (!etagA.empty() && !etagB.empty()) return etagA == etagB;
  if (!modifiedA.empty() && !modifiedB.empty()) return modifiedA == modifiedB;
  return true;
}

uint32_t RetryDelayMs(int attempt, int retryAfterSeconds, uint32_t random) {
  if (retryAfterSeconds >= 0) {
    int seconds = retryAfterSeconds > 60 ? 60 : retryAfterSeconds;
    return static_cast<uint32_t>(seconds) * 1000u + random % 250u;
  }
  uint32_t base = 500;
  for (int i = 0; i < attempt && base < 30000; ++i) base *= 2;
  if (base > 30000) base = 30000;
  // base * (0.75 .. 1.25)
  uint32_t spread = base / 2;
  return base - base / 4 + (spread ? random % spread : 0);
}

int ParseRetryAfter(const std::wstring& text) {
  int64_t v = 0;
  if (!ParseDecimal64(text, &v)) return -1;
  return v > 3600 ? 3600 : static_cast<int>(v);
}

std::string NarrowAscii(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

std::wstring WidenAscii(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
  return out;
}

bool IsRedirectDowngrade(bool sentSecure, const std::wstring& finalUrl) {
  if (!sentSecure || finalUrl.empty()) return false;
  static const wchar_t kSecureScheme[] = L"https://";
  if (finalUrl.size() < 8) return true;
  for (size_t i = 0; i < 8; ++i) {
    wchar_t c = finalUrl[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != kSecureScheme[i]) return true;
  }
  return false;
}
