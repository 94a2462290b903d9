// Ed25519 detached signatures over what the maker's server publishes (update manifest, catalogue). The
// public key is built in; the signature travels as text: 128 hexadecimal digits, white space around it
// allowed.
#pragma once
#include <string>

// Length of a public key and of a signature in bytes.
constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;

// Decodes exactly bytes*2 hexadecimal digits (surrounding blanks and line breaks ignored) into out; false
// for anything else.
bool DecodeHex(const std::string& text, size_t bytes, std::string& out);

// True when signatureText is a valid signature of message by the key given as 64 hexadecimal digits.
bool VerifySignature(const std::string& message, const std::string& signatureText,
                     const std::string& publicKeyHex);

// The program's built-in public key (the CMake setting VORLANE_SIGNING_PUBLIC_KEY) in hexadecimal.
const std::string& BuiltInPublicKey();
// Replaces the key the program checks against (tests only; call before any worker starts).
void SetPublicKeyForTests(const std::string& publicKeyHex);
