#include "zipentries.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <minizip/unzip.h>
#include <zlib.h>

#include "zipcrypto.h"

namespace {

constexpr size_t kChunk = 1 << 20;

// The current entry's data as stored: the zip library hands the raw bytes and the engine's own
// decryption (the library's breaks on 64-bit builds) and inflate turn them back into the photo,
// whose CRC-32 and size must be the ones the central directory recorded.
bool readCurrentEntry(unzFile zip, const unz_file_info64 &info, const std::string &password,
                      const ZipEntries::Sink &sink)
{
    int method = 0;
    int level = 0;
    if ((info.compression_method != 0 && info.compression_method != Z_DEFLATED) ||
        unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK)
        return false;
    std::unique_ptr<ZipCrypto> crypto;
    size_t header = 0; // encryption header bytes still to pass
    if (info.flag & 1) {
        crypto = std::make_unique<ZipCrypto>(password.c_str());
        header = ZipCrypto::HeaderSize;
    }
    z_stream stream = {};
    const bool deflated = method == Z_DEFLATED;
    bool ok = !deflated || inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    int inflated = deflated ? Z_OK : Z_STREAM_END;
    uLong crc = ::crc32(0, nullptr, 0);
    uint64_t size = 0;
    thread_local std::vector<unsigned char> chunk(kChunk);
    thread_local std::vector<unsigned char> plain(kChunk);
    const auto take = [&](const unsigned char *data, size_t length) {
        crc = ::crc32_z(crc, data, length);
        size += length;
        sink(data, length);
    };
    int got = 0;
    while (ok && (got = unzReadCurrentFile(zip, chunk.data(), unsigned(chunk.size()))) > 0) {
        unsigned char *data = chunk.data();
        size_t length = size_t(got);
        if (crypto)
            crypto->decrypt(data, length);
        const size_t skipped = std::min(header, length);
        header -= skipped;
        data += skipped;
        length -= skipped;
        if (!deflated) {
            take(data, length);
            continue;
        }
        stream.next_in = data;
        stream.avail_in = uInt(length);
        while (stream.avail_in > 0 && inflated == Z_OK) {
            stream.next_out = plain.data();
            stream.avail_out = uInt(plain.size());
            inflated = ::inflate(&stream, Z_NO_FLUSH);
            ok = inflated == Z_OK || inflated == Z_STREAM_END;
            take(plain.data(), plain.size() - stream.avail_out);
        }
    }
    if (deflated)
        ::inflateEnd(&stream);
    unzCloseCurrentFile(zip);
    return ok && got == 0 && inflated == Z_STREAM_END && crc == info.crc &&
           size == info.uncompressed_size;
}

} // namespace

namespace ZipEntries {

bool read(const std::string &archive, const std::string &password,
          const std::function<Sink(int index, const std::string &name)> &open,
          const std::function<void(int index, bool whole)> &closed,
          const std::function<bool()> &stop)
{
    unzFile zip = unzOpen64(archive.c_str());
    if (!zip)
        return false;
    int index = 0;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK && !stop();
         at = unzGoToNextFile(zip), ++index) {
        unz_file_info64 info = {};
        char name[4096];
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            break;
        const Sink sink = open(index, name);
        if (sink)
            closed(index, readCurrentEntry(zip, info, password, sink));
    }
    unzClose(zip);
    return true;
}

} // namespace ZipEntries
