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

// Until photos are matched by their capture times: photo i of a camera (in copy order) is
// record i of the POS sets counted as one list, the rule the tagging step follows. photos are
// relative to each camera's card folder, by engine camera number; an empty list with
// takesPart false leaves the camera out.
QJsonObject indexRuleMatch(const QList<OffloadPosSet> &pos,
                           const QStringList photos[Cameras::Count],
                           const bool takesPart[Cameras::Count]);

// The "sorties" array of a match: number, file, records, first and last record time.
QJsonArray sortiesArray(const QList<OffloadPosSet> &pos);

// A camera's photos in copy order, relative to its card folder.
QStringList cardPhotos(const DiskTask *task);
FlightReport::Counts counts(const DiskTask *task);

Written write(const OffloadSession &session, QStringList *messages);

} // namespace OffloadReport
