#include "dumpname.h"

#include <ctime>

namespace DumpName {

namespace {

ZoneChange g_changes[MaxZoneChanges];
size_t g_count = 0;

int32_t zoneOffset(int64_t utc)
{
    const time_t t = time_t(utc);
    struct tm local = {};
    if (!localtime_r(&t, &local))
        return 0;
    return int32_t(local.tm_gmtoff);
}

// Days since 1970-01-01 to the proleptic Gregorian date, counted in 400-year eras whose
// years start on 1 March so that the leap day falls at the end.
void civilFromDays(int64_t days, int64_t &year, int &month, int &day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = int(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

char *digits(char *out, int64_t value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

} // namespace

void prepareZone(int64_t now)
{
    g_count = 0;
    int32_t current = zoneOffset(now);
    g_changes[g_count++] = {now, current};
    // Daylight saving moves by whole quarter-hours on the hour or half-hour; stepping by day and
    // bisecting to the second finds every change well apart from the next.
    constexpr int64_t Day = 24 * 3600;
    const int64_t horizon = now + 2 * 366 * Day;
    for (int64_t t = now + Day; t <= horizon && g_count < MaxZoneChanges; t += Day) {
        const int32_t offset = zoneOffset(t);
        if (offset == current)
            continue;
        int64_t before = t - Day;
        int64_t after = t;
        while (after - before > 1) {
            const int64_t middle = before + (after - before) / 2;
            if (zoneOffset(middle) == current)
                before = middle;
            else
                after = middle;
        }
        g_changes[g_count++] = {after, offset};
        current = offset;
    }
}

int32_t offsetAt(int64_t utc)
{
    int32_t offset = g_count > 0 ? g_changes[0].offset : 0;
    for (size_t i = 1; i < g_count; ++i) {
        if (g_changes[i].from <= utc)
            offset = g_changes[i].offset;
    }
    return offset;
}

void format(int64_t localSeconds, char *out)
{
    constexpr int64_t Day = 24 * 3600;
    // Clamped to 0000-01-01 .. 9999-12-31 23:59:59 so that every field keeps its width.
    constexpr int64_t First = -62167219200LL;
    constexpr int64_t Last = 253402300799LL;
    if (localSeconds < First)
        localSeconds = First;
    if (localSeconds > Last)
        localSeconds = Last;
    int64_t days = localSeconds / Day;
    int64_t seconds = localSeconds % Day;
    if (seconds < 0) {
        seconds += Day;
        --days;
    }
    int64_t year = 0;
    int month = 0;
    int day = 0;
    civilFromDays(days, year, month, day);
    char *p = digits(out, year, 4);
    *p++ = '_';
    p = digits(p, month, 2);
    *p++ = '_';
    p = digits(p, day, 2);
    *p++ = '_';
    p = digits(p, seconds / 3600, 2);
    *p++ = '_';
    p = digits(p, seconds / 60 % 60, 2);
    *p++ = '_';
    p = digits(p, seconds % 60, 2);
    const char extension[] = ".dmp";
    for (char c : extension)
        *p++ = c;
}

} // namespace DumpName
