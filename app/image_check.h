// Verifying a system image against the SHA-256 its catalogue record gives, before anything is prepared.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

enum ImageVerdict : int {
  kImageNotChecked = 0,  // no expected hash, or the file could not be read (the size checks report that)
  kImageVerified = 1,
  kImageMismatch = 2,    // the file did not match and has been deleted
};

// Hashes the file when expected holds a SHA-256 and compares; a mismatch deletes the file. progress (may
// be empty) receives bytes hashed and the size.
ImageVerdict VerifyImage(const std::wstring& path, const std::wstring& expected,
                         const std::function<void(uint64_t done, uint64_t total)>& progress = {});

