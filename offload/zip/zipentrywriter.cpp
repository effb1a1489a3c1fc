#include "zipentrywriter.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "byteorder.h"
#include "ziprecords.h"

namespace {
using namespace ZipRecords;
// Fields as the zip library writes an encrypted raw entry: version needed 2.0, made by 0,
// flag 1 (encrypted), deflate.
constexpr uint16_t VersionNeeded = 20;
constexpr uint16_t EncryptedFlag = 1;
constexpr uint16_t Deflated = 8;

// The zip library's DOS date and time of the entry.
uint32_t dosDate(const zip_fileinfo *info)
{
    if (info->dosDate)
        return uint32_t(info->dosDate);
    const tm_zip &t = info->tmz_date;
    uLong year = t.tm_year;
    if (year >= 1980)
        year -= 1980;
    else if (year >= 80)
        year -= 80;
    return uint32_t(((t.tm_mday + 32 * (t.tm_mon + 1) + 512 * year) << 16) |
                    (t.tm_sec / 2 + 32 * t.tm_min + 2048 * uLong(t.tm_hour)));
}

bool writeAt(int fd, const unsigned char *data, size_t size, uint64_t at)
{
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, data, size, off_t(at));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        data += put;
        size -= size_t(put);
        at += uint64_t(put);
    }
    return true;
}
} // namespace

ZipEntryWriter::~ZipEntryWriter()
{
    if (m_streamOpen)
        deflateEnd(&m_stream);
    if (m_stored)
        XXH3_freeState(m_stored);
}

uint64_t ZipEntryWriter::storedHash() const
{
    return m_stored ? XXH3_64bits_digest(m_stored) : 0;
}

int ZipEntryWriter::store(const unsigned char *data, size_t size)
{
    XXH3_64bits_update(m_stored, data, size);
    if (m_fd < 0)
        return zipWriteInFileInZip(m_zip, data, unsigned(size));
    if (!writeAt(m_fd, data, size, m_at))
        return ZIP_ERRNO;
    m_at += size;
    m_compressed += size;
    return ZIP_OK;
}

