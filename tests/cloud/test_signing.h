// Signing for tests: the development key (the build's default public key) and another key the program
// does not trust, with libsodium's own signing routine.
#pragma once
#include <string>

namespace test_signing {

// Secret keys in hexadecimal (128 digits).
std::string DevelopmentSecret();
std::string OtherSecret();

// A detached signature of message in the program's text form.
std::string Sign(const std::string& secretHex, const std::string& message);

// SHA-256 of bytes in lower-case hexadecimal.
std::string Sha256Hex(const std::string& bytes);

// An update manifest's text.
std::string Manifest(const std::string& version, const std::string& url, size_t size, const std::string& sha256);

}  // namespace test_signing
