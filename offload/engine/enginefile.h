#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>

class CardPrefetch;
struct DiskTask;

// What the plain copy and the packing step share while one file of a task is handled.
namespace EngineFile {

// Unreadable: the source file could not be opened or read; the card may still give the others.
enum Result { Done = 0, Failed = -1, Paused = 1, Unreadable = 2 };

// Prints the message (the engine's diagnostics go to the standard output) and keeps it as the
// task's error text.
void fail(DiskTask *task, const char *format, ...) __attribute__((format(printf, 2, 3)));
// The same, with what happened as the operator is told of it (OutcomeCodes) and the system's
// error number (0: none), kept beside the text for the offload page.
void failAs(DiskTask *task, int code, int sysError, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// An opened source file; fd is -1 when it could not be opened (errno kept in error).
struct Source
{
    int fd = -1;
    int error = 0;
    bool notRegular = false; // what stands there is no regular file (a FIFO, a device)
    struct stat info = {};
    CardPrefetch *prefetch = nullptr; // gets the descriptor back to close it
    int index = -1; // its entry in the task's list
    ~Source();
};
// Entry index of the task: the descriptor the card's read-ahead opened, else opened here.
void open(Source *source, DiskTask *task, int index);

// Why the source could not be opened, for the messages.
std::string whyNot(const Source &source);

// The most of a file's beginning readHead takes: a camera's metadata segments end well before.
constexpr size_t HeadLimit = 4u << 20;
// Reads the file's beginning into head, from its first byte: a JPEG's segments and the start of
// its image data (what the photo step rewrites and reads), else the first piece read; at most
// HeadLimit. The descriptor is left after those bytes for stream to go on. -1 on a read error.
int readHead(DiskTask *task, Source *source, std::vector<unsigned char> *head);

// Streams the source through the task's buffer in chunks from where its descriptor stands,
// hashing each into state (unless null) and handing it to sink. Paused when the task stops
// running, Unreadable (reported) on a read error, Done at the end or as soon as sink returns
// false (the caller keeps its own write error).
int stream(DiskTask *task, Source *source, const char *name, struct XXH64_state_s *state,
           const std::function<bool(const unsigned char *data, size_t size)> &sink);

// Notes which folder the task's source is, when the task is loaded, and whether copies go past
// the page cache (the card and the target on different disks).
void noteSource(DiskTask *task);
// The source folder is still the one noted: an unreadable file is that file's fault, not a
// pulled card's (whose mount point is then another folder, or none).
bool sourcePresent(const DiskTask *task);

// The file's size or modification time is no longer what it was when it was opened: it was
// written to while it was read, and what was read may be any mix of before and after. Asked
// once the whole file is read: the fault point "read" stands here.
bool changedWhileRead(DiskTask *task, const Source &source);

} // namespace EngineFile
