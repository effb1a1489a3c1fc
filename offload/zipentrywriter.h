#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <minizip/zip.h>
#include <xxhash.h>
#include <zlib.h>

#include "zipcrypto.h"

// Writes one entry into an open archive, deflate level 0. Without a password the zip library
// deflates; with one, the entry is deflated and encrypted here and stored raw (see ZipCrypto).
class ZipEntryWriter
{
public:
    explicit ZipEntryWriter(zipFile zip)
        : m_zip(zip)
    {}
    ~ZipEntryWriter();

    // crc of the whole entry is needed up front only with a password. ZIP_OK or an error.
    int open(const char *name, const zip_fileinfo *info, const char *password, uint32_t crc,
             bool zip64);
    int write(const unsigned char *data, size_t size);
    int close(uint64_t size, uint32_t crc);
    // With a password: XXH3 of the bytes stored for the entry (encryption header and data),
    // which the verification reads back from the disk without decrypting them. The hash goes
    // into no file, so it is the faster one.
    uint64_t storedHash() const;

private:
    int deflateOut(int flush);
    int store(const unsigned char *data, size_t size);

    zipFile m_zip;
    bool m_raw = false;
    bool m_streamOpen = false;
    z_stream m_stream{};
    std::unique_ptr<ZipCrypto> m_crypto;
    std::vector<unsigned char> m_out;
    XXH3_state_t *m_stored = nullptr;
};
