#include "zipverify.h"

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#include <libdeflate.h>
#include <zlib.h>

#include "archivehash.h"
#include "byteorder.h"
#include "syncio.h"
#include "zipcrypto.h"
#include "ziprecords.h"

namespace ZipVerify {

namespace {

using namespace ZipRecords;

// Sizes and offset that do not fit 32 bits are in the ZIP64 extra field, in this order.
bool applyZip64(const unsigned char *extra, size_t length, Entry *entry, bool bigSize,
                bool bigCompressed, bool bigOffset)
{
    size_t at = 0;
    while (at + 4 <= length) {
        const uint16_t id = ByteOrder::getLe16(extra + at);
        const uint16_t size = ByteOrder::getLe16(extra + at + 2);
        if (size > length - at - 4)
            return false;
        if (id == 0x0001) {
            const unsigned char *p = extra + at + 4;
            size_t left = size;
            for (auto [big, field] : {std::pair{bigSize, &entry->size},
                                      std::pair{bigCompressed, &entry->compressedSize},
                                      std::pair{bigOffset, &entry->localHeader}}) {
                if (!big)
                    continue;
                if (left < 8)
                    return false;
                *field = ByteOrder::getLe64(p);
                p += 8;
                left -= 8;
            }
            return true;
        }
        at += 4 + size;
    }
    return !(bigSize || bigCompressed || bigOffset);
}

struct FileCloser
{
    int fd;
    ~FileCloser() { ::close(fd); }
};

bool readAt(int fd, uint64_t offset, unsigned char *data, size_t size)
{
    return ::pread(fd, data, size, off_t(offset)) == ssize_t(size);
}

} // namespace

static int locateLast(int fd, Entry *entry, uint64_t *directory)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return -1;
    const uint64_t fileSize = uint64_t(st.st_size);
    std::vector<unsigned char> tail(size_t(std::min<uint64_t>(fileSize, 0xFFFF + 22 + 20 + 56)));
    if (!readAt(fd, fileSize - tail.size(), tail.data(), tail.size()) ||
        findCentralDirectory(tail.data(), tail.size(), fileSize, directory) != 0 ||
        fileSize - *directory > (64u << 20))
        return -1;
    std::vector<unsigned char> records(size_t(fileSize - *directory));
    if (!readAt(fd, *directory, records.data(), records.size()))
        return -1;
    return lastEntry(records.data(), records.size(), entry);
}

int findCentralDirectory(const unsigned char *tail, size_t length, uint64_t fileSize,
                         uint64_t *offset)
{
    if (length < EndSize || fileSize < length)
        return -1;
    const uint64_t base = fileSize - length;
    for (size_t at = length - EndSize + 1; at-- > 0;) {
        const unsigned char *end = tail + at;
        if (ByteOrder::getLe32(end) != EndSignature)
            continue;
        if (at + EndSize + ByteOrder::getLe16(end + 20) != length)
            continue;
        uint64_t directory = ByteOrder::getLe32(end + 16);
        const uint64_t directorySize = ByteOrder::getLe32(end + 12);
        if (directory == 0xFFFFFFFFu) {
            if (at < Zip64LocatorSize)
                return -1;
            const unsigned char *locator = end - Zip64LocatorSize;
            if (ByteOrder::getLe32(locator) != Zip64LocatorSignature)
                return -1;
            const uint64_t record = ByteOrder::getLe64(locator + 8);
            if (record < base || record - base > length - Zip64EndSize)
                return -1;
            const unsigned char *end64 = tail + (record - base);
            if (ByteOrder::getLe32(end64) != Zip64EndSignature)
                return -1;
            directory = ByteOrder::getLe64(end64 + 48);
            if (directory > record)
                return -1;
        } else if (directory + directorySize > base + at) {
            return -1;
        }
        *offset = directory;
        return 0;
    }
    return -1;
}

int lastEntry(const unsigned char *directory, size_t length, Entry *entry)
{
    size_t at = 0;
    bool found = false;
    while (at + DirectorySize <= length) {
        const unsigned char *r = directory + at;
        if (ByteOrder::getLe32(r) != DirectorySignature)
            break;
        const size_t nameLength = ByteOrder::getLe16(r + 28);
        const size_t extraLength = ByteOrder::getLe16(r + 30);
        const size_t commentLength = ByteOrder::getLe16(r + 32);
        const size_t recordLength = DirectorySize + nameLength + extraLength + commentLength;
        if (recordLength > length - at)
            return -1;
        Entry e;
        e.flags = ByteOrder::getLe16(r + 8);
        e.method = ByteOrder::getLe16(r + 10);
        e.crc = ByteOrder::getLe32(r + 16);
        e.compressedSize = ByteOrder::getLe32(r + 20);
        e.size = ByteOrder::getLe32(r + 24);
        e.localHeader = ByteOrder::getLe32(r + 42);
        e.name.assign(reinterpret_cast<const char *>(r + DirectorySize), nameLength);
        if (!applyZip64(r + DirectorySize + nameLength, extraLength, &e, e.size == 0xFFFFFFFFu,
                        e.compressedSize == 0xFFFFFFFFu, e.localHeader == 0xFFFFFFFFu))
            return -1;
        *entry = e;
        found = true;
        at += recordLength;
    }
    return found ? 0 : -1;
}

