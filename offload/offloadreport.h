#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include "cameras.h"
#include "flightreport.h"
#include "offloadpos.h"

class OffloadSession;
struct DiskTask;

// The end of a completed offload seen from its session: the flight report into the target
// and, when POS data are held and the photos lie as plain files, the photogrammetry exports.
namespace OffloadReport {

struct Written
{
    QString htmlPath; // empty when the report could not be written
    QString summary;  // the lines the offload page shows
};

// For an offload that was not matched (no POS data): photo i of a camera (in copy order) is
// record i of the POS sets counted as one list, so the report still lists every camera. photos are
// relative to each camera's card folder, by engine camera number; an empty list with
// takesPart false leaves the camera out.
QJsonObject indexRuleMatch(const QList<OffloadPosSet> &pos,
                           const QStringList photos[Cameras::Count],
                           const bool takesPart[Cameras::Count]);

// The "sorties" array of a match: number, file, records, first and last record time.
QJsonArray sortiesArray(const QList<OffloadPosSet> &pos);

// A camera's photos in copy order, relative to its card folder.
QStringList cardPhotos(const DiskTask *task);
FlightReport::Counts counts(DiskTask *task);

// match: the exposure match of the offload (`v7tool match --json`'s object), or empty.
Written write(const OffloadSession &session, const QJsonObject &match, QStringList *messages);

} // namespace OffloadReport
