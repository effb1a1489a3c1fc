#pragma once

#include <QString>

#include "v7k.h"

// One row of the WiFi listing, from the slot description at list index `row`.
struct PosSlotRow
{
    int number = 0;      // row + 1
    QString timeText;    // "2019-03-28 10-00-00" in the computer's time zone; empty: no time
    QString compactTime; // "20190328100000"; empty: no time
    qint64 points = 0;   // (end - start) / record size
    int downloads = 0;

    static PosSlotRow of(const PosFileInfo &info, int row, int recordSize);
};
