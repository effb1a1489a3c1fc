// The record helpers of the C API: byte order, time conversion, geodesy, per-lens header.
#include "posfile.h"

#include "byteorder.h"
#include "postable.h"

#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <ctime>

extern "C" {

int16_t _posfile_big2littles(const void *p)
{
    if (!p)
        return 0;
    const int v = ByteOrder::getBe16(static_cast<const uint8_t *>(p));
    return static_cast<int16_t>(v >= 0x8000 ? v - 0x10000 : v);
}

uint16_t _posfile_big2littleus(const void *p)
{
    return p ? ByteOrder::getBe16(static_cast<const uint8_t *>(p)) : 0;
}

int32_t __posfile_big2littlel(const void *p)
{
    if (!p)
        return 0;
    const int64_t v = ByteOrder::getBe32(static_cast<const uint8_t *>(p));
    return static_cast<int32_t>(v >= 0x80000000LL ? v - 0x100000000LL : v);
}

int _utc2localtime(uint8_t *year, uint8_t *month, uint8_t *day, uint8_t *hour, uint8_t *minute,
                   uint8_t *second)
{
    if (!year || !month || !day || !hour || !minute || !second)
        return -1;
    // Out-of-range fields are normalised the way the C library does it (month 13 is January
    // of the next year), as a camera clock that was never set still gives a readable time.
    tm utc = {};
    utc.tm_year = 100 + *year;
    utc.tm_mon = *month - 1;
    utc.tm_mday = *day;
    utc.tm_hour = *hour;
    utc.tm_min = *minute;
    utc.tm_sec = *second;
    const time_t t = timegm(&utc);
    tm local = {};
    if (t == time_t(-1) || !localtime_r(&t, &local))
        return -1;
    *year = uint8_t(local.tm_year - 100);
    *month = uint8_t(local.tm_mon + 1);
    *day = uint8_t(local.tm_mday);
    *hour = uint8_t(local.tm_hour);
    *minute = uint8_t(local.tm_min);
    *second = uint8_t(local.tm_sec);
    return 0;
}

int CalcNextPoint(double lon, double lat, double distance, double heading, double *outLon,
                  double *outLat)
{
    if (!outLon || !outLat || !std::isfinite(lon) || !std::isfinite(lat) ||
        !std::isfinite(distance) || !std::isfinite(heading) || std::fabs(lat) > 90)
        return -1;
    double lat2 = 0, lon2 = 0;
    GeographicLib::Geodesic::WGS84().Direct(lat, lon, heading, distance, lat2, lon2);
    *outLon = lon2;
    *outLat = lat2;
    return 0;
}

int _ofrm_initexcelheadoffsetsingle(FILE *file)
{
    if (!file)
        return -1;
    const std::string header = vived::PosTable::lensHeader();
    return std::fwrite(header.data(), 1, header.size(), file) == header.size() ? 0 : -1;
}

} // extern "C"
