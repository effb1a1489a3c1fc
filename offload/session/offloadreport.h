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
    bool exportsWritten = true; // every photogrammetry export that was due is on the disk
};

// The report's match object for an offload without POS data: each camera's photo count, no
// records, nothing missed or extra; the cameras in the match's order.
QJsonObject unmatched(const QStringList photos[Cameras::Count],
                      const bool takesPart[Cameras::Count]);

// A camera's photos in copy order, relative to its card folder.
QStringList cardPhotos(const DiskTask *task);
FlightReport::Counts counts(DiskTask *task);

// match: the exposure match of the offload (`v7tool match --json`'s object), or empty;
// quality: the look at the copies, null when none was taken.
Written write(const OffloadSession &session, const QJsonObject &match, QStringList *messages,
              const QualityFindings *quality = nullptr);

} // namespace OffloadReport
