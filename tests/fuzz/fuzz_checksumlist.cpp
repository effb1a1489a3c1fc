// Feeds the checksum list reader a list's text: every line it takes has a 16-character hash and
// a path, and a line written for that path with a real hash reads back as the same path.
#include <cstdint>
#include <string>

#include "checksumlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (const auto &[relative, hash] : ChecksumList::parseList(text)) {
        if (hash.size() != 16 || relative.empty())
            __builtin_trap();
        const auto again = ChecksumList::parseList(ChecksumList::line("0123456789abcdef", relative));
        if (again.size() != 1 || again[0].first != relative || again[0].second != "0123456789abcdef")
            __builtin_trap();
    }
    return 0;
}
