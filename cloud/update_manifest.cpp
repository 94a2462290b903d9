#include "cloud/update_manifest.h"

#include <cstring>
#include <vector>

namespace {

const size_t kMaxVersionParts = 8;
const size_t kMaxPartDigits = 9;
const size_t kMaxUrlLength = 2048;

std::vector<uint32_t> VersionParts(const std::wstring& text) {
  std::vector<uint32_t> parts(1, 0);
  size_t digits = 0;
  for (wchar_t c : text) {
    if (c == L'.') {
      if (digits == 0 || parts.size() == kMaxVersionParts) return {};
      parts.push_back(0);
      digits = 0;
      continue;
    }
    if (c < L'0' || c > L'9' || digits == kMaxPartDigits) return {};
    parts.back() = parts.back() * 10 + static_cast<uint32_t>(c - L'0');
    ++digits;
  }
  if (digits == 0) return {};
  return parts;
}

bool ParseSize(const std::string& text, uint64_t& size) {
  if (text.empty() || text.size() > 12) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value == 0 || value > kMaxInstallerBytes) return false;
  size = value;
  return true;
}

bool ParseSha256(const std::string& text, std::string& hex) {
  if (text.size() != 64) return false;
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  hex = lower;
  return true;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, strlen(prefix), prefix) == 0; }

bool ParseUrl(const std::string& text, std::wstring& url) {
  if (text.size() > kMaxUrlLength) return false;
  if (!StartsWith(text, "http://") && !StartsWith(text, "https://")) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
  }
  url.assign(text.begin(), text.end());
  return true;
}

bool IsPrintableAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
  }
  return true;
}

// Applies one "key=value" line; false for an unknown key, a repeated key or an invalid value.
bool ApplyLine(const std::string& line, UpdateManifest& m, unsigned& seen) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  std::string key = line.substr(0, eq);
  std::string value = line.substr(eq + 1);
  if (!IsPrintableAscii(value)) return false;
  unsigned bit = 0;
  bool ok = false;
  if (key == "version") {
    bit = 1;
    m.version.assign(value.begin(), value.end());
    ok = IsVersionNumber(m.version);
  } else if (key == "url") {
    bit = 2;
    ok = ParseUrl(value, m.url);
  } else if (key == "size") {
    bit = 4;
    ok = ParseSize(value, m.size);
  } else if (key == "sha256") {
    bit = 8;
    ok = ParseSha256(value, m.sha256);
  }
  if (!ok || (seen & bit) != 0) return false;
  seen |= bit;
  return true;
}

}  // namespace

bool IsVersionNumber(const std::wstring& text) { return !VersionParts(text).empty(); }

int CompareVersions(const std::wstring& a, const std::wstring& b) {
  std::vector<uint32_t> pa = VersionParts(a);
  std::vector<uint32_t> pb = VersionParts(b);
  size_t n = pa.size() > pb.size() ? pa.size() : pb.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t x = i < pa.size() ? pa[i] : 0;
    uint32_t y = i < pb.size() ? pb[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool IsNewerVersion(const std::wstring& candidate, const std::wstring& current) {
  if (!IsVersionNumber(candidate) || !IsVersionNumber(current)) return false;
  return CompareVersions(candidate, current) > 0;
}

bool ParseUpdateManifest(const std::string& bytes, UpdateManifest& manifest) {
  UpdateManifest m;
  unsigned seen = 0;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.empty()) continue;
    if (!ApplyLine(line, m, seen)) return false;
  }
  if (seen != 15) return false;
  manifest = m;
  return true;
}
