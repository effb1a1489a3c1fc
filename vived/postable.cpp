#include "postable.h"

#include "byteorder.h"
#include "posfile.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace vived {

namespace {
void append(std::string &out, const char *format, ...)
{
    char buffer[64];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0)
        out.append(buffer, size_t(std::min(n, int(sizeof buffer) - 1)));
}

std::string header(std::initializer_list<const char *> names)
{
    std::string line;
    for (const char *name : names)
        append(line, "%s\t", name);
    line += " \n";
    return line;
}

// Values shared by the main and the per-lens rows after the position: Alt .. Psi_GPS.
void appendAttitude(std::string &row, const PosRecord &r)
{
    append(row, "%.3f \t", r.alt);
    append(row, "%.2f \t", r.heading);
    append(row, "%.1f \t", r.pitch);
    append(row, "%.1f \t", r.roll);
    append(row, "%.2f \t", r.psiGps);
}
} // namespace

std::string PosTable::timeText(const uint8_t *raw)
{
    const uint8_t flags = raw[30];
    int year, month, day, hour, minute, second;
    if ((flags & 3) == 2) {
        const time_t seconds = time_t(int32_t(getBe32(raw + 24)));
        const int milliseconds = int16_t(getBe16(raw + 28));
        tm local = {};
        if (!localtime_r(&seconds, &local))
            return {};
        year = local.tm_year + 1900;
        month = local.tm_mon + 1;
        day = local.tm_mday;
        hour = local.tm_hour;
        minute = local.tm_min;
        second = local.tm_sec + milliseconds / 1000; // not carried into the minute
    } else if (flags & 1) {
        uint8_t y = raw[24], mo = raw[25], d = raw[26], h = raw[27], mi = raw[28], s = raw[29];
        _utc2localtime(&y, &mo, &d, &h, &mi, &s);
        year = 2000 + y;
        month = mo;
        day = d;
        hour = h;
        minute = mi;
        second = s;
    } else {
        return {};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d-%02d-%02d", year, month, day, hour, minute,
                  second);
    return text;
}

bool PosTable::decode(const uint8_t *raw, int recordSize, PosRecord &r)
{
    if (!raw || (recordSize != 32 && recordSize != 52))
        return false;
    r.id = _posfile_big2littles(raw);
    r.pitch = _posfile_big2littleus(raw + 2) * 0.01;
    r.roll = _posfile_big2littleus(raw + 4) * 0.01;
    r.heading = _posfile_big2littleus(raw + 6) * 0.01;
    r.lonRaw = __posfile_big2littlel(raw + 8);
    r.latRaw = __posfile_big2littlel(raw + 12);
    r.lon = r.lonRaw * 1e-7;
    r.lat = r.latRaw * 1e-7;
    r.alt = __posfile_big2littlel(raw + 16) * 0.001;
    if (recordSize == 32) {
        r.psiGps = __posfile_big2littlel(raw + 20) * 0.0078125;
        r.speed = 0;
    } else {
        r.speed = _posfile_big2littles(raw + 20);
        r.psiGps = _posfile_big2littleus(raw + 22) * 0.01;
        for (int i = 0; i < 5; ++i)
            r.offsets[i] = __posfile_big2littlel(raw + 31 + size_t(4 * i));
    }
    r.time = timeText(raw);
    return true;
}

std::string PosTable::mainHeader(int recordSize)
{
    if (recordSize == 52)
        return header({"ID", "Lon", "Lat", "Alt", "Heading", "Pitch", "Roll", "Psi_GPS", "Speed",
                       "Time", "offset1", "offset2", "offset3", "offset4", "offset5"});
    return header({"ID", "Lon", "Lat", "Alt", "Heading", "Pitch", "Roll", "Psi_GPS", "Time"});
}

std::string PosTable::lensHeader()
{
    return header(
        {"ID", "Lon", "Lat", "Alt", "Heading", "Pitch", "Roll", "Psi_GPS", "Speed", "Time"});
}

std::string PosTable::mainRow(const PosRecord &r, int recordSize)
{
    std::string row;
    append(row, "%d \t", r.id);
    append(row, "%.7lf \t", r.lon);
    append(row, "%.7lf \t", r.lat);
    appendAttitude(row, r);
    if (recordSize == 52)
        append(row, "%.1f \t", r.speed);
    row += r.time;
    row += " \t";
    if (recordSize == 52) {
        for (int32_t offset : r.offsets)
            append(row, "%d \t", offset);
    }
    row += " \n";
    return row;
}

bool PosTable::lensRow(const PosRecord &r, int lens, std::string &row)
{
    if (lens < 0 || lens > 4 || r.offsets[lens] < 0)
        return false;
    double lon = r.lon;
    double lat = r.lat;
    if (r.offsets[lens] > 0) {
        const double distance = double(r.offsets[lens]) * r.speed * 0.000001;
        double movedLon = lon, movedLat = lat;
        if (CalcNextPoint(r.lon, r.lat, distance, r.psiGps, &movedLon, &movedLat) == 0) {
            lon = movedLon;
            lat = movedLat;
        }
    }
    row.clear();
    append(row, "%d \t", r.id);
    if (r.lonRaw == 0)
        append(row, "%d \t", 0);
    else
        append(row, "%.7lf \t", lon);
    if (r.latRaw == 0)
        append(row, "%d \t", 0);
    else
        append(row, "%.7lf \t", lat);
    appendAttitude(row, r);
    append(row, "%.1f \t", r.speed);
    row += r.time;
    row += " \t \n";
    return true;
}

} // namespace vived
