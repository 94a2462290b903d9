// SHA-256 of bytes and of files, for verifying downloaded system images. Our own implementation: the
// systems we support do not all offer SHA-256 through their crypto services.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/sha256.h"

// The program's streaming hash: the portable core the boot environment's runner uses too, with a hex result.
class Sha256 {
 public:
  void Update(const void* data, size_t size) { core_.Update(data, size); }
  // Finishes the hash; the object must not be updated afterwards.
  std::string HexDigest();

 private:
  vorlane::Sha256 core_;
};

// Hashes a whole file. progress (may be empty) receives bytes hashed so far and the size, and may answer
// false to abandon. Answers false when the file cannot be read or the hash was abandoned.
bool Sha256OfFile(const std::wstring& path, std::string& hexDigest,
                  const std::function<bool(uint64_t done, uint64_t total)>& progress = {});

// True when text is 64 hexadecimal digits.
bool IsSha256Hex(const std::wstring& text);
// Compares a digest with an expected one, ignoring the case of the letters.
bool Sha256Equal(const std::string& digest, const std::wstring& expected);
