#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <minizip/zip.h>
#include <xxhash.h>
#include <zlib.h>

#include "zipcrypto.h"

// Writes one entry into an archive, deflate level 0. Without a password the zip library
// deflates; with one, the entry is deflated and encrypted here and stored raw (see ZipCrypto).
// An encrypted entry of an archive that needs no ZIP64 records is written here whole, with the
// archive's directory: the zip library would copy and sum every byte once more, a tenth of the
// processor time of an offload with a password. The bytes are the ones the library writes.
class ZipEntryWriter
{
public:
    // What openDirect answers when the archive is one for the zip library.
    static constexpr int NotDirect = 1;

    ZipEntryWriter() = default;
    ~ZipEntryWriter();

    // Into zip, open for adding. crc of the whole entry is needed up front only with a password.
    // ZIP_OK or an error.
    int open(zipFile zip, const char *name, const zip_fileinfo *info, const char *password,
             uint32_t crc, bool zip64);
    // The encrypted entry appended to the archive open on fd (read and write; empty when it is
    // new) in place of its directory, which close() writes after it with the entry's record.
    // NotDirect, leaving the file as it was, for an archive with ZIP64 records or a comment,
    // an entry of 4 GB, or when the archive would pass 4 GB.
    int openDirect(int fd, const char *name, const zip_fileinfo *info, const char *password,
                   uint32_t crc, uint64_t size);
    int write(const unsigned char *data, size_t size);
    int close(uint64_t size, uint32_t crc);
    // With a password: XXH3 of the bytes stored for the entry (encryption header and data),
    // which the verification reads back from the disk without decrypting them. The hash goes
    // into no file, so it is the faster one.
    uint64_t storedHash() const;

private:
    int deflateOut(int flush);
    int store(const unsigned char *data, size_t size);
    int startCipher(const char *password, uint32_t crc);
    int closeDirect(uint64_t size, uint32_t crc);

    zipFile m_zip = nullptr;
    int m_fd = -1; // direct: the archive
    uint64_t m_at = 0; // where the next byte goes
    uint64_t m_localHeader = 0;
    uint64_t m_compressed = 0;
    size_t m_record = 0; // the entry's record in m_directory
    std::vector<unsigned char> m_directory; // the records before the entry's, then the entry's
    uint16_t m_entries = 0;
    bool m_raw = false;
    bool m_streamOpen = false;
    z_stream m_stream{};
    std::unique_ptr<ZipCrypto> m_crypto;
    std::vector<unsigned char> m_out;
    XXH3_state_t *m_stored = nullptr;
};
