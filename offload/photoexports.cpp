#include "photoexports.h"

#include <QDir>
#include <QSaveFile>

#include <algorithm>

#include "cameras.h"
#include "sortieblocks.h"

namespace {

constexpr int CenterCamera = 0;

struct Row
{
    QString image;
    int camera = -1;
    const OffloadPosPoint *point = nullptr;
    const OffloadPosAttitude *attitude = nullptr;
};

// The matched photos of one sortie: the centre camera first, then front, right, back, left,
// each in record order, so that a reader finds a camera's strip in one piece.
QList<Row> rows(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
                bool sortieFolders)
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
    return out;
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

// Metashape's "Import Reference" CSV: comma-delimited, lines starting with "#" are skipped,
// one camera per line with the columns label, X (longitude), Y (latitude), Z (altitude),
// yaw, pitch, roll in degrees (the column letters "nxyzabc" of its importer). An empty cell
// leaves that value unset: the oblique lenses are tilted by a mounting angle the POS
// attitude does not include, so they get a position only.
QString metashapeTable(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
                       bool sortieFolders)
{
    QString text =
        QStringLiteral("# %1 WGS 84 (EPSG::4326)\n").arg(SortieBlocks::sortieFolderName(sortie));
    text += QStringLiteral("# Label,Longitude,Latitude,Altitude,Yaw,Pitch,Roll\n");
    for (const Row &row : rows(match, pos, sortie, sortieFolders)) {
        QStringList cells{row.image, degrees(row.point->x), degrees(row.point->y),
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
// "name x y z" separated by blanks; x is the longitude, y the latitude for EPSG:4326. ODM finds
// a file named geo.txt by itself; these, one per sortie, are given with --geo.
QString odmGeo(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
               bool sortieFolders)
{
    QString text = QStringLiteral("EPSG:4326\n");
    for (const Row &row : rows(match, pos, sortie, sortieFolders)) {
        text +=
            QStringLiteral("%1 %2 %3 %4\n")
                .arg(row.image, degrees(row.point->x), degrees(row.point->y), metres(row.point->z));
    }
    return text;
}

int write(const QString &target, const MatchView &match, const QList<OffloadPosSet> &pos,
          bool sortieFolders, QStringList *messages)
{
    int written = 0;
    const QDir dir(target);
    for (int sortie = 1; sortie <= pos.size(); ++sortie) {
        written += save(dir.filePath(metashapeFileName(sortie)),
                        metashapeTable(match, pos, sortie, sortieFolders), messages);
        written += save(dir.filePath(odmFileName(sortie)),
                        odmGeo(match, pos, sortie, sortieFolders), messages);
    }
    return written;
}

} // namespace PhotoExports
