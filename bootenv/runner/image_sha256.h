// SHA-256 of image files: libcrypto's implementation (it uses the processor's SHA and vector
// extensions) where the build links it, the portable one from base/ otherwise.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorlane {

class ImageSha256 {
public:
    ImageSha256();
    ~ImageSha256();
    ImageSha256(const ImageSha256&) = delete;
    ImageSha256& operator=(const ImageSha256&) = delete;
    void Update(const void* data, size_t size);
    void Final(uint8_t digest[32]);
    static const char* Implementation();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vorlane
