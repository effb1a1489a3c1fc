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
// The whole of a small file (a list or a side file) into text; false when it cannot be opened.
bool readText(const std::string &path, std::string *text);

// Writes a new file's bytes straight to the disk (O_DIRECT) where the file system takes that,
// else (and for a file under a megabyte) the cached way. Copying into the page cache and writing it back from there cost the
// engine more processor time than anything else in a plain offload, with five cameras writing
// at once; written directly, the final fdatasync has only the metadata left as well.
class DirectWriter
{
public:
    // direct false: the cached way from the start (see sameDisk).
    explicit DirectWriter(int fd, bool direct = true);
    ~DirectWriter();
    DirectWriter(const DirectWriter &) = delete;
    DirectWriter &operator=(const DirectWriter &) = delete;

    // Appends everything, or returns -1 with errno set (ENOSPC, EIO ...).
    int write(const void *data, size_t size);
    // Writes what is still held; the last partial block goes the cached way. -1 with errno set.
    int finish();

private:
    int put(const unsigned char *data, size_t size);
    void cached();

    int m_fd;
    unsigned char *m_chunk = nullptr; // null: written the cached way
    size_t m_held = 0;
    bool m_putAny = false; // a chunk went to the disk already
};
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
// Whether two file systems (st_dev) lie on one disk: partitions of a disk count as that disk; a
// device without a block device behind it (FUSE, tmpfs) is a disk of its own. Copies are
// written past the page cache only between disks: from a card reader that frees the processors,
// while on one disk the cache lets the reads and the writes take turns in larger runs.
bool sameDisk(uint64_t a, uint64_t b);

} // namespace SyncIo
