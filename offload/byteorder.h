#pragma once

#include <cstdint>
#include <cstring>

// Little-endian field access for the engine's on-disk records; never cast a struct onto bytes.
namespace ByteOrder {

inline void putLe32(unsigned char *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint32_t getLe32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void putLe64(unsigned char *p, uint64_t v)
{
    putLe32(p, uint32_t(v));
    putLe32(p + 4, uint32_t(v >> 32));
}

inline uint64_t getLe64(const unsigned char *p)
{
    return uint64_t(getLe32(p)) | uint64_t(getLe32(p + 4)) << 32;
}

inline uint16_t getLe16(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

inline void putLeDouble(unsigned char *p, double v)
{
    uint64_t bits;
    static_assert(sizeof bits == sizeof v, "IEEE double expected");
    std::memcpy(&bits, &v, sizeof bits);
    putLe64(p, bits);
}

inline double getLeDouble(const unsigned char *p)
{
    const uint64_t bits = getLe64(p);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace ByteOrder
