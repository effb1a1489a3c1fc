#include "sortieblocks.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QXmlStreamWriter>

#include <vector>


#include "cardfiles.h"
#include "zipverify.h"

namespace {

struct PhotoRow
{
    QString model;
    QString make;
    QString focal;
    QString width;
    QString height;
};

// Rows by photo path. The path is everything before the last seven cells, so a comma in a
// folder name does not shift the others.
QHash<QString, PhotoRow> readTable(const QString &path, bool *ok)
{
    QHash<QString, PhotoRow> rows;
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    if (!*ok)
        return rows;
    file.readLine(); // header
    while (!file.atEnd()) {
        const QStringList cells =
            QString::fromUtf8(file.readLine()).trimmed().split(QLatin1Char(','));
        if (cells.size() < 8)
            continue;
        const int n = int(cells.size());
        PhotoRow row;
        row.model = cells[n - 7];
        row.make = cells[n - 6];
        row.focal = cells[n - 5];
        row.width = cells[n - 4];
        row.height = cells[n - 3];
        rows.insert(cells.mid(0, n - 7).join(QLatin1Char(',')), row);
    }
    return rows;
}

void textElement(QXmlStreamWriter &xml, const QString &name, const QString &text)
{
    xml.writeTextElement(name, text);
}

// Photogroups in the order right, left, back, front, centre.
constexpr int GroupOrder[Cameras::Count] = {2, 1, 4, 3, 0};

// One photo of a block file: its name for recordOf, its path in the file (below the target),
// its row's key in the photo information table and its record within the set.
struct Listed
{
    QString relative;
    QString imagePath;
    QString tableKey;
    int record = -1;
};

struct ArchiveEntry
{
    QString archive; // "pack2.zip"
    QString name;    // the photo's path below its card folder
};

// Every entry of a camera folder's archives in packing order, which is the engine's copy
// order. An archive that does not open ends the list and is named in messages.
QList<ArchiveEntry> archiveEntries(const QString &cameraFolder, QStringList *messages)
{
    std::vector<ZipVerify::Listed> listed;
    int damaged = 0;
    ZipVerify::listArchives(QFile::encodeName(cameraFolder).toStdString() + '/', &listed,
                            &damaged);
    if (damaged > 0)
        messages->append(QStringLiteral("cannot read the archive %1")
                             .arg(QDir(cameraFolder).filePath(QStringLiteral("pack%1.zip").arg(damaged))));
    QList<ArchiveEntry> entries;
    for (const ZipVerify::Listed &e : listed) {
        const QString name = QString::fromUtf8(e.name.c_str());
        if (!name.endsWith(QLatin1Char('/')))
            entries.append({QStringLiteral("pack%1.zip").arg(e.archive), name});
    }
    return entries;
}

} // namespace

