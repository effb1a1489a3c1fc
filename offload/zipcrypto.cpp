#include "zipcrypto.h"

#include <random>

#include <zlib.h>

namespace {
const z_crc_t *crcTable()
{
    static const z_crc_t *const table = get_crc_table();
    return table;
}

// The cipher's three keys, kept in registers for a whole buffer: every byte depends on the one
// before it, so the loop is only as fast as one step's chain of table reads and a multiply.
struct Keys
{
    uint32_t k0, k1, k2;
    const z_crc_t *table;

    uint8_t streamByte() const
    {
        const uint32_t t = (k2 & 0xFFFF) | 2;
        return uint8_t((t * (t ^ 1)) >> 8);
    }
    void update(uint8_t plain)
    {
        k0 = uint32_t(table[(k0 ^ plain) & 0xFF]) ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = uint32_t(table[(k2 ^ (k1 >> 24)) & 0xFF]) ^ (k2 >> 8);
    }
};
} // namespace

ZipCrypto::ZipCrypto(const char *password)
{
    Keys keys{m_keys[0], m_keys[1], m_keys[2], crcTable()};
    for (const char *p = password; *p; ++p)
        keys.update(uint8_t(*p));
    m_keys[0] = keys.k0;
    m_keys[1] = keys.k1;
    m_keys[2] = keys.k2;
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

template <bool Encrypt> void ZipCrypto::run(unsigned char *data, size_t size)
{
    Keys keys{m_keys[0], m_keys[1], m_keys[2], crcTable()};
    for (size_t i = 0; i < size; ++i) {
        const uint8_t stream = keys.streamByte();
        const uint8_t plain = Encrypt ? data[i] : uint8_t(data[i] ^ stream);
        data[i] = Encrypt ? uint8_t(plain ^ stream) : plain;
        keys.update(plain);
    }
    m_keys[0] = keys.k0;
    m_keys[1] = keys.k1;
    m_keys[2] = keys.k2;
}

void ZipCrypto::encrypt(unsigned char *data, size_t size)
{
    run<true>(data, size);
}

void ZipCrypto::decrypt(unsigned char *data, size_t size)
{
    run<false>(data, size);
}
