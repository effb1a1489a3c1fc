#!/usr/bin/env python3
# The benchmark's peer: Python's struct unpacking the same 52-byte POS records and writing the
# same main table, with the same formats. Prints the seconds its own loop took.
import calendar
import struct
import sys
import time
from pathlib import Path

RECORD = struct.Struct(">hHHHiiihH6sB5i")  # 51 bytes of the 52-byte record, big-endian
UNIX = struct.Struct(">ih")
HEADER = "".join(n + "\t" for n in ("ID", "Lon", "Lat", "Alt", "Heading", "Pitch", "Roll",
                                      "Psi_GPS", "Speed", "Time", "offset1", "offset2",
                                      "offset3", "offset4", "offset5")) + " \n"


def time_text(t6, flags):
    if flags & 3 == 2:
        seconds, millis = UNIX.unpack(t6)
        t = time.localtime(seconds)
        sec = t.tm_sec + int(millis / 1000)
    elif flags & 1:
        t = time.localtime(calendar.timegm((2000 + t6[0], t6[1], t6[2], t6[3], t6[4], t6[5])))
        sec = t.tm_sec
    else:
        return ""
    return "%d-%02d-%02d %02d-%02d-%02d" % (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, sec)


def write_table(raw_path, out_path):
    data = raw_path.read_bytes()
    rows = [HEADER]
    for at in range(0, len(data) - 51, 52):
        (ident, pitch, roll, heading, lon, lat, alt, speed, psi, t6, flags,
         o1, o2, o3, o4, o5) = RECORD.unpack_from(data, at)
        rows.append("%d \t%.7f \t%.7f \t%.3f \t%.2f \t%.1f \t%.1f \t%.2f \t%.1f \t%s \t"
                    "%d \t%d \t%d \t%d \t%d \t \n" % (
                        ident, lon * 1e-7, lat * 1e-7, alt * 0.001, heading * 0.01,
                        pitch * 0.01, roll * 0.01, psi * 0.01, float(speed),
                        time_text(t6, flags), o1, o2, o3, o4, o5))
    out_path.write_text("".join(rows))
    return len(rows) - 1


def main():
    raw_dir, out_dir = Path(sys.argv[1]), Path(sys.argv[2])
    start = time.perf_counter()
    records = 0
    for raw in sorted(raw_dir.glob("*.raw")):
        records += write_table(raw, out_dir / (raw.stem + ".xls"))
    print("%d %.6f" % (records, time.perf_counter() - start))


main()
