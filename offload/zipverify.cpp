#include "zipverify.h"

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <minizip/unzip.h>
#include <unistd.h>
#include <xxhash.h>
#include <zlib.h>

#include "zipcrypto.h"

namespace ZipVerify {

namespace {

int hashPlain(unzFile zip, uint64_t *hash)
{
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return -1;
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    std::vector<unsigned char> chunk(1 << 20);
    int got;
    while ((got = unzReadCurrentFile(zip, chunk.data(), unsigned(chunk.size()))) > 0)
        XXH64_update(state, chunk.data(), size_t(got));
    *hash = XXH64_digest(state);
    XXH64_freeState(state);
    // Closing checks the stored CRC against the data read.
    return unzCloseCurrentFile(zip) == UNZ_OK && got == 0 ? 0 : -1;
}

// Encrypted entries are read raw and decrypted here, as they were written (see ZipCrypto).
int hashEncrypted(unzFile zip, const unz_file_info64 &info, const char *password, uint64_t *hash)
{
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK)
        return -1;
    ZipCrypto crypto(password);
    z_stream stream{};
    if (method != Z_DEFLATED || inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        unzCloseCurrentFile(zip);
        return -1;
    }
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    std::vector<unsigned char> chunk(1 << 20);
    std::vector<unsigned char> plain(1 << 20);
    size_t headerLeft = ZipCrypto::HeaderSize;
    unsigned char lastHeaderByte = 0;
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    int got;
    int inflated = Z_OK;
    while (inflated != Z_STREAM_END &&
           (got = unzReadCurrentFile(zip, chunk.data(), unsigned(chunk.size()))) > 0) {
        crypto.decrypt(chunk.data(), size_t(got));
        size_t skip = std::min(headerLeft, size_t(got));
        if (skip) {
            lastHeaderByte = chunk[skip - 1];
            headerLeft -= skip;
        }
        stream.next_in = chunk.data() + skip;
        stream.avail_in = uInt(size_t(got) - skip);
        while (stream.avail_in > 0 && inflated != Z_STREAM_END) {
            stream.next_out = plain.data();
            stream.avail_out = uInt(plain.size());
            inflated = inflate(&stream, Z_NO_FLUSH);
            if (inflated != Z_OK && inflated != Z_STREAM_END)
                break;
            const size_t produced = plain.size() - stream.avail_out;
            XXH64_update(state, plain.data(), produced);
            crc = crc32_z(crc, plain.data(), produced);
            size += produced;
        }
        if (inflated != Z_OK && inflated != Z_STREAM_END)
            break;
    }
    *hash = XXH64_digest(state);
    XXH64_freeState(state);
    inflateEnd(&stream);
    unzCloseCurrentFile(zip);
    const bool ok = inflated == Z_STREAM_END && headerLeft == 0 &&
                    lastHeaderByte == uint8_t(info.crc >> 24) && crc == info.crc &&
                    size == info.uncompressed_size;
    return ok ? 0 : -1;
}

} // namespace

int lastEntryHash(const std::string &archive, const std::string &name, const char *password,
                  uint64_t *hash)
{
    const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    unzFile zip = unzOpen64(archive.c_str());
    if (!zip)
        return -1;
    int result = -1;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) == UNZ_OK && global.number_entry > 0 &&
        unzGoToFirstFile(zip) == UNZ_OK) {
        bool positioned = true;
        for (ZPOS64_T i = 1; i < global.number_entry && positioned; ++i)
            positioned = unzGoToNextFile(zip) == UNZ_OK;
        char entryName[4096] = {};
        unz_file_info64 info{};
        if (positioned &&
            unzGetCurrentFileInfo64(zip, &info, entryName, sizeof entryName, nullptr, 0, nullptr,
                                    0) == UNZ_OK &&
            name == entryName) {
            result = password ? hashEncrypted(zip, info, password, hash) : hashPlain(zip, hash);
        }
    }
    unzClose(zip);
    return result;
}

} // namespace ZipVerify
