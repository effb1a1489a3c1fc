#pragma once

#include <QList>
#include <QString>

// One POS record set of an offload as the engine side keeps it: a time and a position per
// exposure (x longitude, y latitude, z altitude). The sets count as one list in the order added.
struct OffloadPosPoint
{
    double x = 0;
    double y = 0;
    double z = 0;
};

struct OffloadPosSet
{
    QString filePath;
    QList<uint> times;
    QList<OffloadPosPoint> positions;
};
