// SHA-256 (FIPS 180-4), streaming.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlane {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, size_t size);
    void Final(uint8_t digest[32]);
    static std::string Hex(const uint8_t digest[32]);

private:
    void Block(const uint8_t* block);
    uint32_t state_[8];
    uint64_t length_ = 0;
    uint8_t buffer_[64];
    size_t used_ = 0;
};

}  // namespace vorlane
