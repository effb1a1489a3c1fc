#include "posflights.h"

#include "byteorder.h"

#include <cmath>
#include <ctime>

using ByteOrder::putBe16;
using ByteOrder::putBe32;

namespace {
// Small deterministic generator so that a seed always gives the same flights.
class Random
{
public:
    explicit Random(uint32_t seed)
        : m_state(seed * 2654435761u + 12345u)
    {}
    uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    int range(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }

private:
    uint32_t m_state;
};

enum class TimeKind { Unix, Calendar, None };

TimeKind timeKindOf(const CameraConfig &c, int slot)
{
    if (c.timeMode == "unix")
        return TimeKind::Unix;
    if (c.timeMode == "calendar")
        return TimeKind::Calendar;
    if (c.timeMode == "none")
        return TimeKind::None;
    switch (slot % 3) {
    case 1:
        return TimeKind::Unix;
    case 2:
        return TimeKind::Calendar;
    default:
        return TimeKind::None;
    }
}

void utcFields(int64_t seconds, uint8_t out[6])
{
    const time_t t = time_t(seconds);
    tm u = {};
    gmtime_r(&t, &u);
    out[0] = uint8_t(u.tm_year - 100);
    out[1] = uint8_t(u.tm_mon + 1);
    out[2] = uint8_t(u.tm_mday);
    out[3] = uint8_t(u.tm_hour);
    out[4] = uint8_t(u.tm_min);
    out[5] = uint8_t(u.tm_sec);
}

struct Fix
{
    int id;
    uint16_t pitch, roll, heading;
    int32_t lon, lat, alt;
    int16_t speed;
    uint16_t psi16;
    int32_t psi32;
    int64_t seconds;
    int16_t millis;
    uint8_t flags;
    int32_t offsets[5];
};

void writeRecord(const Fix &f, TimeKind kind, int size, uint8_t *r)
{
    putBe16(r, uint16_t(int16_t(f.id)));
    putBe16(r + 2, f.pitch);
    putBe16(r + 4, f.roll);
    putBe16(r + 6, f.heading);
    putBe32(r + 8, uint32_t(f.lon));
    putBe32(r + 12, uint32_t(f.lat));
    putBe32(r + 16, uint32_t(f.alt));
    if (size == 32) {
        putBe32(r + 20, uint32_t(f.psi32));
    } else {
        putBe16(r + 20, uint16_t(f.speed));
        putBe16(r + 22, f.psi16);
    }
    if (kind == TimeKind::Unix) {
        putBe32(r + 24, uint32_t(int32_t(f.seconds)));
        putBe16(r + 28, uint16_t(f.millis));
    } else if (kind == TimeKind::Calendar) {
        utcFields(f.seconds, r + 24);
    }
    r[30] = f.flags;
    if (size == 52) {
        for (int i = 0; i < 5; ++i)
            putBe32(r + 31 + size_t(4 * i), uint32_t(f.offsets[i]));
    }
}
} // namespace

std::vector<PosSlot> PosFlights::generate(const CameraConfig &config)
{
    std::vector<PosSlot> slots(14);
    const int size = config.recordSize();
    uint32_t address = 0x10000;
    Random random(config.seed);
    for (int s = 1; s <= 14; ++s) {
        PosSlot &slot = slots[size_t(s - 1)];
        if (s > config.slots)
            continue;
        const TimeKind kind = timeKindOf(config, s);
        const int count = config.records + 7 * (s - 1);
        const double lineHeading = std::fmod(15.0 + 20.0 * s, 180.0);
        const int perLine = 20;
        double lat = 22.9 + 0.01 * s;
        double lon = 113.2 + 0.02 * s;
        const int64_t t0 = 1553738400 + int64_t(s - 1) * 86400;
        slot.data.assign(size_t(count) * size_t(size), 0);
        for (int i = 0; i < count; ++i) {
            const int line = i / perLine;
            const double heading = std::fmod(lineHeading + (line % 2 ? 180.0 : 0.0), 360.0);
            Fix f = {};
            f.id = i + 1;
            f.pitch = uint16_t(random.range(0, 500));
            f.roll = uint16_t(random.range(0, 500));
            f.heading = uint16_t(std::lround(heading * 100));
            f.lon = int32_t(std::lround(lon * 1e7));
            f.lat = int32_t(std::lround(lat * 1e7));
            f.alt = 300000 + random.range(-2500, 2500);
            f.speed = int16_t(25 + random.range(-3, 3));
            f.psi16 = uint16_t((f.heading + 36000 + random.range(-150, 150)) % 36000);
            f.psi32 = int32_t(std::lround(heading * 128)) + random.range(-64, 64);
            f.seconds = t0 + 2 * int64_t(i);
            f.millis = int16_t(random.range(0, 1999));
            f.flags = kind == TimeKind::Unix ? 2 : kind == TimeKind::Calendar ? (i % 2 ? 3 : 1) : 0;
            // Lens triggers lag the controller by a few milliseconds; the back lens misses
            // now and then (negative offset: no row in its table).
            f.offsets[0] = random.range(800, 3000);
            f.offsets[1] = 0;
            f.offsets[2] = i % 10 == 9 ? -1 : random.range(0, 2500);
            f.offsets[3] = random.range(500, 2000);
            f.offsets[4] = i % 7 == 3 ? 0 : random.range(1, 900);
            if (s == 1 && i == 0) {
                // The reference fix every table check starts from.
                f = {1,
                     100,
                     200,
                     9000,
                     1126000000,
                     234463420,
                     100000,
                     25,
                     9000,
                     11520,
                     1553738400,
                     1500,
                     uint8_t(kind == TimeKind::Unix ? 2 : f.flags),
                     {1000, 0, -1, 2000000, 0}};
            }
            writeRecord(f, kind, size, slot.data.data() + size_t(i) * size_t(size));
            // Next exposure 30 m on; a turn shifts 150 m across to the next line.
            double step = 30, dir = heading;
            if ((i + 1) % perLine == 0) {
                step = 150;
                dir = std::fmod(lineHeading + 90, 360.0);
            }
            const double rad = dir * M_PI / 180;
            lat += step * std::cos(rad) / 111320.0;
            lon += step * std::sin(rad) / (111320.0 * std::cos(lat * M_PI / 180));
        }
        slot.fileNumber = fileNumberOfSlot(s);
        slot.start = address;
        slot.end = address + uint32_t(slot.data.size());
        address = slot.end + 0x100;
        if (kind != TimeKind::None)
            utcFields(t0, slot.time);
    }
    return slots;
}
