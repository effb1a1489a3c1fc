#include "exifbuilder.h"

#include <algorithm>

namespace {

quint32 padded(quint32 n)
{
    return n + (n & 1);
}

quint32 outOfLineSize(const ExifBuilder::Entry &e)
{
    return (!e.raw && e.value.size() > 4) ? padded(quint32(e.value.size())) : 0;
}
} // namespace

QByteArray ExifBuilder::u16(quint32 v) const
{
    QByteArray b(2, 0);
    b[m_motorola ? 0 : 1] = char(v >> 8);
    b[m_motorola ? 1 : 0] = char(v);
    return b;
}

QByteArray ExifBuilder::u32(quint32 v) const
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[m_motorola ? 3 - i : i] = char(v >> (8 * i));
    return b;
}

ExifBuilder::Entry ExifBuilder::ascii(quint16 tag, const QByteArray &text) const
{
    return {tag, 2, quint32(text.size() + 1), text + '\0', false};
}

ExifBuilder::Entry ExifBuilder::shortValue(quint16 tag, quint16 v) const
{
    return {tag, 3, 1, u16(v), false};
}

ExifBuilder::Entry ExifBuilder::longValue(quint16 tag, quint32 v) const
{
    return {tag, 4, 1, u32(v), false};
}

ExifBuilder::Entry ExifBuilder::rational(quint16 tag, quint32 num, quint32 den) const
{
    return {tag, 5, 1, u32(num) + u32(den), false};
}

ExifBuilder::Entry ExifBuilder::srational(quint16 tag, qint32 num, qint32 den) const
{
    return {tag, 10, 1, u32(quint32(num)) + u32(quint32(den)), false};
}

ExifBuilder::Entry ExifBuilder::rationals(quint16 tag,
                                          const QList<QPair<quint32, quint32>> &values) const
{
    Entry e{tag, 5, quint32(values.size()), {}, false};
    for (const auto &v : values)
        e.value += u32(v.first) + u32(v.second);
    return e;
}

ExifBuilder::Entry ExifBuilder::undefined(quint16 tag, const QByteArray &bytes) const
{
    return {tag, 7, quint32(bytes.size()), bytes, false};
}

ExifBuilder::Entry ExifBuilder::rawEntry(quint16 tag, quint16 format, quint32 count,
                                         quint32 fourBytes) const
{
    return {tag, format, count, u32(fourBytes), true};
}

quint32 ExifBuilder::directorySize(const QList<Entry> &entries)
{
    quint32 size = 2 + 12 * quint32(entries.size()) + 4;
    for (const Entry &e : entries)
        size += outOfLineSize(e);
    return size;
}

QByteArray ExifBuilder::directory(const QList<Entry> &entries, quint32 offset) const
{
    QByteArray head = u16(quint32(entries.size()));
    QByteArray data;
    quint32 dataOffset = offset + 2 + 12 * quint32(entries.size()) + 4;
    for (const Entry &e : entries) {
        head += u16(e.tag) + u16(e.format) + u32(e.count);
        if (e.raw || e.value.size() <= 4) {
            head += (e.value + QByteArray(4, 0)).left(4);
        } else {
            head += u32(dataOffset + quint32(data.size()));
            data += e.value;
            if (e.value.size() & 1)
                data += '\0';
        }
    }
    return head + u32(0) + data;
}

QByteArray ExifBuilder::tiff(const QList<Entry> &ifd0, const QList<Entry> &exif,
                             const QList<Entry> &gps, quint16 gpsPointerTag,
                             quint32 firstIfdOffset) const
{
    QList<Entry> first = ifd0;
    if (!exif.isEmpty())
        first.append(longValue(0x8769, 0));
    if (!gps.isEmpty())
        first.append(longValue(gpsPointerTag, 0));
    const quint32 exifOffset = 8 + directorySize(first);
    const quint32 gpsOffset = exifOffset + (exif.isEmpty() ? 0 : directorySize(exif));
    for (Entry &e : first) {
        if (e.tag == 0x8769 && !exif.isEmpty())
            e.value = u32(exifOffset);
        else if (e.tag == gpsPointerTag && !gps.isEmpty())
            e.value = u32(gpsOffset);
    }
    auto byTag = [](const Entry &a, const Entry &b) { return a.tag < b.tag; };
    std::stable_sort(first.begin(), first.end(), byTag);

    QByteArray out = m_motorola ? QByteArray("MM") : QByteArray("II");
    out += u16(0x2A) + u32(firstIfdOffset);
    out += directory(first, 8);
    if (!exif.isEmpty())
        out += directory(exif, exifOffset);
    if (!gps.isEmpty())
        out += directory(gps, gpsOffset);
    return out;
}

QByteArray ExifBuilder::section(quint8 marker, const QByteArray &payload)
{
    const int length = payload.size() + 2;
    QByteArray s;
    s += char(0xFF);
    s += char(marker);
    s += char(length >> 8);
    s += char(length & 0xFF);
    return s + payload;
}

QByteArray ExifBuilder::jpeg(const QByteArray &tiff, int width, int height)
{
    QByteArray frame;
    frame += char(8);
    frame += char(height >> 8);
    frame += char(height & 0xFF);
    frame += char(width >> 8);
    frame += char(width & 0xFF);
    frame += char(3);
    frame += QByteArray(9, 1);
    QByteArray out("\xFF\xD8", 2);
    out += section(0xE1, QByteArray("Exif\0\0", 6) + tiff);
    out += section(0xC0, frame);
    out += section(0xDA, QByteArray(10, 0));
    out += QByteArray(32, char(0x55)); // stands in for the entropy-coded image data
    out += QByteArray("\xFF\xD9", 2);
    return out;
}
