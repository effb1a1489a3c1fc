#include "posslotrow.h"

#include "postimes.h"

PosSlotRow PosSlotRow::of(const PosFileInfo &info, int row, int recordSize)
{
    PosSlotRow r;
    r.number = row + 1;
    const uint8_t time[6] = {info.year, info.month, info.day, info.hour, info.minute, info.second};
    const PosClock clock = PosTimes::toLocal(PosTimes::fromBytes(time));
    r.timeText = PosTimes::text(clock);
    r.compactTime = PosTimes::compact(clock);
    const qint64 size = qint64(info.endAddress) - qint64(info.startAddress);
    r.points = recordSize > 0 ? size / recordSize : 0;
    r.downloads = info.downloadCount;
    return r;
}
