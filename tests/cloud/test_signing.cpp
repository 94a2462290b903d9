#include "test_signing.h"

#include <sodium/crypto_sign_ed25519.h>

#include "base/sha256.h"
#include "cloud/signature.h"

namespace test_signing {

std::string DevelopmentSecret() { return VORLANE_TEST_DEVELOPMENT_SECRET; }
std::string OtherSecret() { return VORLANE_TEST_OTHER_SECRET; }

std::string Sign(const std::string& secretHex, const std::string& message) {
  std::string secret;
  if (!DecodeHex(secretHex, 64, secret)) return std::string();
  unsigned char sig[64];
  crypto_sign_ed25519_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                               message.size(), reinterpret_cast<const unsigned char*>(secret.data()));
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : sig) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return hex + "\n";
}

std::string Sha256Hex(const std::string& bytes) {
  vorlane::Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  uint8_t digest[32];
  hash.Final(digest);
  return vorlane::Sha256::Hex(digest);
}

std::string Manifest(const std::string& version, const std::string& url, size_t size, const std::string& sha256) {
  return "version=" + version + "\r\nurl=" + url + "\r\nsize=" + std::to_string(size) + "\r\nsha256=" + sha256 + "\r\n";
}

}  // namespace test_signing
