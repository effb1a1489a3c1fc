#pragma once

#include "byteorder.h"

#include <cstddef>
#include <cstdint>

// Little-endian field writer over a fixed buffer, usable in a signal handler. Writing past the
// end sets a flag instead of overrunning; the caller rolls back with truncate().
class ByteWriter
{
public:
    ByteWriter(uint8_t *data, size_t capacity) : m_data(data), m_capacity(capacity) {}

    void u8(uint8_t value)
    {
        if (m_size >= m_capacity) {
            m_overflow = true;
            return;
        }
        m_data[m_size++] = value;
    }
    void u16(uint16_t value)
    {
        u8(uint8_t(value));
        u8(uint8_t(value >> 8));
    }
    void u32(uint32_t value)
    {
        u16(uint16_t(value));
        u16(uint16_t(value >> 16));
    }
    void u64(uint64_t value)
    {
        u32(uint32_t(value));
        u32(uint32_t(value >> 32));
    }
    void bytes(const void *data, size_t size)
    {
        const auto *p = static_cast<const uint8_t *>(data);
        for (size_t i = 0; i < size; ++i)
            u8(p[i]);
    }
    void zeros(size_t size)
    {
        for (size_t i = 0; i < size; ++i)
            u8(0);
    }
    void alignTo(size_t alignment)
    {
        while (m_size % alignment != 0 && !m_overflow)
            u8(0);
    }
    void patchU32(size_t at, uint32_t value)
    {
        if (at + 4 > m_size)
            return;
        ByteOrder::putLe32(m_data + at, value);
    }
    void truncate(size_t size)
    {
        if (size < m_size)
            m_size = size;
        m_overflow = false;
    }

    size_t size() const { return m_size; }
    size_t remaining() const { return m_capacity - m_size; }
    bool overflowed() const { return m_overflow; }

private:
    uint8_t *m_data;
    size_t m_capacity;
    size_t m_size = 0;
    bool m_overflow = false;
};
