#include "syncio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr size_t DiskChunk = 1u << 20;
constexpr size_t WriteChunk = 4u << 20; // fewer, larger direct writes keep the disk streaming
constexpr size_t SmallFile = 1u << 20;  // written the cached way (DirectWriter::finish)
constexpr size_t DiskAlign = 4096;

// Aligned buffers for direct reads and writes, kept for the next file: the engine reads back
// and writes every copy, from threads that come and go, and fresh pages per file cost their
// page faults again.
class ChunkPool
{
public:
    explicit ChunkPool(size_t size)
        : m_size(size)
    {}
    unsigned char *take()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_free.empty()) {
                unsigned char *chunk = m_free.back();
                m_free.pop_back();
                return chunk;
            }
        }
        void *chunk = nullptr;
        return ::posix_memalign(&chunk, DiskAlign, m_size) == 0
                   ? static_cast<unsigned char *>(chunk)
                   : nullptr;
    }
    void give(unsigned char *chunk)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_free.push_back(chunk);
    }

private:
    const size_t m_size;
    std::mutex m_lock;
    std::vector<unsigned char *> m_free;
};

// Never freed: threads may read or write at exit.
ChunkPool &chunkPool()
{
    static ChunkPool *const pool = new ChunkPool(DiskChunk);
    return *pool;
}

// writeAll that also starts the disk writing what it has written so far, so that the final
// fdatasync has little left to wait for: the cached way of a file system without direct I/O.
int writeStreaming(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const size_t n = std::min(size, WriteChunk);
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        if (SyncIo::writeAll(fd, p, n) != 0)
            return -1;
        if (at >= 0)
            ::sync_file_range(fd, at, off_t(n), SYNC_FILE_RANGE_WRITE);
        p += n;
        size -= n;
    }
    return 0;
}

ChunkPool &writePool()
{
    static ChunkPool *const pool = new ChunkPool(WriteChunk);
    return *pool;
}

} // namespace

namespace SyncIo {

int readFromDisk(const std::string &path, uint64_t offset, uint64_t length,
                 const std::function<bool(const unsigned char *data, size_t size)> &take)
{
    bool direct = true;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT);
    if (fd < 0 && errno == EINVAL) {
        direct = false;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0)
        return -1;
    if (!direct)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    unsigned char *chunk = chunkPool().take();
    if (!chunk) {
        ::close(fd);
        errno = ENOMEM;
        return -1;
    }
    // Direct reads start on a block boundary; the bytes before offset are passed over.
    uint64_t at = direct ? offset - offset % DiskAlign : offset;
    size_t skip = size_t(offset - at);
    // A request past the end costs the kernel a zero-filled buffer (a megabyte for a 50 KB
    // photo): ask for what the file holds, a block at least, so that the end is still seen.
    struct stat info = {};
    const uint64_t end = ::fstat(fd, &info) == 0 ? uint64_t(info.st_size) : UINT64_MAX;
    const auto request = [end](uint64_t from) {
        const uint64_t left = end > from ? end - from : 0;
        const uint64_t blocks = (left + DiskAlign - 1) / DiskAlign * DiskAlign;
        return size_t(std::clamp<uint64_t>(blocks, DiskAlign, DiskChunk));
    };
    int result = 0;
    while (length > 0) {
        ssize_t got = ::pread(fd, chunk, request(at), off_t(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && direct && errno == EINVAL && at == offset - offset % DiskAlign) {
            // Some file systems refuse direct reads only when reading: read the cached way.
            direct = false;
            at = offset;
            skip = 0;
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            continue;
        }
        if (got < 0) {
            result = -1;
            break;
        }
        if (size_t(got) <= skip)
            break; // the end of the file
        const size_t n = size_t(std::min<uint64_t>(uint64_t(got) - skip, length));
        at += uint64_t(got);
        if (!take(chunk + skip, n))
            break;
        skip = 0;
        length -= n;
    }
    const int error = errno;
    chunkPool().give(chunk);
    ::close(fd);
    errno = error;
    return result;
}

ssize_t readSome(int fd, void *data, size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd, data, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

int writeAll(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, p, size);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (put == 0) {
            errno = ENOSPC;
            return -1;
        }
        p += put;
        size -= size_t(put);
    }
    return 0;
}

