// libFuzzer target for the memory-map parser the crash handler runs on /proc/self/maps.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "procmaps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size);
    ProcMapsRegion regions[64];
    const size_t count = ProcMaps::parse(text.data(), text.size(), regions, 64);
    if (count > 64)
        abort();
    for (size_t i = 0; i < count; ++i) {
        // Every region is a non-empty range whose path lies, terminated, inside the text.
        if (regions[i].start >= regions[i].end)
            abort();
        const char *path = regions[i].path;
        if (path < text.data() || path >= text.data() + text.size())
            abort();
        if (!memchr(path, '\0', size_t(text.data() + text.size() - path)))
            abort();
    }
    return 0;
}
