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

PosClock plusEightHours(const PosClock &clock)
{
    if (clock == PosClock())
        return clock;
    tm local = {};
    local.tm_year = clock.year - 1900;
    local.tm_mon = clock.month - 1;
    local.tm_mday = clock.day;
    local.tm_hour = clock.hour;
    local.tm_min = clock.minute;
    local.tm_sec = clock.second;
    local.tm_isdst = -1;
    const time_t seconds = mktime(&local);
    if (seconds == time_t(-1))
        return clock;
    const time_t later = seconds + 28800;
    tm out = {};
    if (!localtime_r(&later, &out))
        return clock;
    PosClock c;
    c.year = out.tm_year + 1900;
    c.month = out.tm_mon + 1;
    c.day = out.tm_mday;
    c.hour = out.tm_hour;
    c.minute = out.tm_min;
    c.second = out.tm_sec;
    return c;
}

namespace {
QString two(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}
} // namespace

QString slotText(const PosClock &c)
{
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(c.year)
        .arg(two(c.month), two(c.day), two(c.hour), two(c.minute), two(c.second));
}

QString fileText(const PosClock &c)
{
    return QStringLiteral("%1-%2-%3 %4-%5-%6")
        .arg(c.year)
        .arg(two(c.month), two(c.day), two(c.hour), two(c.minute), two(c.second));
}

QString compact(const PosClock &c)
{
    return QStringLiteral("%1%2%3%4%5%6")
        .arg(c.year, 4, 10, QLatin1Char('0'))
        .arg(two(c.month), two(c.day), two(c.hour), two(c.minute), two(c.second));
}

} // namespace PosTimes
