// The maintainer's signing tool: Ed25519 key pairs and detached signatures, in the text forms the program
// reads (keys and signatures as hexadecimal digits on one line).
//   vorlane-sign keygen SECRET_FILE PUBLIC_FILE
//   vorlane-sign sign SECRET_FILE FILE [SIGNATURE_FILE]      (default FILE.sig)
//   vorlane-sign verify PUBLIC_FILE FILE [SIGNATURE_FILE]    exit 0 valid, 1 not valid
#include <sodium.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace {

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

std::string ToHex(const unsigned char* bytes, size_t size) {
  std::string hex(size * 2 + 1, '\0');
  sodium_bin2hex(&hex[0], hex.size(), bytes, size);
  hex.resize(size * 2);
  return hex;
}

// Reads a file holding exactly size bytes as hexadecimal digits (white space around them ignored).
bool ReadHexFile(const std::string& path, unsigned char* out, size_t size) {
  std::string text;
  if (!ReadFile(path, text)) return false;
  size_t used = 0;
  const char* end = nullptr;
  if (sodium_hex2bin(out, size, text.data(), text.size(), " \t\r\n", &used, &end) != 0) return false;
  if (used != size) return false;
  for (const char* p = end; p < text.data() + text.size(); ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  }
  return true;
}

int Keygen(const std::string& secretPath, const std::string& publicPath) {
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  crypto_sign_keypair(pk, sk);
  bool ok = WriteFile(secretPath, ToHex(sk, sizeof(sk)) + "\n") && WriteFile(publicPath, ToHex(pk, sizeof(pk)) + "\n");
  sodium_memzero(sk, sizeof(sk));
  if (!ok) std::cerr << "vorlane-sign: cannot write the key files\n";
  return ok ? 0 : 2;
}

int Sign(const std::string& secretPath, const std::string& file, const std::string& sigPath) {
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  if (!ReadHexFile(secretPath, sk, sizeof(sk))) {
    std::cerr << "vorlane-sign: " << secretPath << " is not a secret key file\n";
    return 2;
  }
  std::string message;
  if (!ReadFile(file, message)) {
    std::cerr << "vorlane-sign: cannot read " << file << "\n";
    return 2;
  }
  unsigned char sig[crypto_sign_BYTES];
  crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(message.data()), message.size(), sk);
  sodium_memzero(sk, sizeof(sk));
  if (!WriteFile(sigPath, ToHex(sig, sizeof(sig)) + "\n")) {
    std::cerr << "vorlane-sign: cannot write " << sigPath << "\n";
    return 2;
  }
  return 0;
}

int Verify(const std::string& publicPath, const std::string& file, const std::string& sigPath) {
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  unsigned char sig[crypto_sign_BYTES];
  std::string message;
  if (!ReadHexFile(publicPath, pk, sizeof(pk))) {
    std::cerr << "vorlane-sign: " << publicPath << " is not a public key file\n";
    return 2;
  }
  if (!ReadFile(file, message)) {
    std::cerr << "vorlane-sign: cannot read " << file << "\n";
    return 2;
  }
  bool valid = ReadHexFile(sigPath, sig, sizeof(sig)) &&
               crypto_sign_verify_detached(sig, reinterpret_cast<const unsigned char*>(message.data()),
                                           message.size(), pk) == 0;
  std::cout << (valid ? "valid" : "NOT valid") << "\n";
  return valid ? 0 : 1;
}

int Usage() {
  std::cerr << "usage: vorlane-sign keygen SECRET_FILE PUBLIC_FILE\n"
               "       vorlane-sign sign SECRET_FILE FILE [SIGNATURE_FILE]\n"
               "       vorlane-sign verify PUBLIC_FILE FILE [SIGNATURE_FILE]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (sodium_init() < 0) return 2;
  if (argc < 2) return Usage();
  std::string verb = argv[1];
  if (verb == "keygen" && argc == 4) return Keygen(argv[2], argv[3]);
  if ((verb == "sign" || verb == "verify") && (argc == 4 || argc == 5)) {
    std::string sigPath = argc == 5 ? argv[4] : std::string(argv[3]) + ".sig";
    return verb == "sign" ? Sign(argv[2], argv[3], sigPath) : Verify(argv[2], argv[3], sigPath);
  }
  return Usage();
}
