#include "postimes.h"

#include <ctime>

namespace PosTimes {

PosClock fromBytes(const uint8_t bytes[6])
{
    PosClock c;
    c.year = 2000 + bytes[0];
    c.month = bytes[1];
    c.day = bytes[2];
    c.hour = bytes[3];
    c.minute = bytes[4];
    c.second = bytes[5];
    return c;
}

bool hasTime(const PosClock &clock)
{
    return clock.year >= 2000 && clock.month >= 1 && clock.day >= 1;
}

PosClock toLocal(const PosClock &utc)
{
    if (!hasTime(utc))
        return utc;
    tm fields = {};
    fields.tm_year = utc.year - 1900;
    fields.tm_mon = utc.month - 1;
    fields.tm_mday = utc.day;
    fields.tm_hour = utc.hour;
    fields.tm_min = utc.minute;
    fields.tm_sec = utc.second;
    const time_t seconds = timegm(&fields);
    PosClock c;
    return seconds != time_t(-1) && localClock(seconds, &c) ? c : utc;
}

bool localClock(time_t seconds, PosClock *clock)
{
    tm local = {};
    if (!localtime_r(&seconds, &local))
        return false;
    clock->year = local.tm_year + 1900;
    clock->month = local.tm_mon + 1;
    clock->day = local.tm_mday;
    clock->hour = local.tm_hour;
    clock->minute = local.tm_min;
    clock->second = local.tm_sec;
    return true;
}

namespace {
QString two(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}
} // namespace

QString text(const PosClock &c)
{
    if (!hasTime(c))
        return QString();
    return QStringLiteral("%1-%2-%3 %4-%5-%6")
        .arg(c.year)
        .arg(two(c.month), two(c.day), two(c.hour), two(c.minute), two(c.second));
}

QString compact(const PosClock &c)
{
    if (!hasTime(c))
        return QString();
    return QStringLiteral("%1%2%3%4%5%6")
        .arg(c.year, 4, 10, QLatin1Char('0'))
        .arg(two(c.month), two(c.day), two(c.hour), two(c.minute), two(c.second));
}

} // namespace PosTimes
