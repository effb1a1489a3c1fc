#include "syncio.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SyncIo {

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

void readAhead(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
    ::close(fd);
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
