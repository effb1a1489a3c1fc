// Feeds the mount table parser that the volume query, the card formatter and the restore's
// refusal rule run on /proc/self/mountinfo: any text gives at most one entry per line, and a
// field without escapes comes out as it stands.
#include <QByteArray>

#include <cstdint>

#include "mountinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
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
