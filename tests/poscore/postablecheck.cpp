#include "postablecheck.h"

#include <GeographicLib/Geodesic.hpp>

#include <QString>
#include <QtEndian>

#include <cstdio>
#include <ctime>

namespace {
const char *const kNames52[] = {"ID",      "Lon",     "Lat",     "Alt",     "Heading",
                                "Pitch",   "Roll",    "Psi_GPS", "Speed",   "Time",
                                "offset1", "offset2", "offset3", "offset4", "offset5"};

// The C library's printf, as the tables are specified by its formats. Qt's own formatting
// rounds exact ties (0.25 with "%.1f") the other way.
template <typename... Args> QByteArray fmt(const char *format, Args... args)
{
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return QByteArray(buffer, qBound(0, n, int(sizeof buffer) - 1));
}

qint16 s16(const uchar *p)
{
    return qFromBigEndian<qint16>(p);
}
quint16 u16(const uchar *p)
{
    return qFromBigEndian<quint16>(p);
}
qint32 s32(const uchar *p)
{
    return qFromBigEndian<qint32>(p);
}

QByteArray header(int count)
{
    QByteArray line;
    for (int i = 0; i < count; ++i)
        line += QByteArray(kNames52[i]) + '\t';
    return line + " \n";
}

QByteArray timeText(const uchar *r)
{
    int y, mo, d, h, mi, s;
    tm t = {};
    if ((r[30] & 3) == 2) {
        const time_t secs = s32(r + 24);
        localtime_r(&secs, &t);
        s = t.tm_sec + s16(r + 28) / 1000;
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
        s = t.tm_sec;
    } else {
        return {};
    }
    y = t.tm_year + 1900;
    mo = t.tm_mon + 1;
    d = t.tm_mday;
    h = t.tm_hour;
    mi = t.tm_min;
    return fmt("%d-%02d-%02d %02d-%02d-%02d", y, mo, d, h, mi, s);
}

QByteArray attitude(const uchar *r, int size)
{
    const double psi = size == 32 ? s32(r + 20) * 0.0078125 : u16(r + 22) * 0.01;
    return fmt("%.3f \t%.2f \t%.1f \t%.1f \t%.2f \t", s32(r + 16) * 0.001, u16(r + 6) * 0.01,
               u16(r + 2) * 0.01, u16(r + 4) * 0.01, psi);
}
} // namespace

QByteArray PosTableCheck::mainTable(const QByteArray &raw, int size)
{
    QByteArray out = size == 52 ? header(15) : header(8).replace("Psi_GPS\t", "Psi_GPS\tTime\t");
    for (int at = 0; at + size <= raw.size(); at += size) {
        const uchar *r = reinterpret_cast<const uchar *>(raw.constData()) + at;
        out += fmt("%d \t%.7f \t%.7f \t", s16(r), s32(r + 8) * 1e-7, s32(r + 12) * 1e-7);
        out += attitude(r, size);
        if (size == 52)
            out += fmt("%.1f \t", double(s16(r + 20)));
        out += timeText(r) + " \t";
        if (size == 52) {
            for (int i = 0; i < 5; ++i)
                out += QByteArray::number(s32(r + 31 + 4 * i)) + " \t";
        }
        out += " \n";
    }
    return out;
}

QByteArray PosTableCheck::lensTable(const QByteArray &raw, int lens)
{
    QByteArray out = header(10);
    for (int at = 0; at + 52 <= raw.size(); at += 52) {
        const uchar *r = reinterpret_cast<const uchar *>(raw.constData()) + at;
        const qint32 offset = s32(r + 31 + 4 * lens);
        if (offset < 0)
            continue;
        double lat = s32(r + 12) * 1e-7, lon = s32(r + 8) * 1e-7;
        const double speed = s16(r + 20);
        if (offset > 0) {
            double lat2, lon2;
            GeographicLib::Geodesic::WGS84().Direct(lat, lon, u16(r + 22) * 0.01,
                                                    offset * speed * 1e-6, lat2, lon2);
            lat = lat2;
            lon = lon2;
        }
        out += QByteArray::number(s16(r)) + " \t";
        out += s32(r + 8) == 0 ? QByteArray("0 \t") : fmt("%.7f \t", lon);
        out += s32(r + 12) == 0 ? QByteArray("0 \t") : fmt("%.7f \t", lat);
        out += attitude(r, 52);
        out += fmt("%.1f \t", speed);
        out += timeText(r) + " \t \n";
    }
    return out;
}
