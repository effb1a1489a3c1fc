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

// Heading, pitch and roll of a record in degrees.
struct OffloadPosAttitude
{
    double heading = 0;
    double pitch = 0;
    double roll = 0;
};

struct OffloadPosSet
{
    QString filePath;
    QList<uint> times;
    QList<OffloadPosPoint> positions;
    QList<OffloadPosAttitude> attitudes; // one per position
    // xxh64 of the table file as it was read (16 hex digits), empty when not known: the set file
    // names the table by path and hash, and a resume reads it again only while it is unchanged.
    QString fileHash;
};
