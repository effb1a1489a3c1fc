#include "postable.h"

#include "byteorder.h"
#include "posfile.h"

#include <algorithm>
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

} // namespace

std::string PosTable::timeText(const uint8_t *raw)
{
    const uint8_t flags = raw[30];
    int year, month, day, hour, minute, second;
    if ((flags & 3) == 2) {
        const time_t seconds = time_t(int32_t(ByteOrder::getBe32(raw + 24)));
        const int milliseconds = int16_t(ByteOrder::getBe16(raw + 28));
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

namespace {
// One snprintf per row: the tables of a day's flights run to hundreds of thousands of rows.
size_t clampLength(int n, size_t size)
{
    return n < 0 ? 0 : std::min(size_t(n), size - 1);
}

size_t formatMainRow(const PosRecord &r, int recordSize, char *out, size_t size)
{
    int n;
    if (recordSize == 52)
        n = std::snprintf(out, size,
                          "%d \t%.7lf \t%.7lf \t%.3f \t%.2f \t%.1f \t%.1f \t%.2f \t%.1f \t%s \t"
                          "%d \t%d \t%d \t%d \t%d \t \n",
                          r.id, r.lon, r.lat, r.alt, r.heading, r.pitch, r.roll, r.psiGps, r.speed,
                          r.time.c_str(), r.offsets[0], r.offsets[1], r.offsets[2], r.offsets[3],
                          r.offsets[4]);
    else
        n = std::snprintf(
            out, size, "%d \t%.7lf \t%.7lf \t%.3f \t%.2f \t%.1f \t%.1f \t%.2f \t%s \t \n", r.id,
            r.lon, r.lat, r.alt, r.heading, r.pitch, r.roll, r.psiGps, r.time.c_str());
    return clampLength(n, size);
}

// The lens row, or 0 when the lens has no row (negative offset).
size_t formatLensRow(const PosRecord &r, int lens, char *out, size_t size)
{
    if (lens < 0 || lens > 4 || r.offsets[lens] < 0)
        return 0;
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
    // A record without a position keeps its zero as the integer 0.
    char lonText[48], latText[48];
    if (r.lonRaw == 0)
        std::snprintf(lonText, sizeof lonText, "%d", 0);
    else
        std::snprintf(lonText, sizeof lonText, "%.7lf", lon);
    if (r.latRaw == 0)
        std::snprintf(latText, sizeof latText, "%d", 0);
    else
        std::snprintf(latText, sizeof latText, "%.7lf", lat);
    const int n = std::snprintf(
        out, size, "%d \t%s \t%s \t%.3f \t%.2f \t%.1f \t%.1f \t%.2f \t%.1f \t%s \t \n", r.id,
        lonText, latText, r.alt, r.heading, r.pitch, r.roll, r.psiGps, r.speed, r.time.c_str());
    return clampLength(n, size);
}

constexpr size_t kRowSize = 512;
} // namespace

std::string PosTable::mainRow(const PosRecord &r, int recordSize)
{
    char buffer[kRowSize];
    return std::string(buffer, formatMainRow(r, recordSize, buffer, sizeof buffer));
}

bool PosTable::lensRow(const PosRecord &r, int lens, std::string &row)
{
    char buffer[kRowSize];
    const size_t n = formatLensRow(r, lens, buffer, sizeof buffer);
    if (n == 0)
        return false;
    row.assign(buffer, n);
    return true;
}

namespace {
const char *const kLensSuffix[] = {"Front.xls", "Right.xls", "Back.xls", "Left.xls", "Center.xls"};

bool put(FILE *file, const std::string &text)
{
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}
} // namespace

std::string PosTable::lensPath(const std::string &mainPath, int lens)
{
    if (lens < 0 || lens > 4)
        return {};
    std::string base;
    for (size_t at = 0; at <= mainPath.size();) {
        size_t end = mainPath.find(".xls", at);
        if (end == std::string::npos)
            end = mainPath.size();
        if (end > at) {
            base = mainPath.substr(at, end - at);
            break;
        }
        at = end + 4;
    }
    return base + kLensSuffix[lens];
}

int PosTable::openLensTables(const std::string &mainPath, FILE *out[5])
{
    int opened = 0;
    for (int lens = 0; lens < 5; ++lens)
        out[lens] = nullptr;
    for (; opened < 5; ++opened) {
        out[opened] = std::fopen(lensPath(mainPath, opened).c_str(), "w+");
        if (!out[opened])
            return opened;
    }
    for (int lens = 0; lens < 5; ++lens)
        _ofrm_initexcelheadoffsetsingle(out[lens]);
    return opened;
}

bool PosTable::writeMainHeader(FILE *main, int recordSize)
{
    return main && put(main, mainHeader(recordSize));
}

bool PosTable::writeRows(const uint8_t *raw, size_t count, int recordSize, FILE *main,
                         FILE *const *lens)
{
    if (!raw || !main || (recordSize != 32 && recordSize != 52))
        return false;
    const bool lenses = lens && recordSize == 52 &&
                        std::any_of(lens, lens + 5, [](FILE *f) { return f != nullptr; });
    bool ok = true;
    PosRecord record;
    char row[kRowSize];
    for (size_t i = 0; i < count; ++i) {
        decode(raw + i * size_t(recordSize), recordSize, record);
        size_t n = formatMainRow(record, recordSize, row, sizeof row);
        ok = std::fwrite(row, 1, n, main) == n && ok;
        if (!lenses)
            continue;
        for (int l = 0; l < 5; ++l) {
            if (lens[l] && (n = formatLensRow(record, l, row, sizeof row)) > 0)
                ok = std::fwrite(row, 1, n, lens[l]) == n && ok;
        }
    }
    return ok;
}

} // namespace vived
