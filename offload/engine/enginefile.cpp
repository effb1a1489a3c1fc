#include "enginefile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <utility>

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

#include "cardheads.h"
#include "cardprefetch.h"
#include "disktask.h"
#include "faultpoints.h"
#include "jpegscan.h"
#include "syncio.h"

namespace EngineFile {

void fail(DiskTask *task, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(task->error, sizeof task->error, format, args);
    va_end(args);
    task->errorCode = 0;
    task->errorErrno = 0;
    printf("%s\n", task->error);
    fflush(stdout);
}

void failAs(DiskTask *task, int code, int sysError, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(task->error, sizeof task->error, format, args);
    va_end(args);
    task->errorCode = code;
    task->errorErrno = sysError;
    printf("%s\n", task->error);
    fflush(stdout);
}

Source::~Source()
{
    if (fd >= 0 && prefetch)
        prefetch->release(fd);
    else if (fd >= 0)
        ::close(fd);
}

void open(Source *source, DiskTask *task, int index)
{
    source->prefetch = task->prefetch;
    source->index = index;
    if (task->prefetch)
        source->fd = task->prefetch->take(index, &source->info);
    // A descriptor opened before the card was pulled still reads (what the page cache kept):
    // the card must still be there, as it must for a file opened now.
    if (source->fd >= 0 && !sourcePresent(task)) {
        task->prefetch->release(source->fd);
        source->fd = -1;
    }
    if (source->fd >= 0)
        return; // read ahead: opened, asked for its size and told to read in order already
    // Not blocking: a FIFO in a photo's place would hold open() until a writer came, and with
    // it the engine thread that a pause waits for.
    source->fd = ::open(taskEntry(task, index), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (source->fd < 0) {
        source->error = errno;
        return;
    }
    const bool known = ::fstat(source->fd, &source->info) == 0;
    if (!known || !S_ISREG(source->info.st_mode)) {
        source->error = known ? 0 : errno;
        source->notRegular = known;
        ::close(source->fd);
        source->fd = -1;
        return;
    }
    ::fcntl(source->fd, F_SETFL, ::fcntl(source->fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(source->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

int readHead(DiskTask *task, Source *source, std::vector<unsigned char> *head)
{
    constexpr size_t Piece = CardHeads::HeadSize;
    const uint64_t size = uint64_t(source->info.st_size);
    JpegScan::Finder finder;
    head->clear();
    // Enough for the card's heads, and a JPEG's segments with the scan's first bytes after them.
    const auto enough = [&] {
        const size_t have = head->size();
        if (have < std::min<uint64_t>(size, CardHeads::HeadSize))
            return false;
        switch (finder.state()) {
        case JpegScan::Finder::Found:
            return finder.start() + 4 <= have;
        case JpegScan::Finder::NotFound:
            return true;
        default:
            return have >= HeadLimit;
        }
    };
    while (!enough()) {
        const size_t have = head->size();
        head->resize(have + Piece);
        const ssize_t got = SyncIo::readSome(source->fd, head->data() + have, Piece);
        if (got < 0) {
            source->error = errno;
            return -1;
        }
        head->resize(have + size_t(got));
        if (got == 0)
            break;
        finder.add(head->data() + have, size_t(got));
    }
    CardHeads::note(task, source->index, head->data(),
                    std::min(head->size(), CardHeads::HeadSize));
    return 0;
}

int stream(DiskTask *task, Source *source, const char *name, XXH64_state_t *state,
           const std::function<bool(const unsigned char *data, size_t size)> &sink)
{
    constexpr size_t chunk = 1u << 20;
    if (task->buffer.size() < chunk)
        task->buffer.resize(chunk);
    bool first = ::lseek(source->fd, 0, SEEK_CUR) == 0;
    for (;;) {
        if (!task->running.load())
            return Paused;
        const ssize_t got = SyncIo::readSome(source->fd, task->buffer.data(), chunk);
        if (got < 0) {
            failAs(task, OutcomeCodes::FileUnreadable, errno, "read %s file error: %s.", name,
                   std::strerror(errno));
            return Unreadable;
        }
        if (got == 0)
            return Done;
        if (state)
            XXH64_update(state, task->buffer.data(), size_t(got));
        // The first read of a file starts at its first byte; a short one holds no whole head.
        if (std::exchange(first, false) &&
            (size_t(got) >= CardHeads::HeadSize || got == source->info.st_size))
            CardHeads::note(task, source->index, task->buffer.data(),
                            std::min(size_t(got), CardHeads::HeadSize));
        if (!sink(task->buffer.data(), size_t(got)))
            return Done;
    }
}

void noteSource(DiskTask *task)
{
    struct stat st = {};
    const bool known = ::stat(task->record.source, &st) == 0;
    task->sourceDevice = known ? uint64_t(st.st_dev) : 0;
    task->sourceInode = known ? uint64_t(st.st_ino) : 0;
    struct stat target = {};
    task->directWrites = !known || ::stat(task->record.destination, &target) != 0 ||
                         !SyncIo::sameDisk(uint64_t(st.st_dev), uint64_t(target.st_dev));
}

bool sourcePresent(const DiskTask *task)
{
    struct stat st = {};
    return ::stat(task->record.source, &st) == 0 && S_ISDIR(st.st_mode) &&
           uint64_t(st.st_dev) == task->sourceDevice && uint64_t(st.st_ino) == task->sourceInode;
}

std::string whyNot(const Source &source)
{
    return source.notRegular ? std::string("not a regular file") : std::strerror(source.error);
}

bool changedWhileRead(DiskTask *task, const Source &source)
{
    FaultPoints::hit(task, source.index, "read", taskEntry(task, source.index));
    struct stat now = {};
    if (::fstat(source.fd, &now) != 0)
        return true;
    return now.st_size != source.info.st_size ||
           now.st_mtim.tv_sec != source.info.st_mtim.tv_sec ||
           now.st_mtim.tv_nsec != source.info.st_mtim.tv_nsec;
}

} // namespace EngineFile
