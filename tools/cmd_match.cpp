// v7tool match: which POS record each photo of the five cards belongs to, before any copy (a
// check right after landing): per camera its clock offset, the missed and the extra shots.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstdio>

#include "exposurephotos.h"
#include "phototagstep.h"
#include "postablecheck.h"
#include "toolcommand.h"

namespace {

const char kUsage[] =
    "usage: v7tool match --pos TABLE.xls [--pos TABLE.xls]... --center DIR\n"
    "                    --front DIR --right DIR --left DIR --back DIR\n"
    "                    [--match time|index] [--offset SECONDS] [--json]\n"
    "offsetSeconds is the camera clock minus the POS clock; sorties count from 1\n"
    "in the order of --pos, indexes from 0 within a sortie. --offset gives it\n"
    "when the photos cannot tell it (evenly spaced photos of a part of the flight).\n"
    "exit 0 when every photo has its record and no record lacks a photo, 1 when\n"
    "missed or extra shots were found, 2 for bad input, 3 when a camera's clock\n"
    "offset is ambiguous (give --offset)\n";

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "v7tool match: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

void printTable(const QJsonObject &result)
{
    for (const QJsonValue &v : result.value(QLatin1String("sorties")).toArray()) {
        const QJsonObject s = v.toObject();
        std::printf("sortie %d: %s, %d records, %s to %s\n",
                    s.value(QLatin1String("number")).toInt(),
                    qPrintable(s.value(QLatin1String("file")).toString()),
                    s.value(QLatin1String("records")).toInt(),
                    qPrintable(s.value(QLatin1String("start")).toString()),
                    qPrintable(s.value(QLatin1String("end")).toString()));
    }
    std::printf("%-7s %7s %8s %7s %6s %6s %s\n", "camera", "photos", "matched", "missed", "extra",
                "method", "offset");
    for (const QJsonValue &v : result.value(QLatin1String("cameras")).toArray()) {
        const QJsonObject c = v.toObject();
        const QJsonValue offset = c.value(QLatin1String("offsetSeconds"));
        const QString clock =
            offset.isNull()
                ? QStringLiteral("-")
                : QStringLiteral("%1 s (spread %2 s)")
                      .arg(offset.toDouble(), 0, 'f', 2)
                      .arg(c.value(QLatin1String("offsetSpread")).toDouble(), 0, 'f', 2);
        std::printf("%-7s %7d %8d %7d %6d %6s %s\n",
                    qPrintable(c.value(QLatin1String("camera")).toString()),
                    c.value(QLatin1String("photos")).toInt(),
                    c.value(QLatin1String("matched")).toInt(),
                    c.value(QLatin1String("missedCount")).toInt(),
                    int(c.value(QLatin1String("extra")).toArray().size()),
                    qPrintable(c.value(QLatin1String("method")).toString()), qPrintable(clock));
    }
}

int run(const QStringList &arguments)
{
    static const char *const cameraOptions[Cameras::Count] = {"--center", "--left", "--right",
                                                              "--front", "--back"};
    QString folders[Cameras::Count];
    QStringList tables;
    bool json = false;
    bool hasOffset = false;
    double offset = 0;
    ExposureMatcher::Method method = ExposureMatcher::Method::Time;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--json")) {
            json = true;
            continue;
        }
        if (i + 1 >= arguments.size())
            return usage(qPrintable(QStringLiteral("%1 needs a value or is unknown").arg(a)));
        const QString value = arguments.at(++i);
        int camera = -1;
        for (int c = 0; c < Cameras::Count; ++c) {
            if (a == QLatin1String(cameraOptions[c]))
                camera = c;
        }
        if (camera >= 0) {
            if (!QFileInfo(value).isDir())
                return usage(qPrintable(QStringLiteral("%1 is not a folder").arg(value)));
            folders[camera] = QFileInfo(value).absoluteFilePath();
        } else if (a == QLatin1String("--pos")) {
            tables << value;
        } else if (a == QLatin1String("--offset")) {
            offset = value.toDouble(&hasOffset);
            if (!hasOffset || !std::isfinite(offset))
                return usage(qPrintable(QStringLiteral("--offset %1 is no number").arg(value)));
        } else if (a == QLatin1String("--match") && value == QLatin1String("index")) {
            method = ExposureMatcher::Method::Index;
        } else if (a != QLatin1String("--match") || value != QLatin1String("time")) {
            return usage(qPrintable(QStringLiteral("unknown argument %1 %2").arg(a, value)));
        }
    }
    bool anyCamera = false;
    for (const QString &folder : folders)
        anyCamera = anyCamera || !folder.isEmpty();
    if (!anyCamera)
        return usage("no camera folder given");
    if (tables.isEmpty())
        return usage("no --pos table given");
    QList<OffloadPosSet> pos;
    for (const QString &table : tables) {
        // The same strict reading as the offload's: a check that tags nothing wrong.
        MyExcelObject object;
        const PosTableCheck check = PosSpreadsheet::readChecked(table, &object);
        if (!check.accepted()) {
            std::fprintf(stderr, "v7tool match: refused input: %s\n",
                         qPrintable(check.message(table)));
            return 2;
        }
        pos << PhotoTagStep::posSet(object);
    }
    const ExposureMatch match =
        ExposurePhotos::matchFolders(folders, pos, method, hasOffset ? &offset : nullptr);
    const QJsonObject result = ExposurePhotos::json(match, pos);
    if (json)
        std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    else
        printTable(result);
    if (match.ambiguous()) {
        std::fprintf(stderr, "v7tool match: a camera's clock offset cannot be told from its photos "
                             "(evenly spaced, a part of the records): give --offset SECONDS\n");
        return 3;
    }
    return match.clean() ? 0 : 1;
}

const ToolCommand command("match", "which POS record each photo of the cards belongs to", kUsage,
                          run);

} // namespace
