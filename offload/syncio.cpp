#include "syncio.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t DiskChunk = 1u << 20;
constexpr size_t DiskAlign = 4096;

// Aligned read-back buffers, kept for the next read: the engine reads back every copy, from
// threads that come and go, and a fresh megabyte per read costs its page faults again.
class ChunkPool
{
public:
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
        return ::posix_memalign(&chunk, DiskAlign, DiskChunk) == 0
                   ? static_cast<unsigned char *>(chunk)
                   : nullptr;
    }
    void give(unsigned char *chunk)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_free.push_back(chunk);
    }

private:
    std::mutex m_lock;
    std::vector<unsigned char *> m_free;
};

ChunkPool &chunkPool()
{
    static ChunkPool *const pool = new ChunkPool; // never freed: threads may read at exit
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
    int result = 0;
    while (length > 0) {
        ssize_t got = ::pread(fd, chunk, DiskChunk, off_t(at));
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

int writeStreaming(int fd, const void *data, size_t size)
{
    constexpr size_t Step = 4u << 20;
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const size_t n = size < Step ? size : Step;
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        if (writeAll(fd, p, n) != 0)
            return -1;
        if (at >= 0)
            ::sync_file_range(fd, at, off_t(n), SYNC_FILE_RANGE_WRITE);
        p += n;
        size -= n;
    }
    return 0;
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
