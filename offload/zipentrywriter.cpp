#include "zipentrywriter.h"

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
    return zipWriteInFileInZip(m_zip, data, unsigned(size));
}

int ZipEntryWriter::open(const char *name, const zip_fileinfo *info, const char *password,
                         uint32_t crc, bool zip64)
{
    m_raw = password != nullptr;
    // Names are flagged UTF-8 (0x800) without a password; an encrypted entry carries flag 1.
    const int status = zipOpenNewFileInZip4_64(
        m_zip, name, info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 0, m_raw ? 1 : 0,
        -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0, m_raw ? 1 : 0x800, zip64 ? 1 : 0);
    if (status != ZIP_OK || !m_raw)
        return status;
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
    return zipCloseFileInZipRaw64(m_zip, size, crc);
}