int lastEntryHash(const std::string &archive, const std::string &name, const char *password,
                  uint64_t *hash, const ArchiveHash *from, ArchiveHash *next)
{
    const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    FileCloser closer{fd};
    Entry entry;
    uint64_t directory = 0;
    // The entry is found in what is cached, then everything from its local header on is dropped
    // and read again, now from the disk: the new entry, the directory and the end records. The
    // entries before it were read back, and summed into the archive's hash, when they were added.
    if (locateLast(fd, &entry, &directory) != 0)
        return -1;
    ::posix_fadvise(fd, off_t(entry.localHeader), 0, POSIX_FADV_DONTNEED);
    if (locateLast(fd, &entry, &directory) != 0 || entry.name != name)
        return -1;
    unsigned char local[LocalSize];
    if (!readAt(fd, entry.localHeader, local, sizeof local) ||
        ByteOrder::getLe32(local) != LocalSignature)
        return -1;
    uint64_t at = entry.localHeader + LocalSize + ByteOrder::getLe16(local + 26) +
                  ByteOrder::getLe16(local + 28);
    uint64_t left = entry.compressedSize;
    if (at > directory || left > directory - at)
        return -1;
    // The entry's data goes to take; everything from its local header to the directory goes to
    // the archive's hash as well, when that can be carried on.
    const bool carried = from && next && from->reaches(archive, entry.localHeader);
    if (carried)
        next->carry(*from, archive, entry.localHeader);
    const uint64_t dataAt = at;
    const auto readEntry = [&](const auto &take) {
        uint64_t offset = entry.localHeader;
        return SyncIo::readFromDisk(archive, entry.localHeader, directory - entry.localHeader,
                                    [&](const unsigned char *data, size_t n) {
                                        if (carried)
                                            next->add(data, n);
                                        const uint64_t begin = std::max(offset, dataAt);
                                        const uint64_t end =
                                            std::min(offset + n, dataAt + entry.compressedSize);
                                        const unsigned char *part = data + (begin - offset);
                                        offset += n;
                                        return begin >= end || take(part, size_t(end - begin));
                                    });
    };
    const bool encrypted = entry.flags & 1;
    if (encrypted != (password != nullptr) || (entry.method != 8 && entry.method != 0))
        return -1;
    if (encrypted) {
        unsigned char header[ZipCrypto::HeaderSize];
        if (left < sizeof header || !readAt(fd, at, header, sizeof header))
            return -1;
        ZipCrypto crypto(password);
        crypto.decrypt(header, sizeof header);
        if (header[ZipCrypto::HeaderSize - 1] != uint8_t(entry.crc >> 24))
            return -1;
        XXH3_state_t *state = XXH3_createState();
        XXH3_64bits_reset(state);
        uint64_t stored = 0;
        const int read = readEntry([&](const unsigned char *data, size_t n) {
            XXH3_64bits_update(state, data, n);
            stored += n;
            return true;
        });
        *hash = XXH3_64bits_digest(state);
        XXH3_freeState(state);
        return read == 0 && stored == left ? 0 : -1;
    }
    z_stream stream{};
    if (entry.method == 8 && inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return -1;
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    // Kept per engine thread: a fresh megabyte per photo, zero-filled and faulted in, costs
    // as much as reading the entry back.
    static thread_local std::vector<unsigned char> plain(1 << 20);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    uint64_t stored = 0;
    int inflated = entry.method == 8 ? Z_OK : Z_STREAM_END;
    bool ok = true;
    const auto take = [&](const unsigned char *data, size_t n) {
        XXH64_update(state, data, n);
        crc = libdeflate_crc32(crc, data, n);
        size += n;
    };
    const int read = readEntry([&](const unsigned char *data, size_t got) {
        stored += got;
        if (entry.method == 0) {
            take(data, got);
            return true;
        }
        stream.next_in = const_cast<Bytef *>(data);
        stream.avail_in = uInt(got);
        while (stream.avail_in > 0 && inflated == Z_OK) {
            stream.next_out = plain.data();
            stream.avail_out = uInt(plain.size());
            inflated = inflate(&stream, Z_NO_FLUSH);
            if (inflated != Z_OK && inflated != Z_STREAM_END)
                ok = false;
            take(plain.data(), plain.size() - stream.avail_out);
        }
        if (inflated == Z_STREAM_END && (stream.avail_in > 0 || stored < left))
            ok = false; // data after the end of the deflate stream
        return ok;
    });
    ok = ok && read == 0 && stored == left;
    if (entry.method == 8)
        inflateEnd(&stream);
    *hash = XXH64_digest(state);
    XXH64_freeState(state);
    ok = ok && inflated == Z_STREAM_END && crc == entry.crc && size == entry.size;
    return ok ? 0 : -1;
}

void listArchives(const std::string &prefix, std::vector<Listed> *entries, int *damaged)
{
    *damaged = 0;
    for (int number = 1;; ++number) {
        const std::string path = prefix + "pack" + std::to_string(number) + ".zip";
        struct stat st = {};
        if (::stat(path.c_str(), &st) != 0)
            break;
        unzFile zip = unzOpen64(path.c_str());
        if (!zip) {
            *damaged = number;
            break;
        }
        for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
            unz_file_info64 info = {};
            char name[1024] = {};
            if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr,
                                        0) != UNZ_OK)
                break;
            entries->push_back({name, info.uncompressed_size, uint32_t(info.crc), number});
        }
        unzClose(zip);
    }
}

} // namespace ZipVerify
