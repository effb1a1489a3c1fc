#include "posreference.h"

#include <GeographicLib/Geodesic.hpp>

#include <QtEndian>

#include <cstdio>
#include <ctime>

namespace {
const char kHeader52[] = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\toffset1\t"
                         "offset2\toffset3\toffset4\toffset5\t \n";

// The C library's printf, as the tables are specified by its formats. Qt's own formatting
// rounds exact ties (0.25 with "%.1f") the other way.
template <typename... Args> QByteArray fmt(const char *format, Args... args)
{
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return QByteArray(buffer, qBound(0, n, int(sizeof buffer) - 1));
}

template <typename T> T be(const uchar *p)
{
    return qFromBigEndian<T>(p);
}

QByteArray timeText(const uchar *r)
{
    tm t = {};
    int second;
    if ((r[30] & 3) == 2) {
        const time_t secs = be<qint32>(r + 24);
        localtime_r(&secs, &t);
        second = t.tm_sec + be<qint16>(r + 28) / 1000;
    } else if (r[30] & 1) {
        tm u = {};
        u.tm_year = 100 + r[24];
        u.tm_mon = r[25] - 1;
        u.tm_mday = r[26];
        u.tm_hour = r[27];
        u.tm_min = r[28];
        u.tm_sec = r[29];
        const time_t secs = timegm(&u);
        localtime_r(&secs, &t);
        second = t.tm_sec;
    } else {
        return {};
    }
    return fmt("%d-%02d-%02d %02d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
               t.tm_min, second);
}

QByteArray attitude(const uchar *r, int size)
{
    const double psi = size == 32 ? be<qint32>(r + 20) * 0.0078125 : be<quint16>(r + 22) * 0.01;
    return fmt("%.3f \t%.2f \t%.1f \t%.1f \t%.2f \t", be<qint32>(r + 16) * 0.001,
               be<quint16>(r + 6) * 0.01, be<quint16>(r + 2) * 0.01, be<quint16>(r + 4) * 0.01,
               psi);
}
} // namespace

QByteArray PosReference::mainTable(const QByteArray &raw, int size)
{
    QByteArray out = size == 52 ? QByteArray(kHeader52)
                                : "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tTime\t \n";
    for (int at = 0; at + size <= raw.size(); at += size) {
        const uchar *r = reinterpret_cast<const uchar *>(raw.constData()) + at;
        out += fmt("%d \t%.7f \t%.7f \t", be<qint16>(r), be<qint32>(r + 8) * 1e-7,
                   be<qint32>(r + 12) * 1e-7);
        out += attitude(r, size);
        if (size == 52)
            out += fmt("%.1f \t", double(be<qint16>(r + 20)));
        out += timeText(r) + " \t";
        for (int i = 0; size == 52 && i < 5; ++i)
            out += QByteArray::number(be<qint32>(r + 31 + 4 * i)) + " \t";
        out += " \n";
    }
    return out;
}

QByteArray PosReference::lensTable(const QByteArray &raw, int lens)
{
    QByteArray out =
        QByteArray(kHeader52).replace("offset1\toffset2\toffset3\toffset4\toffset5\t", "");
    for (int at = 0; at + 52 <= raw.size(); at += 52) {
        const uchar *r = reinterpret_cast<const uchar *>(raw.constData()) + at;
        const qint32 offset = be<qint32>(r + 31 + 4 * lens);
        if (offset < 0)
            continue;
        double lat = be<qint32>(r + 12) * 1e-7, lon = be<qint32>(r + 8) * 1e-7;
        const double speed = be<qint16>(r + 20);
        if (offset > 0)
            GeographicLib::Geodesic::WGS84().Direct(lat, lon, be<quint16>(r + 22) * 0.01,
                                                    offset * speed * 1e-6, lat, lon);
        out += QByteArray::number(be<qint16>(r)) + " \t";
        out += be<qint32>(r + 8) == 0 ? QByteArray("0 \t") : fmt("%.7f \t", lon);
        out += be<qint32>(r + 12) == 0 ? QByteArray("0 \t") : fmt("%.7f \t", lat);
        out += attitude(r, 52) + fmt("%.1f \t", speed) + timeText(r) + " \t \n";
    }
    return out;
}
