#pragma once

#include <QString>

#include <cstdint>

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
// runs in UTC while the crews read Beijing time, so every such time is shown eight hours on.
namespace PosTimes {

// Six bytes year - 2000, month, day, hour, minute, second (a slot description's layout).
PosClock fromBytes(const uint8_t bytes[6]);

// The +8 hour rule: all-zero fields stay as they are (a camera that has no time for the file);
// any other time is taken as local calendar time, moved on by 28,800 seconds and broken down
// again, so it rolls over into the next day or year where needed.
PosClock plusEightHours(const PosClock &clock);

// "2019-03-28 10:00:00", the listing's time of a slot.
QString slotText(const PosClock &clock);
// "2019-03-28 10-00-00", the listing's time of a file on the POS drive.
QString fileText(const PosClock &clock);
// "20190328100000", the start of the names of the downloaded tables.
QString compact(const PosClock &clock);

} // namespace PosTimes
