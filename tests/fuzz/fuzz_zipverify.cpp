// Feeds the bytes as a camera folder's only archive to the two readers a resume and the
// read-back use: the listing of its entries and the last entry found from the end records and
// central directory, then read and checked; and every entry read back as the save gate reads it,
// deciphered and inflated. The readers take paths, so the bytes go to a file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
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
    return 0;
}
