#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include "exposurematcher.h"

// The match of an offload's cards from their files: each photo's capture time read from its
// header alone, the five cards at once, and the match as the JSON object that `v7tool match`
// prints and the flight report keeps.
namespace ExposurePhotos {

// "YYYY:MM:DD HH:MM:SS" with the sub-second digits, as local seconds since 1970 (the clock the
// POS tables are read in); false when the text is no date.
bool captureTime(const QString &dateTime, const QString &subSeconds, double *seconds);

// The photos of a camera folder in the offload's order (the copy engine's file list), each
// with the capture time of its EXIF header. Reads only the headers.
QList<MatchPhoto> read(const QString &folder);

// Matches the cameras whose folder is given (by engine camera number; empty = not taking part),
// around the operator's clock offset when one is given.
ExposureMatch matchFolders(const QString folders[Cameras::Count], const QList<OffloadPosSet> &pos,
                           ExposureMatcher::Method method, const double *givenOffset = nullptr);

// Ascending records (as the match counts them through the sets) as runs of consecutive indexes
// within one sortie: sortie from 1, from and to 0-based and inclusive.
struct MissedRun
{
    int sortie = 0;
    int from = 0;
    int to = 0;
};
QList<MissedRun> missedRuns(const ExposureMatch &match, const std::vector<int> &records);

// {"cameras":[{"camera","photos","matched","method","offsetSeconds","offsetSpread","missed",
// "missedCount","extra","extraCount","pairs"}...],"sorties":[{"number","file","records","start",
// "end"}...]}; cameras in the order front, right, back, left, centre; sorties and indexes as
// the POS sets count them. "missed" holds runs {"sortie","from","to","count"} of record indexes
// (inclusive), so a long table costs a few runs, not an entry per record; "extra" the photos.
// "method": "time" (the photos' pattern decided), "nearest-hour" (the offset nearest a whole
// hour among equal fits), "given-offset", "index", or "ambiguous" with "candidates" (offsets
// that fit as well, nearest a whole hour first) and no pairs.
QJsonObject json(const ExposureMatch &match, const QList<OffloadPosSet> &pos);

} // namespace ExposurePhotos
