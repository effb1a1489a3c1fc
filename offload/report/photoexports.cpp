#include "photoexports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "cameras.h"
#include "copynames.h"
#include "sortieblocks.h"
#include "syncio.h"

namespace {

constexpr int CenterCamera = 0;

struct Row
{
    QString image; // the copy's path below the target
    QString name;  // its file name for the photogrammetry programs
    int camera = -1;
    const OffloadPosPoint *point = nullptr;
    const OffloadPosAttitude *attitude = nullptr;
};

// The matched photos of one sortie: the centre camera first, then front, right, back, left,
// each in record order, so that a reader finds a camera's strip in one piece.
QList<Row> rows(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
                bool sortieFolders, bool cameraPrefix)
{
    QList<Row> out;
    if (sortie < 1 || sortie > pos.size())
        return out;
    const OffloadPosSet &set = pos.at(sortie - 1);
    static constexpr int Order[Cameras::Count] = {0, 3, 2, 4, 1};
    for (int camera : Order) {
        for (const MatchView::Camera &c : match.cameras) {
            if (c.engineNumber != camera)
                continue;
            QList<MatchView::Pair> pairs;
            for (const MatchView::Pair &p : c.pairs) {
                if (p.record.sortie == sortie && p.record.index >= 0 &&
                    p.record.index < set.positions.size())
                    pairs.append(p);
            }
            std::stable_sort(pairs.begin(), pairs.end(), [](const auto &a, const auto &b) {
                return a.record.index < b.record.index;
            });
            for (const MatchView::Pair &p : pairs) {
                Row row;
                row.image = PhotoExports::imageName(QLatin1String(Cameras::folderName(camera)),
                                                    sortie, p.photo, sortieFolders);
                row.camera = camera;
                row.point = &set.positions.at(p.record.index);
                if (p.record.index < set.attitudes.size())
                    row.attitude = &set.attitudes.at(p.record.index);
                out.append(row);
            }
        }
    }
    QStringList images;
    for (const Row &row : out)
        images << row.image;
    const QStringList names = PhotoExports::programNames(images, cameraPrefix);
    for (int i = 0; i < out.size(); ++i)
        out[i].name = names.at(i);
    return out;
}

bool save(const QString &path, const QString &text, QStringList *messages);

// Metashape labels a camera with its photo's file name without the suffix.
QString label(const QString &name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

// images/ of the sortie's project folder: a hard link per photo under its name for the
// programs, and the geolocation file beside it. false with why; *unsupported when the target's
// file system has no hard links.
bool linkProject(const QString &target, int sortie, const QList<Row> &rows, const QString &geo,
                 bool *unsupported, QStringList *messages)
{
    const QDir dir(target);
    const QString project = dir.filePath(PhotoExports::odmProjectName(sortie));
    const QString images = project + QStringLiteral("/images");
    if (!QDir().mkpath(images)) {
        messages->append(QStringLiteral("cannot create %1").arg(images));
        return false;
    }
    for (const Row &row : rows) {
        const QByteArray from = QFile::encodeName(dir.filePath(row.image));
        const QByteArray to = QFile::encodeName(images + QLatin1Char('/') + row.name);
        struct stat a = {}, b = {};
        if (::stat(from.constData(), &a) != 0)
            continue; // a photo that failed to copy: its line names nothing here either
        if (::lstat(to.constData(), &b) == 0) {
            if (a.st_dev == b.st_dev && a.st_ino == b.st_ino)
                continue; // linked by an earlier finish
            ::unlink(to.constData());
        }
        if (::link(from.constData(), to.constData()) == 0)
            continue;
        const int error = errno;
        if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EXDEV) {
            *unsupported = true;
            QDir(project).removeRecursively(); // a folder without its photos helps nobody
            return true;
        }
        messages->append(QStringLiteral("cannot link %1 to %2: %3")
                             .arg(QFile::decodeName(from), QFile::decodeName(to),
                                  QString::fromLocal8Bit(std::strerror(error))));
        return false;
    }
    // The links and geo.txt are outputs the offload is called complete on: their names go to
    // the disk with the folders that hold them (the target folder itself is flushed after).
    const bool saved = save(project + QStringLiteral("/geo.txt"), geo, messages);
    for (const QString &folder : {images, project}) {
        if (SyncIo::syncFolder(QFile::encodeName(folder).toStdString()) != 0) {
            messages->append(QStringLiteral("cannot flush %1: %2")
                                 .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
    }
    return saved;
}

QString degrees(double value)
{
    return QString::number(value, 'f', 9); // a millimetre on the ground
}

QString metres(double value)
{
    return QString::number(value, 'f', 3);
}

bool save(const QString &path, const QString &text, QStringList *messages)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit())
        return true;
    messages->append(QStringLiteral("cannot write %1").arg(path));
    return false;
}

} // namespace

