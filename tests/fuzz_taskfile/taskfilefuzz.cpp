#include "taskfilefuzz.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "taskfile.h"
#include "taskrecord.h"
#include "zipvolume.h"

int taskFileFuzzOne(const uint8_t *data, size_t size)
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
    if (ZipVolume::findCentralDirectory(data, size, size, &offset) == 0 && offset > size)
        __builtin_trap();
    ZipVolume::findCentralDirectory(data, size, uint64_t(size) + 0x100000000ull, &offset);
    return 0;
}
