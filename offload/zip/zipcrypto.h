#pragma once

#include <cstddef>
#include <cstdint>

// The traditional PKWARE encryption of zip entries. Done here rather than by the zip library,
// whose 64-bit build reads zlib's 32-bit CRC table through 64-bit pointers and so writes
// entries that no other program can decrypt.
class ZipCrypto
{
public:
    static constexpr size_t HeaderSize = 12;

    explicit ZipCrypto(const char *password);
    // The 12-byte encryption header: 10 random bytes, then the two high bytes of the entry's
    // CRC, encrypted; the keys go on from there for the entry's data.
    void header(uint32_t crc, unsigned char *out);
    void encrypt(unsigned char *data, size_t size);
    void decrypt(unsigned char *data, size_t size);

private:
    template <bool Encrypt> void run(unsigned char *data, size_t size);

    uint32_t m_keys[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};
