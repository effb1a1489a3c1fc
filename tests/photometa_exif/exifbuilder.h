#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Builds small EXIF blocks and JPEG headers in either byte order, so tests can state exactly
// which tags, values and faults a photo carries.
class ExifBuilder
{
public:
    struct Entry
    {
        quint16 tag = 0;
        quint16 format = 0;
        quint32 count = 0;
        QByteArray value; // in the builder's byte order
        bool raw = false; // value is the 4 entry bytes as they are (offsets for fault tests)
    };

    explicit ExifBuilder(bool motorola)
        : m_motorola(motorola)
    {}

    QByteArray u16(quint32 v) const;
    QByteArray u32(quint32 v) const;

    Entry ascii(quint16 tag, const QByteArray &text) const;
    Entry shortValue(quint16 tag, quint16 v) const;
    Entry longValue(quint16 tag, quint32 v) const;
    Entry rational(quint16 tag, quint32 num, quint32 den) const;
    Entry srational(quint16 tag, qint32 num, qint32 den) const;
    Entry rationals(quint16 tag, const QList<QPair<quint32, quint32>> &values) const;
    Entry undefined(quint16 tag, const QByteArray &bytes) const;
    Entry rawEntry(quint16 tag, quint16 format, quint32 count, quint32 fourBytes) const;

    // TIFF header plus IFD0, and the EXIF and GPS directories when given (their pointer tags
    // 0x8769 and gpsPointerTag are added to IFD0). The first IFD offset may be overridden.
    QByteArray tiff(const QList<Entry> &ifd0, const QList<Entry> &exif = {},
                    const QList<Entry> &gps = {}, quint16 gpsPointerTag = 0x8825,
                    quint32 firstIfdOffset = 8) const;

    // SOI, APP1 "Exif\0\0" + tiff, SOF0 with the size, SOS and a few image bytes, EOI.
    static QByteArray jpeg(const QByteArray &tiff, int width = 64, int height = 48);
    static QByteArray section(quint8 marker, const QByteArray &payload);

private:
    QByteArray directory(const QList<Entry> &entries, quint32 offset) const;
    static quint32 directorySize(const QList<Entry> &entries);

    bool m_motorola;
};