DirectWriter::DirectWriter(int fd, bool direct)
    : m_fd(fd)
{
    if (!direct)
        return;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_DIRECT) != 0)
        return; // refused by the file system
    m_chunk = writePool().take();
    if (!m_chunk)
        ::fcntl(fd, F_SETFL, flags);
}

DirectWriter::~DirectWriter()
{
    if (m_chunk)
        writePool().give(m_chunk);
}

void DirectWriter::cached()
{
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(m_fd, F_SETFL, flags & ~O_DIRECT);
}

// Writes whole blocks directly; a file system that refuses them after all, or a short write
// that leaves the file off a block boundary, sends the rest the cached way.
int DirectWriter::put(const unsigned char *data, size_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(m_fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno == EINVAL) {
            cached();
            return writeAll(m_fd, data, size);
        }
        if (put < 0)
            return -1;
        if (put == 0) {
            errno = ENOSPC;
            return -1;
        }
        data += put;
        size -= size_t(put);
        if (size_t(put) % DiskAlign != 0) {
            cached();
            return writeAll(m_fd, data, size);
        }
    }
    return 0;
}

int DirectWriter::write(const void *data, size_t size)
{
    if (!m_chunk)
        return writeStreaming(m_fd, data, size);
    const unsigned char *p = static_cast<const unsigned char *>(data);
    while (size > 0) {
        const size_t n = std::min(size, WriteChunk - m_held);
        std::memcpy(m_chunk + m_held, p, n);
        m_held += n;
        p += n;
        size -= n;
        if (m_held == WriteChunk) {
            m_held = 0;
            m_putAny = true;
            if (put(m_chunk, WriteChunk) != 0)
                return -1;
        }
    }
    return 0;
}

int DirectWriter::finish()
{
    if (!m_chunk || m_held == 0)
        return 0;
    // A small file goes whole the cached way: a direct write waits for the disk file by file,
    // while cached ones go out together with the flush that makes a group of them durable.
    if (!m_putAny && m_held < SmallFile) {
        const size_t held = m_held;
        m_held = 0;
        cached();
        return writeAll(m_fd, m_chunk, held);
    }
    const size_t whole = m_held - m_held % DiskAlign;
    const size_t tail = m_held - whole;
    m_held = 0;
    if (whole > 0 && put(m_chunk, whole) != 0)
        return -1;
    if (tail == 0)
        return 0;
    cached();
    return writeAll(m_fd, m_chunk + whole, tail);
}

int syncFolder(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int result = ::fsync(fd);
    ::close(fd);
    return result;
}

std::string parentOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

int replaceFile(const std::string &path, const std::string &text)
{
    const std::string temp = path + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    const bool ok = writeAll(fd, text.data(), text.size()) == 0 && ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        return -1;
    }
    syncFolder(parentOf(path));
    return 0;
}

bool readText(const std::string &path, std::string *text)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    text->clear();
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text->append(chunk, got);
    std::fclose(file);
    return true;
}

int makeFolders(const std::string &folder)
{
    struct stat st = {};
    if (::stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return 0;
        errno = ENOTDIR;
        return -1;
    }
    const std::string parent = parentOf(folder);
    if (parent != folder && makeFolders(parent) != 0)
        return -1;
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        return -1;
    return 0;
}

} // namespace SyncIo

namespace {

// The whole disk's sysfs folder behind a block device number; empty without one.
std::string diskOf(uint64_t device)
{
    const dev_t dev = dev_t(device);
    if (::major(dev) == 0)
        return std::string();
    const std::string link = "/sys/dev/block/" + std::to_string(::major(dev)) + ':' +
                             std::to_string(::minor(dev));
    char *real = ::realpath(link.c_str(), nullptr);
    if (!real)
        return std::string();
    std::string path = real;
    std::free(real);
    // A partition's folder lies inside its disk's.
    if (::access((path + "/partition").c_str(), F_OK) == 0)
        path = SyncIo::parentOf(path);
    return path;
}

} // namespace

namespace SyncIo {

bool sameDisk(uint64_t a, uint64_t b)
{
    if (a == b)
        return true;
    const std::string diskA = diskOf(a);
    return !diskA.empty() && diskA == diskOf(b);
}

} // namespace SyncIo
