// Feeds the two parsers of /proc text. The memory-map parser the crash handler runs on
// /proc/self/maps: every region is a non-empty range whose path lies, terminated, inside the
// text. The mount table parser that the volume query, the card formatter and the restore's
// refusal rule run on /proc/self/mountinfo: any text gives at most one entry per line, and a
// field without escapes comes out as it stands.
#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mountinfo.h"
#include "procmaps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> maps(data, data + size); // the parser ends each field in place
    ProcMapsRegion regions[64];
    const size_t count = ProcMaps::parse(maps.data(), maps.size(), regions, 64);
    if (count > 64)
        abort();
    for (size_t i = 0; i < count; ++i) {
        if (regions[i].start >= regions[i].end)
            abort();
        const char *path = regions[i].path;
        if (path < maps.data() || path >= maps.data() + maps.size())
            abort();
        if (!memchr(path, '\0', size_t(maps.data() + maps.size() - path)))
            abort();
    }

    const QByteArray text =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<MountInfoEntry> entries = MountInfo::parse(text);
    if (entries.size() > text.count('\n') + 1)
        __builtin_trap();
    for (const MountInfoEntry &entry : entries)
        MountInfo::isBlockVolume(entry);
    if (!text.contains('\\') && MountInfo::unescape(text) != QString::fromUtf8(text))
        __builtin_trap();
    return 0;
}