namespace SortieBlocks {

QString sortieFolderName(int sortie)
{
    return QStringLiteral("第%1架次").arg(sortie);
}

QString fileName(int sortie)
{
    return sortieFolderName(sortie) + QStringLiteral(".xml");
}

int write(const QString &target, const QList<OffloadPosSet> &pos,
          const QString tablePaths[Cameras::Count], QStringList *messages, const RecordOf &recordOf,
          Layout layout)
{
    QHash<QString, PhotoRow> tables[Cameras::Count];
    bool tableRead[Cameras::Count] = {};
    QList<ArchiveEntry> archived[Cameras::Count];
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        tables[camera] = readTable(tablePaths[camera], &tableRead[camera]);
        if (layout == Layout::Volumes)
            archived[camera] = archiveEntries(
                QDir(target).filePath(QString::fromLatin1(Cameras::folderName(camera))), messages);
    }
    int nextStart = 0;
    int written = 0;
    for (int sortie = 1; sortie <= pos.size(); ++sortie) {
        const OffloadPosSet &set = pos.at(sortie - 1);
        const int setStart = nextStart; // the set's first record among all the sets' records
        nextStart += int(set.positions.size());
        QSaveFile file(QDir(target).filePath(fileName(sortie)));
        if (!file.open(QIODevice::WriteOnly)) {
            messages->append(QStringLiteral("cannot write %1").arg(file.fileName()));
            continue;
        }
        QXmlStreamWriter xml(&file);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        xml.writeStartElement(QStringLiteral("BlocksExchange"));
        xml.writeAttribute(QStringLiteral("version"), QStringLiteral("3.2"));
        xml.writeStartElement(QStringLiteral("SpatialReferenceSystems"));
        xml.writeStartElement(QStringLiteral("SRS"));
        textElement(xml, QStringLiteral("Id"), QStringLiteral("0"));
        textElement(xml, QStringLiteral("Name"), QStringLiteral("WGS 84 (EPSG:4326)"));
        textElement(xml, QStringLiteral("Definition"), QStringLiteral("EPSG:4326"));
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeStartElement(QStringLiteral("Block"));
        textElement(xml, QStringLiteral("Name"), QStringLiteral("Block_%1.xml").arg(sortie));
        textElement(xml, QStringLiteral("Description"), QStringLiteral("export from"));
        textElement(xml, QStringLiteral("SRSId"), QStringLiteral("0"));
        xml.writeStartElement(QStringLiteral("Photogroups"));
        int photoId = 0;
        int groupNumber = 0;
        for (int camera : GroupOrder) {
            const QString cameraName = QString::fromLatin1(Cameras::folderName(camera));
            const QString cameraFolder = QDir(target).filePath(cameraName);
            QList<Listed> photos;
            if (layout == Layout::Volumes) {
                // Photogrammetry programs do not read photos inside zip archives: the block
                // file names each by its archive and entry, for whoever unpacks them.
                const QList<ArchiveEntry> &entries = archived[camera];
                for (int k = 0; k < entries.size(); ++k) {
                    const ArchiveEntry &e = entries.at(k);
                    Listed p;
                    p.relative = e.name;
                    p.imagePath = QStringLiteral("./%1/%2/%3").arg(cameraName, e.archive, e.name);
                    p.tableKey = QDir(cameraFolder).filePath(e.archive) + QLatin1Char('/') + e.name;
                    p.record = recordOf ? recordOf(camera, sortie, e.name) : k - setStart;
                    photos.append(p);
                }
            } else {
                const QString folder = QDir(cameraFolder).filePath(sortieFolderName(sortie));
                std::vector<std::string> names;
                CardFiles::list(QFile::encodeName(folder).toStdString(), &names);
                // Without the match, the k-th photo of the sortie folder is the k-th record
                // of the set: the engine copies in the same order and sends photo i to the
                // set holding record i.
                for (size_t k = 0; k < names.size(); ++k) {
                    Listed p;
                    p.relative = QString::fromUtf8(names[k].c_str());
                    p.imagePath = QStringLiteral("./%1/%2/%3")
                                      .arg(cameraName, sortieFolderName(sortie), p.relative);
                    p.tableKey = QDir(folder).filePath(p.relative);
                    p.record = recordOf ? recordOf(camera, sortie, p.relative) : int(k);
                    photos.append(p);
                }
            }
            photos.removeIf([&set](const Listed &p) {
                return p.record < 0 || p.record >= set.positions.size();
            });
            if (photos.isEmpty())
                continue;
            if (!tableRead[camera])
                messages->append(QStringLiteral("fail to read"));
            const QHash<QString, PhotoRow> &rows = tables[camera];
            PhotoRow group;
            for (const Listed &photo : photos) {
                const auto row = rows.constFind(photo.tableKey);
                if (row != rows.constEnd()) {
                    group = *row;
                    break;
                }
            }
            xml.writeStartElement(QStringLiteral("Photogroup"));
            textElement(xml, QStringLiteral("Name"),
                        QStringLiteral("Photogroup %1").arg(++groupNumber));
            xml.writeStartElement(QStringLiteral("ImageDimensions"));
            textElement(xml, QStringLiteral("Width"), group.width);
            textElement(xml, QStringLiteral("Height"), group.height);
            xml.writeEndElement();
            textElement(xml, QStringLiteral("CameraModelType"), QStringLiteral("Perspective"));
            textElement(xml, QStringLiteral("FocalLength"), group.focal);
            textElement(xml, QStringLiteral("SensorSize"), QStringLiteral("23.5"));
            xml.writeStartElement(QStringLiteral("ExifData"));
            textElement(xml, QStringLiteral("Make"), group.make);
            textElement(xml, QStringLiteral("Model"), group.model);
            xml.writeEndElement();
            textElement(xml, QStringLiteral("AspectRatio"), QStringLiteral("1.000000"));
            for (const Listed &photo : photos) {
                const int record = photo.record;
                const PhotoRow row = rows.value(photo.tableKey, group);
                const OffloadPosPoint &point = set.positions.at(record);
                xml.writeStartElement(QStringLiteral("Photo"));
                textElement(xml, QStringLiteral("Id"), QString::number(photoId++));
                textElement(xml, QStringLiteral("ImagePath"), photo.imagePath);
                xml.writeStartElement(QStringLiteral("Pose"));
                xml.writeStartElement(QStringLiteral("Center"));
                textElement(xml, QStringLiteral("x"), QString::number(point.x, 'g', 15));
                textElement(xml, QStringLiteral("y"), QString::number(point.y, 'g', 15));
                textElement(xml, QStringLiteral("z"), QString::number(point.z, 'g', 15));
                xml.writeEndElement();
                xml.writeEndElement();
                xml.writeStartElement(QStringLiteral("ExifData"));
                textElement(xml, QStringLiteral("Make"), row.make);
                textElement(xml, QStringLiteral("Model"), row.model);
                const uint time = record < set.times.size() ? set.times.at(record) : 0;
                textElement(xml, QStringLiteral("DateTimeOriginal"),
                            QDateTime::fromSecsSinceEpoch(qint64(time))
                                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
                xml.writeEndElement();
                xml.writeEndElement();
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndDocument();
        if (file.commit())
            ++written;
        else
            messages->append(QStringLiteral("cannot write %1").arg(file.fileName()));
    }
    return written;
}

} // namespace SortieBlocks
