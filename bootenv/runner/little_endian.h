// Little-endian fields of boot sectors and partition tables, read and written byte by byte.
#pragma once
#include <cstdint>

namespace vorlane {

inline uint64_t Le(const unsigned char* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

inline void PutLe(unsigned char* p, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value >>= 8) p[i] = static_cast<unsigned char>(value & 0xFF);
}

}  // namespace vorlane
