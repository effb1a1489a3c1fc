#include "signalsafeio.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace SignalSafeIo {

size_t readFile(const char *path, void *buffer, size_t capacity)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t length = 0;
    while (length < capacity) {
        const ssize_t got = read(fd, static_cast<char *>(buffer) + length, capacity - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        length += size_t(got);
    }
    close(fd);
    return length;
}

bool writeAll(int fd, const void *data, size_t size)
{
    const auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = write(fd, p, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        p += written;
        size -= size_t(written);
    }
    return true;
}

} // namespace SignalSafeIo
