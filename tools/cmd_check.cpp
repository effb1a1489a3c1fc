// v7tool check: the quality look of the offload on folders already copied: each photo decoded
// at a reduced scale and judged as the offload's report judges it (dark, bright, blurred,
// repeated frames, a lens unlike the others of the same exposures).
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

#include "cameranames.h"
#include "cameras.h"
#include "qualitylook.h"
#include "toolcommand.h"

namespace {

const char kUsage[] =
    "usage: v7tool check DIR... [--json]\n"
    "DIR is an offload's target (its camera folders Center, Left, Right, Front and\n"
    "Back are looked at) or a camera folder itself. The photos of a camera are taken\n"
    "in the order of their paths; the n-th photo of each camera is one exposure.\n"
    "Prints a summary and each flagged photo, or with --json the report's \"quality\".\n"
    "exit 0 when no photo is flagged, 1 when some are, 2 for bad input\n";

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "v7tool check: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

QStringList photosBelow(const QString &folder)
{
    QStringList photos;
    QDirIterator it(folder, {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        photos << it.next();
    std::sort(photos.begin(), photos.end());
    return photos;
}

int run(const QStringList &arguments)
{
    bool json = false;
    QString folders[Cameras::Count];
    QString root;
    for (const QString &a : arguments) {
        if (a == QLatin1String("--json")) {
            json = true;
            continue;
        }
        if (a.startsWith(QLatin1Char('-')))
            return usage(qPrintable(QStringLiteral("unknown option %1").arg(a)));
        const QFileInfo info(a);
        if (!info.isDir())
            return usage(qPrintable(QStringLiteral("%1 is not a folder").arg(a)));
        const QString path = info.absoluteFilePath();
        const int camera = Cameras::byFolderName(QFile::encodeName(info.fileName()).constData());
        bool found = camera >= 0;
        if (camera >= 0) {
            folders[camera] = path;
            if (root.isEmpty())
                root = info.absolutePath();
        } else {
            for (int c = 0; c < Cameras::Count; ++c) {
                const QDir dir(path);
                for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                    if (name.compare(QLatin1String(Cameras::folderName(c)), Qt::CaseInsensitive) ==
                        0) {
                        folders[c] = dir.filePath(name);
                        found = true;
                    }
                }
            }
            if (root.isEmpty())
                root = path;
        }
        if (!found)
            return usage(
                qPrintable(QStringLiteral("%1 is no camera folder and holds none").arg(a)));
    }
    if (root.isEmpty())
        return usage("no folder given");
    QualityLook look(0, false);
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (folders[camera].isEmpty())
            continue;
        const QStringList photos = photosBelow(folders[camera]);
        for (int i = 0; i < photos.size(); ++i)
            look.add(camera, i, i, photos.at(i));
    }
    const QualityFindings findings = look.finish(root);
    if (json) {
        std::printf("%s\n",
                    QJsonDocument(findings.json()).toJson(QJsonDocument::Compact).constData());
    } else {
        for (const QString &line : findings.summaryLines())
            std::printf("%s\n", qPrintable(line));
        for (const QualityFindings::Photo &p : findings.flagged()) {
            QStringList flags;
            for (int rank = 0; rank < QualityFindings::FlagCount; ++rank) {
                if (p.flags & QualityFindings::flagAt(rank))
                    flags << QualityFindings::flagKey(QualityFindings::flagAt(rank));
            }
            std::printf("%s: %s\n", qPrintable(p.path), qPrintable(flags.join(QLatin1Char(' '))));
        }
    }
    return findings.flaggedCount() > 0 ? 1 : 0;
}

const ToolCommand command("check", "the quality look at photos already copied", kUsage, run);

} // namespace
