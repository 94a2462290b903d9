#include "image_sha256.h"

#ifdef VORLANE_LIBCRYPTO_SHA256
// The one-call digest functions: the provider layer, linked statically, would pull in networking and
// dynamic loading that the static runner has no use for.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>
#else
#include "base/sha256.h"
#endif

namespace vorlane {

#ifdef VORLANE_LIBCRYPTO_SHA256
struct ImageSha256::State {
    SHA256_CTX context;
};
ImageSha256::ImageSha256() : state_(new State) { SHA256_Init(&state_->context); }
void ImageSha256::Update(const void* data, size_t size) { SHA256_Update(&state_->context, data, size); }
void ImageSha256::Final(uint8_t digest[32]) { SHA256_Final(digest, &state_->context); }
const char* ImageSha256::Implementation() { return "libcrypto"; }
#else
struct ImageSha256::State {
    Sha256 sha;
};
ImageSha256::ImageSha256() : state_(new State) {}
void ImageSha256::Update(const void* data, size_t size) { state_->sha.Update(data, size); }
void ImageSha256::Final(uint8_t digest[32]) { state_->sha.Final(digest); }
const char* ImageSha256::Implementation() { return "portable"; }
#endif

ImageSha256::~ImageSha256() = default;

}  // namespace vorlane
