// Feeds the binary readers of the offload: the task-file loader, the archive end record and
// central directory readers, the JPEG scan finder.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "jpegscan.h"
#include "taskfile.h"
#include "taskrecord.h"
#include "zipverify.h"

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
    return 0;
}
