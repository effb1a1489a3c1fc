#include "zipcrypto.h"

#include <random>

#include <zlib.h>

namespace {
uint32_t crcStep(uint32_t crc, uint8_t byte)
{
    static const z_crc_t *table = get_crc_table();
    return uint32_t(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}
} // namespace

ZipCrypto::ZipCrypto(const char *password)
{
    for (const char *p = password; *p; ++p)
        update(uint8_t(*p));
}

uint8_t ZipCrypto::streamByte() const
{
    const uint32_t t = (m_keys[2] & 0xFFFF) | 2;
    return uint8_t((t * (t ^ 1)) >> 8);
}

void ZipCrypto::update(uint8_t plain)
{
    m_keys[0] = crcStep(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = crcStep(m_keys[2], uint8_t(m_keys[1] >> 24));
}

void ZipCrypto::header(uint32_t crc, unsigned char *out)
{
    std::random_device random;
    for (size_t i = 0; i < HeaderSize - 2; ++i)
        out[i] = uint8_t(random());
    out[HeaderSize - 2] = uint8_t(crc >> 16);
    out[HeaderSize - 1] = uint8_t(crc >> 24);
    encrypt(out, HeaderSize);
}

void ZipCrypto::encrypt(unsigned char *data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const uint8_t plain = data[i];
        data[i] = plain ^ streamByte();
        update(plain);
    }
}

void ZipCrypto::decrypt(unsigned char *data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const uint8_t plain = data[i] ^ streamByte();
        data[i] = plain;
        update(plain);
    }
}
