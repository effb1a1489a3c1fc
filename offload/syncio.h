#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <sys/types.h>

// Small POSIX helpers for writes that must be on the disk before the engine counts them.
namespace SyncIo {

// read() that retries on EINTR; -1 on error.
ssize_t readSome(int fd, void *data, size_t size);
// Writes everything or returns -1 with errno set (ENOSPC, EIO ...).
int writeAll(int fd, const void *data, size_t size);
// writeAll that also starts the disk writing what it has written so far, so that the final
// fdatasync has little left to wait for.
int writeStreaming(int fd, const void *data, size_t size);
// Reads bytes [offset, offset + length) of path (length UINT64_MAX: to the end) as the disk
// holds them, handing them to take chunk by chunk; stops early when take returns false. Direct
// I/O where the file system offers it (no copy through the page cache, and nothing cached can
// answer), else the cached pages are dropped first. -1 on an open or read error (errno set).
int readFromDisk(const std::string &path, uint64_t offset, uint64_t length,
                 const std::function<bool(const unsigned char *data, size_t size)> &take);
// Flushes a folder's entries, so a rename or a new file survives a power cut.
int syncFolder(const std::string &folder);
// Writes text to a temporary sibling, syncs it and renames it over path.
int replaceFile(const std::string &path, const std::string &text);
// Creates folder and its missing parents (mode 0755); 0 when it exists afterwards.
int makeFolders(const std::string &folder);
std::string parentOf(const std::string &path);

} // namespace SyncIo
