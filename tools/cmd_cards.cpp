// v7tool cards: the camera cards the program sees, by the same volume query and label rule as
// the offload page, with their size, space used and photos.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStorageInfo>

#include <cstdio>

#include "cameracards.h"
#include "offloadplan.h"
#include "photofolder.h"
#include "toolcommand.h"
#include "volumequery.h"

namespace {

const char kUsage[] = "usage: v7tool cards [--json]\n";

int usage(const char *problem)
{
    std::fprintf(stderr, "v7tool cards: %s\n%s", problem, kUsage);
    return 2;
}

int run(const QStringList &arguments)
{
    bool json = false;
    for (const QString &a : arguments) {
        if (a == QLatin1String("--json"))
            json = true;
        else
            return usage(qPrintable(QStringLiteral("unknown argument %1").arg(a)));
    }
    MountedVolume cards[Cameras::Count];
    CameraCards::assign(VolumeQuery::mountedVolumes(), cards);

    QJsonArray list;
    // The page's order of the camera icons.
    for (int camera : OffloadPlan::IconOrder) {
        const MountedVolume &card = cards[camera];
        QJsonObject entry;
        entry.insert(QStringLiteral("camera"), QString::fromLatin1(Cameras::folderName(camera)));
        entry.insert(QStringLiteral("present"), card.isValid());
        if (card.isValid()) {
            const QStorageInfo storage(card.mountRoot);
            const QString photoRoot = PhotoFolder::photoRoot(card.mountRoot);
            entry.insert(QStringLiteral("label"), card.label);
            entry.insert(QStringLiteral("uuid"), card.uuid);
            entry.insert(QStringLiteral("device"), card.device);
            entry.insert(QStringLiteral("mountRoot"), card.mountRoot);
            entry.insert(QStringLiteral("size"), double(storage.bytesTotal()));
            entry.insert(QStringLiteral("used"),
                         double(storage.bytesTotal() - storage.bytesFree()));
            const PhotoFolder::Listing photos =
                photoRoot.isEmpty() ? PhotoFolder::Listing() : PhotoFolder::list(photoRoot);
            entry.insert(QStringLiteral("photos"), photos.photos);
            // Counted apart: an offload of the folder reports these instead of copying them.
            if (!photos.skipped.isEmpty())
                entry.insert(QStringLiteral("skipped"), QJsonArray::fromStringList(photos.skipped));
        }
        list.append(entry);
    }
    if (json) {
        std::printf("%s", QJsonDocument(list).toJson(QJsonDocument::Indented).constData());
        return 0;
    }
    std::printf("%-7s %-16s %-12s %9s %9s %7s  %s\n", "camera", "label", "uuid", "size MB",
                "used MB", "photos", "mount root");
    for (const QJsonValue &value : std::as_const(list)) {
        const QJsonObject e = value.toObject();
        if (!e.value(QStringLiteral("present")).toBool()) {
            std::printf("%-7s (no card)\n",
                        qPrintable(e.value(QStringLiteral("camera")).toString()));
            continue;
        }
        std::printf("%-7s %-16s %-12s %9.0f %9.0f %7d  %s\n",
                    qPrintable(e.value(QStringLiteral("camera")).toString()),
                    qPrintable(e.value(QStringLiteral("label")).toString()),
                    qPrintable(e.value(QStringLiteral("uuid")).toString()),
                    e.value(QStringLiteral("size")).toDouble() / 1e6,
                    e.value(QStringLiteral("used")).toDouble() / 1e6,
                    e.value(QStringLiteral("photos")).toInt(),
                    qPrintable(e.value(QStringLiteral("mountRoot")).toString()));
        for (const QJsonValue &skipped : e.value(QStringLiteral("skipped")).toArray())
            std::printf("        skipped, path too long: %s\n", qPrintable(skipped.toString()));
    }
    return 0;
}

const ToolCommand command("cards", "the camera cards the program sees [--json]", kUsage, run);

} // namespace
