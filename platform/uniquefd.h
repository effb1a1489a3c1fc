#pragma once

#include <cerrno>
#include <utility>

#include <unistd.h>

// The one owner of a file descriptor: closes it when it goes out of scope, so that every early
// return of a function that opened it closes it too. Closing keeps errno, which the caller may
// still be about to report.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Hands the descriptor over; this owner no longer closes it.
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0 && old != fd) {
            const int error = errno;
            ::close(old);
            errno = error;
        }
    }

private:
    int m_fd = -1;
};
