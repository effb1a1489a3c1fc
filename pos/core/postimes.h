#pragma once

#include <QString>

#include <cstdint>
#include <ctime>

// A calendar time as the camera keeps it: year (full), month, day, hour, minute, second.
struct PosClock
{
    int year = 2000, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool operator==(const PosClock &o) const
    {
        return year == o.year && month == o.month && day == o.day && hour == o.hour &&
               minute == o.minute && second == o.second;
    }
};

// The times of slot descriptions and of files on the camera's POS drive. The camera's clock
// runs in UTC; the listing shows the computer's own time zone, as the tables' rows do, so that
// a slot's time reads the same as the first row of its table wherever the crew is.
namespace PosTimes {

// Six bytes year - 2000, month, day, hour, minute, second (a slot description's layout).
PosClock fromBytes(const uint8_t bytes[6]);

// Whether the camera had a time for the file: all-zero fields (an empty slot, a flight without
// a fix) and dates before the camera's year 2000 (a drive file written without one) have none.
bool hasTime(const PosClock &clock);

// The camera's UTC fields in the computer's time zone; out-of-range fields roll over as the
// tables' conversion rolls them. A clock without a time stays as it is.
PosClock toLocal(const PosClock &utc);
// seconds since the epoch broken down in the computer's time zone; false when it cannot be.
bool localClock(time_t seconds, PosClock *clock);

// "2019-03-28 10-00-00", the tables' own format; empty without a time.
QString text(const PosClock &clock);
// "20190328100000", the start of the names of the downloaded tables; empty without a time.
QString compact(const PosClock &clock);

} // namespace PosTimes