int ZipEntryWriter::startCipher(const char *password, uint32_t crc)
{
    if (deflateInit2(&m_stream, 0, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return ZIP_INTERNALERROR;
    m_streamOpen = true;
    m_out.resize(1 << 17);
    m_crypto = std::make_unique<ZipCrypto>(password);
    m_stored = XXH3_createState();
    XXH3_64bits_reset(m_stored);
    unsigned char header[ZipCrypto::HeaderSize];
    m_crypto->header(crc, header);
    return store(header, sizeof header);
}

int ZipEntryWriter::openDirect(int fd, const char *name, const zip_fileinfo *info,
                               const char *password, uint32_t crc, uint64_t size)
{
    struct stat st = {};
    const size_t nameLength = std::strlen(name);
    if (::fstat(fd, &st) != 0)
        return ZIP_ERRNO;
    const uint64_t fileSize = uint64_t(st.st_size);
    // The archive so far: entries, their records, and an end record without a comment right
    // after them; anything else is left to the zip library.
    uint64_t directory = 0;
    if (fileSize > 0) {
        unsigned char end[EndSize];
        if (fileSize < EndSize || ::pread(fd, end, EndSize, off_t(fileSize - EndSize)) !=
                                        ssize_t(EndSize))
            return NotDirect;
        directory = ByteOrder::getLe32(end + 16);
        const uint32_t length = ByteOrder::getLe32(end + 12);
        m_entries = ByteOrder::getLe16(end + 10);
        if (ByteOrder::getLe32(end) != EndSignature || ByteOrder::getLe16(end + 20) != 0 ||
            ByteOrder::getLe32(end + 4) != 0 || ByteOrder::getLe16(end + 8) != m_entries ||
            directory + length + EndSize != fileSize || m_entries >= 0xFFFE)
            return NotDirect;
        m_directory.resize(length);
        if (::pread(fd, m_directory.data(), length, off_t(directory)) != ssize_t(length))
            return ZIP_ERRNO;
    }
    // The most a stored deflate stream adds: five bytes a block, blocks of 32 KB but the last.
    const uint64_t most = directory + LocalSize + nameLength + ZipCrypto::HeaderSize + size +
                          5 * (size / 16384 + 4) + m_directory.size() + DirectorySize +
                          nameLength + EndSize;
    if (size >= 0xFFFFFFFFu || most >= 0xFFFFFFFFu || nameLength > 0xFFFF)
        return NotDirect;
    m_fd = fd;
    m_raw = true;
    m_localHeader = directory;
    // The entry's record; its CRC and sizes are filled in on close as the local header's are.
    m_record = m_directory.size();
    m_directory.resize(m_record + DirectorySize + nameLength);
    unsigned char *r = m_directory.data() + m_record;
    std::memset(r, 0, DirectorySize);
    ByteOrder::putLe32(r, DirectorySignature);
    ByteOrder::putLe16(r + 6, VersionNeeded);
    ByteOrder::putLe16(r + 8, EncryptedFlag);
    ByteOrder::putLe16(r + 10, Deflated);
    ByteOrder::putLe32(r + 12, dosDate(info));
    ByteOrder::putLe16(r + 28, uint16_t(nameLength));
    ByteOrder::putLe16(r + 36, uint16_t(info->internal_fa));
    ByteOrder::putLe32(r + 38, uint32_t(info->external_fa));
    ByteOrder::putLe32(r + 42, uint32_t(m_localHeader));
    std::memcpy(r + DirectorySize, name, nameLength);
    // The local header: the same fields, CRC and sizes zero until the entry is written.
    std::vector<unsigned char> local(LocalSize + nameLength, 0);
    ByteOrder::putLe32(local.data(), LocalSignature);
    std::memcpy(local.data() + 4, r + 6, 10); // version, flag, method, time and date
    ByteOrder::putLe16(local.data() + 26, uint16_t(nameLength));
    std::memcpy(local.data() + LocalSize, name, nameLength);
    if (!writeAt(fd, local.data(), local.size(), m_localHeader))
        return ZIP_ERRNO;
    m_at = m_localHeader + local.size();
    return startCipher(password, crc);
}

int ZipEntryWriter::closeDirect(uint64_t size, uint32_t crc)
{
    unsigned char *r = m_directory.data() + m_record;
    const uint64_t directory = m_at;
    const uint64_t end = directory + m_directory.size() + EndSize;
    if (size >= 0xFFFFFFFFu || end >= 0xFFFFFFFFu) {
        errno = EFBIG; // the photo grew past what openDirect took it for
        return ZIP_ERRNO;
    }
    ByteOrder::putLe32(r + 16, crc);
    ByteOrder::putLe32(r + 20, uint32_t(m_compressed));
    ByteOrder::putLe32(r + 24, uint32_t(size));
    if (!writeAt(m_fd, r + 16, 12, m_localHeader + 14))
        return ZIP_ERRNO;
    const size_t length = m_directory.size();
    m_directory.resize(length + EndSize, 0);
    unsigned char *e = m_directory.data() + length;
    ByteOrder::putLe32(e, EndSignature);
    ByteOrder::putLe16(e + 8, uint16_t(m_entries + 1));
    ByteOrder::putLe16(e + 10, uint16_t(m_entries + 1));
    ByteOrder::putLe32(e + 12, uint32_t(length));
    ByteOrder::putLe32(e + 16, uint32_t(directory));
    if (!writeAt(m_fd, m_directory.data(), m_directory.size(), directory) ||
        ::ftruncate(m_fd, off_t(end)) != 0)
        return ZIP_ERRNO;
    return ZIP_OK;
}

int ZipEntryWriter::open(zipFile zip, const char *name, const zip_fileinfo *info,
                         const char *password, uint32_t crc, bool zip64)
{
    m_zip = zip;
    m_raw = password != nullptr;
    // Names are flagged UTF-8 (0x800) without a password; an encrypted entry carries flag 1.
    const int status = zipOpenNewFileInZip4_64(
        m_zip, name, info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 0, m_raw ? 1 : 0,
        -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0, m_raw ? 1 : 0x800, zip64 ? 1 : 0);
    if (status != ZIP_OK || !m_raw)
        return status;
    return startCipher(password, crc);
}

int ZipEntryWriter::deflateOut(int flush)
{
    int result;
    do {
        m_stream.next_out = m_out.data();
        m_stream.avail_out = uInt(m_out.size());
        result = deflate(&m_stream, flush);
        if (result == Z_STREAM_ERROR)
            return ZIP_INTERNALERROR;
        const size_t produced = m_out.size() - m_stream.avail_out;
        if (produced) {
            m_crypto->encrypt(m_out.data(), produced);
            const int status = store(m_out.data(), produced);
            if (status != ZIP_OK)
                return status;
        }
    } while (m_stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    return ZIP_OK;
}

int ZipEntryWriter::write(const unsigned char *data, size_t size)
{
    if (!m_raw)
        return zipWriteInFileInZip(m_zip, data, unsigned(size));
    m_stream.next_in = const_cast<Bytef *>(data);
    m_stream.avail_in = uInt(size);
    return deflateOut(Z_NO_FLUSH);
}

int ZipEntryWriter::close(uint64_t size, uint32_t crc)
{
    if (!m_raw)
        return zipCloseFileInZip(m_zip);
    m_stream.next_in = nullptr;
    m_stream.avail_in = 0;
    const int status = deflateOut(Z_FINISH);
    deflateEnd(&m_stream);
    m_streamOpen = false;
    if (status != ZIP_OK)
        return status;
    return m_fd >= 0 ? closeDirect(size, crc) : zipCloseFileInZipRaw64(m_zip, size, crc);
}
