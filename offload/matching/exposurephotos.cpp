#include "exposurephotos.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <thread>
#include <vector>

#include "cardfiles.h"
#include "exifreader.h"
#include "workerthread.h"

namespace {

int digits(const QString &text, int from, int count, bool *ok)
{
    int value = 0;
    for (int k = from; k < from + count; ++k) {
        const QChar c = text.at(k);
        if (!c.isDigit()) {
            *ok = false;
            return 0;
        }
        value = value * 10 + c.digitValue();
    }
    return value;
}

} // namespace

namespace ExposurePhotos {

bool captureTime(const QString &dateTime, const QString &subSeconds, double *seconds)
{
    if (dateTime.size() < 19)
        return false;
    bool ok = true;
    const QDate date(digits(dateTime, 0, 4, &ok), digits(dateTime, 5, 2, &ok),
                     digits(dateTime, 8, 2, &ok));
    const QTime time(digits(dateTime, 11, 2, &ok), digits(dateTime, 14, 2, &ok),
                     digits(dateTime, 17, 2, &ok));
    if (!ok || !date.isValid() || !time.isValid())
        return false;
    const QDateTime when(date, time);
    if (!when.isValid())
        return false;
    double fraction = 0;
    double scale = 0.1;
    for (const QChar c : subSeconds) {
        if (!c.isDigit())
            break;
        fraction += c.digitValue() * scale;
        scale /= 10;
    }
    *seconds = double(when.toSecsSinceEpoch()) + fraction;
    return true;
}

QList<MatchPhoto> read(const QString &folder)
{
    QList<MatchPhoto> photos;
    // The engine's own list (without the files too long for it), so that photo i here is
    // file i of the copy.
    std::vector<std::string> paths, skipped;
    if (CardFiles::listCopyable(QFile::encodeName(folder).toStdString(), &paths, &skipped) != 0)
        return photos;
    for (const std::string &relative : paths) {
        MatchPhoto photo;
        photo.path = QString::fromUtf8(relative.c_str());
        const PhotoInfo info = ExifReader::readFile(folder + QLatin1Char('/') + photo.path);
        photo.hasTime = captureTime(info.dateTime, info.subSecTime, &photo.time);
        photos.append(photo);
    }
    return photos;
}

ExposureMatch matchFolders(const QString folders[Cameras::Count], const QList<OffloadPosSet> &pos,
                           ExposureMatcher::Method method, const double *givenOffset)
{
    QList<MatchPhoto> photos[Cameras::Count];
    // One reader per card: the cards are separate devices and their reads overlap.
    std::vector<std::thread> readers;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (!folders[camera].isEmpty())
            readers.push_back(WorkerThread::start(
                "photo reader", [&photos, &folders, camera] { photos[camera] = read(folders[camera]); }));
    }
    for (std::thread &reader : readers)
        reader.join();
    ExposureMatcher matcher;
    matcher.setMethod(method);
    if (givenOffset)
        matcher.setGivenOffset(*givenOffset);
    matcher.setRecords(pos);
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (!folders[camera].isEmpty())
            matcher.setPhotos(camera, photos[camera]);
    }
    return matcher.run();
}

QList<MissedRun> missedRuns(const ExposureMatch &match, const std::vector<int> &records)
{
    QList<MissedRun> runs;
    for (const int record : records) {
        const int sortie = match.setOf(record) + 1;
        const int index = match.indexInSet(record);
        if (!runs.isEmpty() && runs.last().sortie == sortie && runs.last().to + 1 == index)
            runs.last().to = index;
        else
            runs.append(MissedRun{sortie, index, index});
    }
    return runs;
}

QJsonObject json(const ExposureMatch &match, const QList<OffloadPosSet> &pos)
{
    QJsonArray cameras;
    for (int camera : Cameras::MatchOrder) {
        const ExposureMatch::Camera &c = match.cameras[camera];
        if (!c.takesPart)
            continue;
        QJsonObject o;
        o[QStringLiteral("camera")] = QString::fromLatin1(Cameras::folderName(camera));
        o[QStringLiteral("photos")] = int(c.photos.size());
        o[QStringLiteral("matched")] = c.matched;
        using Offset = ExposureMatch::Camera::Offset;
        static const char *const methods[] = {"time", "nearest-hour", "given-offset", "ambiguous"};
        o[QStringLiteral("method")] = c.byTime || c.offsetFrom == Offset::Ambiguous
                                          ? QString::fromLatin1(methods[int(c.offsetFrom)])
                                          : QStringLiteral("index");
        if (c.offsetFrom == Offset::Ambiguous) {
            QJsonArray candidates;
            for (size_t k = 0; k < c.candidates.size() && k < 8; ++k)
                candidates.append(c.candidates[k]);
            o[QStringLiteral("candidates")] = candidates;
        }
        o[QStringLiteral("offsetSeconds")] =
            c.hasOffset ? QJsonValue(c.offsetSeconds) : QJsonValue();
        o[QStringLiteral("offsetSpread")] = c.hasOffset ? QJsonValue(c.offsetSpread) : QJsonValue();
        auto recordJson = [&match](int record) {
            QJsonObject r;
            r[QStringLiteral("sortie")] = match.setOf(record) + 1;
            r[QStringLiteral("index")] = match.indexInSet(record);
            return r;
        };
        // Runs, not one entry per record: cards holding a part of a long table miss most of it.
        QJsonArray missed;
        for (const MissedRun &run : missedRuns(match, c.missed)) {
            missed.append(QJsonObject{{QStringLiteral("sortie"), run.sortie},
                                      {QStringLiteral("from"), run.from},
                                      {QStringLiteral("to"), run.to},
                                      {QStringLiteral("count"), run.to - run.from + 1}});
        }
        o[QStringLiteral("missed")] = missed;
        o[QStringLiteral("missedCount")] = int(c.missed.size());
        QJsonArray extra;
        for (int photo : c.extra)
            extra.append(c.photos.at(photo));
        o[QStringLiteral("extra")] = extra;
        o[QStringLiteral("extraCount")] = int(c.extra.size());
        QJsonArray pairs;
        for (int photo = 0; photo < c.photos.size(); ++photo) {
            const int record = c.recordOf[size_t(photo)];
            if (record < 0)
                continue;
            QJsonObject pair = recordJson(record);
            pair[QStringLiteral("photo")] = c.photos.at(photo);
            pairs.append(pair);
        }
        o[QStringLiteral("pairs")] = pairs;
        cameras.append(o);
    }
    QJsonArray sorties;
    for (int set = 0; set < pos.size(); ++set) {
        const OffloadPosSet &s = pos.at(set);
        uint first = uint(-1);
        uint last = 0;
        for (uint t : s.times) {
            if (t == uint(-1))
                continue;
            first = std::min(first, t);
            last = std::max(last, t);
        }
        auto text = [](uint t) {
            return t == uint(-1) ? QString()
                                 : QDateTime::fromSecsSinceEpoch(qint64(t)).toString(
                                       QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        };
        QJsonObject o;
        o[QStringLiteral("number")] = set + 1;
        o[QStringLiteral("file")] = s.filePath;
        o[QStringLiteral("records")] = int(s.positions.size());
        o[QStringLiteral("start")] = text(first);
        o[QStringLiteral("end")] = first == uint(-1) ? QString() : text(last);
        sorties.append(o);
    }
    QJsonObject root;
    root[QStringLiteral("cameras")] = cameras;
    root[QStringLiteral("sorties")] = sorties;
    return root;
}

} // namespace ExposurePhotos
