// The signed update manifest "/update.txt": which installer the server offers, checked by the program
// before anything is downloaded. Lines "key=value" (ASCII, CR LF or LF), all four keys required, once each:
//   version=5.5
//   url=http://host/kxrupdate.exe
//   size=1234567
//   sha256=<64 hexadecimal digits>
// Its detached signature is "/update.txt.sig".
#pragma once
#include <cstdint>
#include <string>

struct UpdateManifest {
  std::wstring version;  // numbers separated by dots
  std::wstring url;      // http:// or https://
  uint64_t size = 0;     // installer size in bytes, 1 to kMaxInstallerBytes
  std::string sha256;    // lower-case hexadecimal
};

// Largest installer the program downloads.
constexpr uint64_t kMaxInstallerBytes = 512ull * 1024 * 1024;

// Parses the manifest's bytes; false when a key is missing, repeated or unknown, or a value is invalid.
bool ParseUpdateManifest(const std::string& bytes, UpdateManifest& manifest);

// True for one to eight decimal numbers (each at most nine digits) separated by single dots.
bool IsVersionNumber(const std::wstring& text);

// Compares two version numbers part by part as numbers ("5.10" > "5.9", "5.4" == "5.4.0"): negative, zero
// or positive. Both must satisfy IsVersionNumber.
int CompareVersions(const std::wstring& a, const std::wstring& b);

// True when candidate is a valid version number greater than current.
bool IsNewerVersion(const std::wstring& candidate, const std::wstring& current);