namespace PhotoExports {

QString imageName(const QString &cameraFolder, int sortie, const QString &relative,
                  bool sortieFolders)
{
    QString name = cameraFolder + QLatin1Char('/');
    if (sortieFolders && sortie > 0)
        name += SortieBlocks::sortieFolderName(sortie) + QLatin1Char('/');
    return name + relative;
}

QString metashapeFileName(int sortie)
{
    return SortieBlocks::sortieFolderName(sortie) + QStringLiteral("_metashape.csv");
}

QString odmFileName(int sortie)
{
    return SortieBlocks::sortieFolderName(sortie) + QStringLiteral("_geo.txt");
}

QString odmProjectName(int sortie)
{
    return SortieBlocks::sortieFolderName(sortie) + QStringLiteral("_odm");
}

QStringList programNames(const QStringList &images, bool cameraPrefix)
{
    QStringList names;
    QSet<QString> taken; // case folded, stems too: Metashape's labels drop the suffix
    for (const QString &image : images) {
        const QString camera = image.section(QLatin1Char('/'), 0, 0);
        QString name = QFile::decodeName(
            CopyNames::withoutBlanks(QFile::encodeName(QFileInfo(image).fileName()).toStdString())
                .c_str());
        if (!cameraPrefix)
            name = camera + QLatin1Char('_') + name;
        const QString stem = label(name);
        const QString suffix = name.mid(stem.size());
        for (int n = 2;
             taken.contains(name.toCaseFolded()) || taken.contains(label(name).toCaseFolded()); ++n)
            name = stem + QLatin1Char('~') + QString::number(n) + suffix;
        taken << name.toCaseFolded() << label(name).toCaseFolded();
        names << name;
    }
    return names;
}

// Metashape's "Import Reference" CSV: comma-delimited, lines starting with "#" are skipped,
// one camera per line with the columns label, X (longitude), Y (latitude), Z (altitude),
// yaw, pitch, roll in degrees (the column letters "nxyzabc" of its importer). An empty cell
// leaves that value unset: the oblique lenses are tilted by a mounting angle the POS
// attitude does not include, so they get a position only.
QString metashapeTable(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
                       bool sortieFolders, bool cameraPrefix)
{
    QString text =
        QStringLiteral("# %1 WGS 84 (EPSG::4326)\n").arg(SortieBlocks::sortieFolderName(sortie));
    text += QStringLiteral("# Label,Longitude,Latitude,Altitude,Yaw,Pitch,Roll\n");
    for (const Row &row : rows(match, pos, sortie, sortieFolders, cameraPrefix)) {
        QStringList cells{label(row.name), degrees(row.point->x), degrees(row.point->y),
                          metres(row.point->z)};
        if (row.camera == CenterCamera && row.attitude) {
            cells << QString::number(row.attitude->heading, 'f', 4)
                  << QString::number(row.attitude->pitch, 'f', 4)
                  << QString::number(row.attitude->roll, 'f', 4);
        } else {
            cells << QString() << QString() << QString();
        }
        text += cells.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text;
}

// OpenDroneMap's image geolocation file: the projection on the first line, then per image
// "name x y z" separated by blanks; x is the longitude, y the latitude for EPSG:4326. Its reader
// splits each line on white space, skips lines starting with "#", and looks each name up as the
// file name of a photo in the project's images/ folder: hence names without blanks, starting
// with the camera's name. The project folder "第N架次_odm" holds it as geo.txt, where ODM finds
// it by itself; the copy beside the block file is for --geo.
QString odmGeo(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
               bool sortieFolders, bool cameraPrefix)
{
    QString text = QStringLiteral("EPSG:4326\n");
    for (const Row &row : rows(match, pos, sortie, sortieFolders, cameraPrefix)) {
        text +=
            QStringLiteral("%1 %2 %3 %4\n")
                .arg(row.name, degrees(row.point->x), degrees(row.point->y), metres(row.point->z));
    }
    return text;
}

int write(const QString &target, const MatchView &match, const QList<OffloadPosSet> &pos,
          bool sortieFolders, bool cameraPrefix, QStringList *messages, bool *noHardLinks)
{
    int written = 0;
    bool unsupported = false;
    const QDir dir(target);
    for (int sortie = 1; sortie <= pos.size(); ++sortie) {
        const QString geo = odmGeo(match, pos, sortie, sortieFolders, cameraPrefix);
        written += save(dir.filePath(metashapeFileName(sortie)),
                        metashapeTable(match, pos, sortie, sortieFolders, cameraPrefix), messages);
        written += save(dir.filePath(odmFileName(sortie)), geo, messages);
        if (unsupported) {
            ++written;
            continue;
        }
        written +=
            linkProject(target, sortie, rows(match, pos, sortie, sortieFolders, cameraPrefix), geo,
                        &unsupported, messages);
    }
    if (noHardLinks)
        *noHardLinks = unsupported;
    return written;
}

} // namespace PhotoExports
