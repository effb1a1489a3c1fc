// Explicit byte-order helpers for every on-wire and on-disk field the library touches; no record
// is ever read by casting a pointer onto a struct.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vived {

inline uint16_t getBe16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t getBe32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint16_t getLe16(const uint8_t *p) { return uint16_t(p[1] << 8 | p[0]); }

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
inline void putLe16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// Sequential reader over an untrusted buffer: a read past the end yields zeros and clears ok(),
// so a decoder reads all its fields and checks once.
class ByteReader
{
public:
    ByteReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    uint8_t u8() { return take(1) ? m_data[m_pos - 1] : 0; }
    uint16_t be16() { return take(2) ? getBe16(m_data + m_pos - 2) : 0; }
    uint32_t be32() { return take(4) ? getBe32(m_data + m_pos - 4) : 0; }
    uint16_t le16() { return take(2) ? getLe16(m_data + m_pos - 2) : 0; }
    const uint8_t *bytes(size_t n) { return take(n) ? m_data + m_pos - n : nullptr; }
    size_t remaining() const { return m_size - m_pos; }
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_ok && m_pos == m_size; }

private:
    bool take(size_t n)
    {
        if (!m_ok || n > m_size - m_pos) {
            m_ok = false;
            return false;
        }
        m_pos += n;
        return true;
    }

    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

} // namespace vived
