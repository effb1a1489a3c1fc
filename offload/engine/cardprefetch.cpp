#include "cardprefetch.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include "syncio.h"
#include "workerthread.h"

CardPrefetch::CardPrefetch(std::function<const char *(int)> path, int count, uint64_t window)
    : m_path(std::move(path))
    , m_count(count)
    , m_window(window)
{
    if (m_count > 0 && m_window > 0)
        m_thread = WorkerThread::start("card read-ahead", [this] { run(); });
}

int CardPrefetch::filesAhead()
{
    constexpr int Cards = 5;
    constexpr int Most = 64; // enough to keep a card reader busy with the smallest photos
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 2;
    const rlim_t share = limit.rlim_cur / 4 / Cards;
    return int(std::clamp<rlim_t>(share, 2, Most));
}

CardPrefetch::~CardPrefetch()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    for (const Ahead &a : m_ahead) {
        if (a.fd >= 0)
            ::close(a.fd);
    }
    for (const int fd : m_released)
        ::close(fd);
}

void CardPrefetch::dropBefore(int index)
{
    while (!m_ahead.empty() && m_ahead.front().index < index) {
        m_aheadBytes -= m_ahead.front().size;
        if (m_ahead.front().fd >= 0)
            m_released.push_back(m_ahead.front().fd);
        m_ahead.pop_front();
    }
}

void CardPrefetch::reading(int index)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_engine = index;
        dropBefore(index);
        // An engine that went past the reader moves it along.
        if (m_next < index)
            m_next = index;
    }
    m_wake.notify_all();
}

int CardPrefetch::take(int index, struct stat *info)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (Ahead &a : m_ahead) {
        if (a.index == index && a.fd >= 0) {
            const int fd = a.fd;
            a.fd = -1;
            if (info)
                *info = a.info;
            return fd;
        }
    }
    return -1;
}

void CardPrefetch::release(int fd)
{
    if (fd < 0)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_stop) {
            m_released.push_back(fd);
            fd = -1;
        }
    }
    if (fd >= 0)
        ::close(fd);
    m_wake.notify_all();
}

uint64_t CardPrefetch::warm(int fd, const std::atomic<bool> *stop)
{
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // sendfile to /dev/null reads the file into the page cache and hands the pages straight
    // back: no copy into this process. A source that cannot splice is read the plain way.
    static const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    constexpr size_t Step = 1u << 20;
    uint64_t total = 0;
    bool splice = sink >= 0;
    thread_local std::vector<unsigned char> scratch;
    while (!(stop && stop->load())) {
        ssize_t got;
        if (splice) {
            off_t at = off_t(total);
            got = ::sendfile(sink, fd, &at, Step);
            if (got < 0 && (errno == EINVAL || errno == ENOSYS) && total == 0) {
                splice = false;
                continue;
            }
        } else {
            scratch.resize(Step);
            got = ::pread(fd, scratch.data(), scratch.size(), off_t(total));
        }
        if (got <= 0)
            break;
        total += uint64_t(got);
    }
    return total;
}

void CardPrefetch::closeReleased(std::unique_lock<std::mutex> &lock)
{
    std::vector<int> closing;
    closing.swap(m_released);
    lock.unlock();
    for (const int fd : closing)
        ::close(fd);
    lock.lock();
}

void CardPrefetch::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] {
            return m_stop || !m_released.empty() ||
                   (m_next < m_count && m_aheadBytes < m_window && m_ahead.size() < m_files);
        });
        if (m_stop)
            return;
        if (!m_released.empty()) {
            closeReleased(lock);
            continue;
        }
        const int index = m_next++;
        const char *path = m_path(index);
        lock.unlock();
        // A FIFO would block open() and this thread with it; what is no regular file is left
        // for the engine to name.
        int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat info = {};
        if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(fd);
            fd = -1;
        }
        // Reads with an offset of their own: the engine reads the same descriptor from the start.
        const uint64_t size = fd >= 0 ? warm(fd, &m_stop) : 0;
        lock.lock();
        if (fd < 0)
            continue;
        // The engine may have gone past this file meanwhile: it no longer counts as ahead.
        if (index >= m_engine && !m_stop) {
            m_ahead.push_back({index, size, fd, info});
            m_aheadBytes += size;
        } else {
            m_released.push_back(fd);
        }
    }
}
