#include "app/image_check.h"

#include <windows.h>

#include <cwchar>

#include "base/sha256_file.h"

ImageVerdict VerifyImage(const std::wstring& path, const std::wstring& expected,
                         const std::function<void(uint64_t done, uint64_t total)>& progress) {
  if (!IsSha256Hex(expected)) return kImageNotChecked;
  std::string digest;
  bool read = Sha256OfFile(path, digest, [&](uint64_t done, uint64_t total) {
    if (progress) progress(done, total);
    return true;
  });
  if (!read) return kImageNotChecked;
  if (Sha256Equal(digest, expected)) return kImageVerified;
  DeleteFileW(path.c_str());
  return kImageMismatch;
}
