#include "base/sha256_file.h"

#include <windows.h>

#include <vector>

#include "base/unique_handle.h"

std::string Sha256::HexDigest() {
  uint8_t digest[32];
  core_.Final(digest);
  return vorlane::Sha256::Hex(digest);
}

bool Sha256OfFile(const std::wstring& path, std::string& hexDigest,
                  const std::function<bool(uint64_t, uint64_t)>& progress) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size)) return false;
  std::vector<uint8_t> buf(1 << 20);
  Sha256 hash;
  uint64_t done = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) return false;
    if (got == 0) break;
    hash.Update(buf.data(), got);
    done += got;
    if (progress && !progress(done, static_cast<uint64_t>(size.QuadPart))) return false;
  }
  hexDigest = hash.HexDigest();
  return true;
}

bool IsSha256Hex(const std::wstring& text) {
  if (text.size() != 64) return false;
  for (wchar_t c : text) {
    bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (!hex) return false;
  }
  return true;
}

bool Sha256Equal(const std::string& digest, const std::wstring& expected) {
  if (digest.size() != expected.size()) return false;
  for (size_t i = 0; i < digest.size(); ++i) {
    wchar_t a = static_cast<wchar_t>(towlower(static_cast<unsigned char>(digest[i])));
    if (a != towlower(expected[i])) return false;
  }
  return true;
}
