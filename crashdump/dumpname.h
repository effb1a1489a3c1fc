#pragma once

#include <cstddef>
#include <cstdint>

// Local-time file names for crash dumps, computed without the C library's time-zone code (which
// takes locks and may allocate) so that the fatal-signal handler can use them.
namespace DumpName {

// Length of "yyyy_MM_dd_hh_mm_ss.dmp" without the terminator.
constexpr size_t Length = 23;

// Offsets from UTC in force from a given moment on.
struct ZoneChange
{
    int64_t from = 0;     // seconds since the epoch (UTC)
    int32_t offset = 0;   // local minus UTC, in seconds
};

constexpr size_t MaxZoneChanges = 8;

// Records the zone's offset at now and the changes (daylight saving) of the next two years.
// Not signal-safe: called once at start-up. A crash later than the horizon, or after the
// operator changed the zone, is named with the last offset recorded.
void prepareZone(int64_t now);

// The recorded local offset at utc (0 before prepareZone).
int32_t offsetAt(int64_t utc);

// Writes "yyyy_MM_dd_hh_mm_ss.dmp" for the local calendar time localSeconds (seconds since
// 1970-01-01 00:00 of the local calendar) into out[0, Length) and a terminator at out[Length].
// Years outside 0..9999 are clamped to the nearest. Async-signal-safe.
void format(int64_t localSeconds, char *out);

} // namespace DumpName
