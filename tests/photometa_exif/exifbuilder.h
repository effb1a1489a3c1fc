#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <algorithm>

// Hand-built JPEG headers for the EXIF reader's tests and the tests that need photos with
// exactly the tags they state.
using Pair = QPair<quint32, quint32>;

// Small EXIF blocks in either byte order, so tests can state exactly which tags, values and
// faults a photo carries.
struct Exif
{
    struct Entry
    {
        quint16 tag, format;
        quint32 count;
        QByteArray value; // over four bytes: stored after the directory
        bool raw = false; // value is the entry's four bytes as they are (offsets for faults)
    };
    bool motorola;

    QByteArray u16(quint32 v) const { return bytes(v, 2); }
    QByteArray u32(quint32 v) const { return bytes(v, 4); }
    QByteArray bytes(quint32 v, int n) const
    {
        QByteArray b(n, 0);
        for (int i = 0; i < n; ++i)
            b[motorola ? n - 1 - i : i] = char(v >> (8 * i));
        return b;
    }
    Entry ascii(quint16 tag, const QByteArray &s) const
    {
        return {tag, 2, quint32(s.size() + 1), s + '\0'};
    }
    Entry shortValue(quint16 tag, quint16 v) const { return {tag, 3, 1, u16(v)}; }
    Entry longValue(quint16 tag, quint32 v) const { return {tag, 4, 1, u32(v)}; }
    // Unsigned (format 5) or signed (10) rationals.
    Entry ratios(quint16 tag, const QList<Pair> &values, quint16 format = 5) const
    {
        Entry e{tag, format, quint32(values.size()), {}};
        for (const Pair &v : values)
            e.value += u32(v.first) + u32(v.second);
        return e;
    }
    Entry raw(quint16 tag, quint16 format, quint32 count, quint32 four) const
    {
        return {tag, format, count, u32(four), true};
    }

    QByteArray directory(const QList<Entry> &entries, quint32 offset) const
    {
        QByteArray head = u16(quint32(entries.size())), data;
        for (const Entry &e : entries) {
            head += u16(e.tag) + u16(e.format) + u32(e.count);
            if (e.raw || e.value.size() <= 4) {
                head += (e.value + QByteArray(4, 0)).left(4);
                continue;
            }
            head += u32(offset + 6 + 12 * quint32(entries.size()) + quint32(data.size()));
            data += e.value + QByteArray(e.value.size() & 1, 0);
        }
        return head + u32(0) + data;
    }

    // TIFF header and IFD0, then the EXIF and GPS directories when given (pointed at from IFD0
    // by 0x8769 and gpsPointer). The first directory's offset may be given wrong.
    QByteArray tiff(QList<Entry> ifd0, const QList<Entry> &exif = {}, const QList<Entry> &gps = {},
                    quint16 gpsPointer = 0x8825, quint32 firstOffset = 8) const
    {
        QList<QPair<quint16, QList<Entry>>> subs{{0x8769, exif}, {gpsPointer, gps}};
        for (const auto &sub : subs) {
            if (!sub.second.isEmpty())
                ifd0.append(longValue(sub.first, 0)); // a place holder of the right size
        }
        std::stable_sort(ifd0.begin(), ifd0.end(),
                         [](const Entry &a, const Entry &b) { return a.tag < b.tag; });
        quint32 at = 8 + quint32(directory(ifd0, 8).size());
        QByteArray rest;
        for (const auto &sub : subs) {
            if (sub.second.isEmpty())
                continue;
            for (Entry &e : ifd0) {
                if (e.tag == sub.first)
                    e.value = u32(at + quint32(rest.size()));
            }
            rest += directory(sub.second, at + quint32(rest.size()));
        }
        return (motorola ? "MM" : "II") + u16(0x2A) + u32(firstOffset) + directory(ifd0, 8) + rest;
    }
};

inline QByteArray section(quint8 marker, const QByteArray &payload)
{
    const int length = payload.size() + 2;
    const char head[] = {char(0xFF), char(marker), char(length >> 8), char(length)};
    return QByteArray(head, 4) + payload;
}

// SOI, APP1 "Exif\0\0" + tiff, SOF0 with the size, SOS and a few image bytes, EOI.
inline QByteArray jpeg(const QByteArray &tiff, int width = 64, int height = 48)
{
    const char frame[] = {8, char(height >> 8), char(height), char(width >> 8), char(width), 3};
    return QByteArray("\xFF\xD8", 2) + section(0xE1, QByteArray("Exif\0\0", 6) + tiff) +
           section(0xC0, QByteArray(frame, 6) + QByteArray(9, 1)) +
           section(0xDA, QByteArray(10, 0)) + QByteArray(32, char(0x55)) +
           QByteArray("\xFF\xD9", 2);
}
