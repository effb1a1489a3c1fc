#pragma once

#include <cstddef>

// File reads and writes that retry on interruption and use nothing but system calls, for code
// that runs inside a fatal-signal handler.
namespace SignalSafeIo {

// Reads up to capacity bytes of a file (for /proc files, which report no size); 0 on failure.
size_t readFile(const char *path, void *buffer, size_t capacity);

// Writes all of data; false on any failure (full disk included).
bool writeAll(int fd, const void *data, size_t size);

} // namespace SignalSafeIo
