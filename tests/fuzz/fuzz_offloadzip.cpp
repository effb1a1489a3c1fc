// Feeds the binary readers of the offload: the task-file loader, the archive end record and
// central directory readers, the JPEG scan finder. Then the same bytes as a camera folder's
// only archive, to the two readers a resume and the read-back use: the listing of its entries
// and the last entry found from the end records and central directory, then read and checked;
// and every entry read back as the save gate reads it, deciphered and inflated. Those readers
// take paths, so the bytes go to a file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "jpegscan.h"
#include "taskfile.h"
#include "taskrecord.h"
#include "zipentries.h"
#include "zipverify.h"

static std::string made;

// One folder per process (libFuzzer's workers run side by side), on tmpfs where there is one.
static const std::string &folder()
{
    if (made.empty()) {
        char name[] = "/dev/shm/v7fuzzzipXXXXXX";
        char fallback[] = "/tmp/v7fuzzzipXXXXXX";
        const char *path = mkdtemp(name);
        if (!path)
            path = mkdtemp(fallback);
        if (!path)
            abort();
        made = std::string(path) + '/';
        std::atexit([] {
            ::unlink((made + "pack1.zip").c_str());
            ::rmdir(made.c_str());
        });
    }
    return made;
}

static void readArchiveFile(const uint8_t *data, size_t size)
{
    const std::string archive = folder() + "pack1.zip";
    const int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || (size && ::write(fd, data, size) != ssize_t(size)))
        abort();
    ::close(fd);
    std::vector<ZipVerify::Listed> entries;
    int damaged = -1;
    ZipVerify::listArchives(folder(), &entries, &damaged);
    if (damaged != 0 && (damaged != 1 || !entries.empty()))
        __builtin_trap();
    for (const ZipVerify::Listed &entry : entries) {
        if (entry.archive != 1)
            __builtin_trap();
    }
    const std::string name = entries.empty() ? std::string("DSC00001.JPG") : entries.back().name;
    uint64_t hash = 0;
    ZipVerify::lastEntryHash(archive, name, nullptr, &hash);
    ZipVerify::lastEntryHash(archive, name, "secret", &hash);
    size_t read = 0;
    ZipEntries::read(
        archive, "secret",
        [&read](int, const std::string &) -> ZipEntries::Sink {
            return [&read](const unsigned char *, size_t n) { read += n; };
        },
        [](int, bool) {}, [] { return false; });
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The loader reads through stdio, as it does from the disk.
    std::vector<uint8_t> copy(data, data + size);
    FILE *file = size ? fmemopen(copy.data(), size, "rb") : nullptr;
    if (file) {
        TaskRecord header;
        std::vector<char> entries;
        if (TaskFile::read(file, (long long)size, "fuzz", &header, &entries) == 0) {
            // A loaded list holds terminated entries only.
            for (int i = 0; i < header.fileCount; ++i) {
                const char *entry = entries.data() + size_t(i) * TaskLayout::EntrySize;
                if (std::memchr(entry, 0, TaskLayout::EntrySize) == nullptr)
                    __builtin_trap();
            }
        }
        fclose(file);
    }
    uint64_t offset = 0;
    // The same bytes as the tail of a file of that length and of a much longer one.
    if (ZipVerify::findCentralDirectory(data, size, size, &offset) == 0 && offset > size)
        __builtin_trap();
    ZipVerify::findCentralDirectory(data, size, uint64_t(size) + 0x100000000ull, &offset);
    // The same bytes as an archive's central directory.
    ZipVerify::Entry entry;
    ZipVerify::lastEntry(data, size, &entry);
    // The same bytes as a photo whose header the tagging step cuts off.
    const size_t scan = JpegScan::scanStart(data, size);
    if (scan != 0 && (scan + 4 > size || data[scan] != 0xFF || data[scan + 1] != 0xDA))
        __builtin_trap();
    readArchiveFile(data, size);
    return 0;
}
