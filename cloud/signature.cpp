#include "cloud/signature.h"

#include <sodium/crypto_sign_ed25519.h>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string& PublicKey() {
  static std::string key = VORLANE_SIGNING_PUBLIC_KEY;
  return key;
}

}  // namespace

bool DecodeHex(const std::string& text, size_t bytes, std::string& out) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  if (end - start != bytes * 2) return false;
  std::string decoded(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) {
    int high = HexValue(text[start + 2 * i]);
    int low = HexValue(text[start + 2 * i + 1]);
    if (high < 0 || low < 0) return false;
    decoded[i] = static_cast<char>(high * 16 + low);
  }
  out.swap(decoded);
  return true;
}

bool VerifySignature(const std::string& message, const std::string& signatureText,
                     const std::string& publicKeyHex) {
  std::string signature;
  std::string key;
  if (!DecodeHex(signatureText, kSignatureBytes, signature)) return false;
  if (!DecodeHex(publicKeyHex, kPublicKeyBytes, key)) return false;
  const auto* sig = reinterpret_cast<const unsigned char*>(signature.data());
  const auto* msg = reinterpret_cast<const unsigned char*>(message.data());
  const auto* pk = reinterpret_cast<const unsigned char*>(key.data());
  return crypto_sign_ed25519_verify_detached(sig, msg, message.size(), pk) == 0;
}

const std::string& BuiltInPublicKey() { return PublicKey(); }

void SetPublicKeyForTests(const std::string& publicKeyHex) { PublicKey() = publicKeyHex; }
