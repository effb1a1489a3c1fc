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

namespace {
// Tables for enciphering two bytes a step. Each of the three keys is a chain through every byte,
// about eight cycles a byte through a table read; all three are linear in the bytes that feed
// them (k0 and k2 are CRC-32 registers, k1 an affine step modulo 2^32), so the key two bytes on
// is reached from the key now in one step: CRC-32 slicing by two for k0 and k2, the multiplier
// squared for k1. The chains then take half the steps, which the processor overlaps.
struct PairTables
{
    uint32_t crc2[256]; // a byte's CRC-32 register after one more zero byte
    uint32_t k1Add[256]; // the low byte of k0 times the multiplier, plus one
    uint8_t stream[1 << 14]; // the stream byte by bits 2..15 of k2 (bit 1 is forced, bit 0 is
                             // the same either way: t * (t ^ 1) is the same pair of numbers)

    PairTables()
    {
        const z_crc_t *table = crcTable();
        for (uint32_t i = 0; i < 256; ++i) {
            crc2[i] = uint32_t(table[table[i] & 0xFF]) ^ (uint32_t(table[i]) >> 8);
            k1Add[i] = i * 134775813u + 1;
        }
        for (uint32_t i = 0; i < (1u << 14); ++i) {
            const uint32_t t = (i << 2) | 2;
            stream[i] = uint8_t((t * (t ^ 1)) >> 8);
        }
    }
};

const PairTables &pairTables()
{
    static const PairTables tables;
    return tables;
}
} // namespace

template <bool Encrypt> void ZipCrypto::run(unsigned char *data, size_t size)
{
    Keys keys{m_keys[0], m_keys[1], m_keys[2], crcTable()};
    size_t i = 0;
    if constexpr (Encrypt) {
        // Deciphering cannot go two bytes a step: the second byte's plain text is only known
        // once the first one's key is.
        const PairTables &p = pairTables();
        const z_crc_t *t = keys.table;
        constexpr uint32_t Mul = 134775813u;
        constexpr uint32_t Mul2 = Mul * Mul;
        uint32_t k0 = keys.k0, k1 = keys.k1, k2 = keys.k2;
        for (; i + 2 <= size; i += 2) {
            const uint8_t p0 = data[i], p1 = data[i + 1];
            const uint32_t a = (k0 ^ p0) & 0xFF, b = ((k0 >> 8) ^ p1) & 0xFF;
            const uint32_t k0First = uint32_t(t[a]) ^ (k0 >> 8);
            k0 = p.crc2[a] ^ uint32_t(t[b]) ^ (k0 >> 16);
            const uint32_t add0 = p.k1Add[k0First & 0xFF], add1 = p.k1Add[k0 & 0xFF];
            const uint32_t k1First = k1 * Mul + add0;
            k1 = k1 * Mul2 + (add0 * Mul + add1);
            const uint32_t before = k2;
            const uint32_t c = (k2 ^ (k1First >> 24)) & 0xFF, d = ((k2 >> 8) ^ (k1 >> 24)) & 0xFF;
            const uint32_t k2First = uint32_t(t[c]) ^ (k2 >> 8);
            k2 = p.crc2[c] ^ uint32_t(t[d]) ^ (k2 >> 16);
            data[i] = p0 ^ p.stream[(before >> 2) & 0x3FFF];
            data[i + 1] = p1 ^ p.stream[(k2First >> 2) & 0x3FFF];
        }
        keys.k0 = k0;
        keys.k1 = k1;
        keys.k2 = k2;
    }
    for (; i < size; ++i) {
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
