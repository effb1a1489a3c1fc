#include "offloadreport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>

#include <algorithm>

#include "copynames.h"
#include "disktask.h"
#include "enginefile.h"
#include "fileproblemtext.h"
#include "offloadsession.h"
#include "photoexports.h"
#include "plaincopy.h"

namespace OffloadReport {

QJsonObject unmatched(const QStringList photos[Cameras::Count],
                      const bool takesPart[Cameras::Count])
{
    QJsonArray cameras;
    for (int camera : Cameras::MatchOrder) {
        if (!takesPart[camera])
            continue;
        cameras.append(
            QJsonObject{{QStringLiteral("camera"), QLatin1String(Cameras::folderName(camera))},
                        {QStringLiteral("photos"), int(photos[camera].size())},
                        {QStringLiteral("matched"), 0},
                        {QStringLiteral("method"), QStringLiteral("none")},
                        {QStringLiteral("offsetSeconds"), QJsonValue()},
                        {QStringLiteral("offsetSpread"), QJsonValue()},
                        {QStringLiteral("missed"), QJsonArray()},
                        {QStringLiteral("extra"), QJsonArray()},
                        {QStringLiteral("pairs"), QJsonArray()}});
    }
    return QJsonObject{{QStringLiteral("cameras"), cameras},
                       {QStringLiteral("sorties"), QJsonArray()}};
}

QStringList cardPhotos(const DiskTask *task)
{
    QStringList photos;
    const int count = task->fileCount.load();
    for (int i = 0; i < count; ++i)
        photos << QString::fromStdString(taskRelativePath(task, i));
    return photos;
}

FlightReport::Counts counts(DiskTask *task)
{
    FlightReport::Counts c;
    c.onCard = task->fileCount.load();
    c.copied = std::min(taskFilesCopied(task), c.onCard);
    // The engine re-reads every copy before it counts it done, unless told not to.
    c.verified = task->verify ? c.copied : 0;
    // Photos the card could not give and those too long for the engine's list, with why.
    std::vector<FileProblem> failed, skipped;
    fileProblems(task, &failed, &skipped);
    for (const std::vector<FileProblem> *list : {&failed, &skipped}) {
        for (const FileProblem &f : *list)
            c.failures << FileProblemText::line(f);
    }
    c.failed = int(failed.size() + skipped.size());
    std::vector<bool> lost(task->copyNames.size());
    for (const FileProblem &f : failed)
        if (f.index >= 0 && size_t(f.index) < lost.size())
            lost[size_t(f.index)] = true;
    for (size_t i = 0; i < task->copyNames.size(); ++i) {
        if (!task->copyNames[i].empty() && !lost[i] && int(i) < task->filesDone.load())
            c.renamed << QFile::decodeName(taskRelativePath(task, int(i)).c_str()) +
                             QStringLiteral(" -> ") +
                             QFile::decodeName(PlainCopy::targetRelative(task, int(i)).c_str());
    }
    c.onCard += int(skipped.size()); // on the card, though not in the engine's list
    if (task->failed.load() && failed.empty()) {
        // The engine stopped on an error of the target: the photo in hand is the failed one.
        c.failed += c.copied < c.onCard ? 1 : 0;
        c.failures << QString::fromUtf8(task->error).trimmed();
    }
    return c;
}

Written write(const OffloadSession &session, const QJsonObject &matched, QStringList *messages,
              const QualityFindings *quality)
{
    const OffloadSession::Setup &setup = session.setup();
    QStringList photos[Cameras::Count];
    bool takesPart[Cameras::Count] = {};
    FlightReport::Counts cameraCounts[Cameras::Count];
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        DiskTask *task = session.task(camera);
        if (!task)
            continue;
        takesPart[camera] = true;
        photos[camera] = cardPhotos(task);
        cameraCounts[camera] = counts(task);
        if (setup.cameraPrefix) // the camera's name in front was asked for: not worth a line
            cameraCounts[camera].renamed.removeIf([camera](const QString &line) {
                const QString card = line.section(QStringLiteral(" -> "), 0, 0);
                const QString copy = line.section(QStringLiteral(" -> "), 1);
                return copy.section(QLatin1Char('/'), -1) ==
                       QLatin1String(Cameras::folderName(camera)) + QLatin1Char('_') +
                           QString::fromStdString(CopyNames::withoutBlanks(
                               card.section(QLatin1Char('/'), -1).toStdString()));
            });
    }
    const QJsonObject match =
        matched.isEmpty() ? unmatched(photos, takesPart) : matched;
    FlightReport report(match, setup.pos);
    report.setTarget(setup.target);
    report.setWritten(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (!setup.pos.isEmpty() && setup.volumes)
        report.addNote(FlightReport::exportsNeedPlainText());
    if (quality)
        report.setQuality(*quality);
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (takesPart[camera])
            report.setCounts(QLatin1String(Cameras::folderName(camera)), cameraCounts[camera]);
    }
    Written written;
    // Photos packed into zip volumes have no file of their own to name.
    if (!setup.pos.isEmpty() && !setup.volumes) {
        MatchView view = MatchView::read(match);
        // A photo whose copy has a name of its own is exported under that name: its card name
        // in the camera folder is another photo's copy, with another position.
        for (MatchView::Camera &c : view.cameras) {
            if (c.engineNumber < 0)
                continue;
            const QHash<QString, QString> copies = session.renamedCopies(c.engineNumber);
            for (MatchView::Pair &p : c.pairs)
                p.photo = copies.value(p.photo, p.photo);
        }
        bool noHardLinks = false;
        const int exports = PhotoExports::write(setup.target, view, setup.pos, setup.splitSorties,
                                                setup.cameraPrefix, messages, &noHardLinks);
        if (noHardLinks)
            report.addNote(FlightReport::noHardLinksText(setup.cameraPrefix));
        written.exportsWritten = exports == PhotoExports::filesPerSortie * int(setup.pos.size());
    }
    QString error;
    if (report.write(setup.target, &error))
        written.htmlPath = QDir(setup.target).filePath(FlightReport::htmlFileName());
    else
        messages->append(error);
    written.summary = report.summary();
    return written;
}

} // namespace OffloadReport
