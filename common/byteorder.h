#pragma once

#include <cstdint>
#include <cstring>

// Big- and little-endian field access for every on-wire and on-disk record: the camera's frames
// and POS records, the engine's task record, zip headers, EXIF. No record is ever read by casting
// a pointer onto a struct.
namespace ByteOrder {

inline uint16_t getBe16(const uint8_t *p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

inline uint32_t getBe32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void putBe16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

inline void putBe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

inline uint16_t getLe16(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

inline uint32_t getLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t getLe64(const uint8_t *p)
{
    return uint64_t(getLe32(p)) | uint64_t(getLe32(p + 4)) << 32;
}

inline void putLe16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void putLe32(uint8_t *p, uint32_t v)
{
    putLe16(p, uint16_t(v));
    putLe16(p + 2, uint16_t(v >> 16));
}

inline void putLe64(uint8_t *p, uint64_t v)
{
    putLe32(p, uint32_t(v));
    putLe32(p + 4, uint32_t(v >> 32));
}

inline void putLeDouble(uint8_t *p, double v)
{
    uint64_t bits;
    static_assert(sizeof bits == sizeof v, "IEEE double expected");
    std::memcpy(&bits, &v, sizeof bits);
    putLe64(p, bits);
}

inline double getLeDouble(const uint8_t *p)
{
    const uint64_t bits = getLe64(p);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace ByteOrder
