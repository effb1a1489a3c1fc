#include "phototagstep.h"

#include <QDir>

#include <cstdio>

#include "exifreader.h"
#include "geotag.h"
#include "jpegscan.h"
#include "posspreadsheet.h"

PhotoTagStep::PhotoTagStep(const QList<OffloadPosSet> &pos,
                           const QString tablePaths[Cameras::Count], bool append)
    : m_append(append)
{
    for (const OffloadPosSet &set : pos)
        m_points.append(set.positions);
    for (int camera = 0; camera < Cameras::Count; ++camera)
        m_tablePaths[camera] = tablePaths[camera];
}

PhotoTagStep::~PhotoTagStep()
{
    for (PhotoInfoTable &table : m_tables)
        table.close();
}

PhotoStep PhotoTagStep::step()
{
    PhotoStep step;
    step.context = this;
    step.tag = m_points.isEmpty() ? nullptr : tag;
    step.filed = filed;
    return step;
}

QString PhotoTagStep::tablePath(const QString &folder, int camera)
{
    return QDir(folder).filePath(QString::fromLatin1(Cameras::lowerName(camera)) +
                                 QStringLiteral(".txt"));
}

OffloadPosSet PhotoTagStep::posSet(const MyExcelObject &object)
{
    OffloadPosSet set;
    set.filePath = object.filePath;
    set.fileHash = object.fileHash;
    // Shared with the table's lists, not copied.
    set.times = object.timeList;
    set.positions = object.posList;
    set.attitudes = object.attitudeList;
    return set;
}

int PhotoTagStep::tag(void *context, int, int index, const char *target, const unsigned char *data,
                      size_t size, std::vector<unsigned char> *header, size_t *replaced)
{
    auto *self = static_cast<PhotoTagStep *>(context);
    if (index < 0 || index >= self->m_points.size())
        return 0;
    const OffloadPosPoint &point = self->m_points.at(index);
    GeoPosition position;
    position.latitude = point.y;
    position.longitude = point.x;
    position.altitude = point.z;
    QByteArray result;
    QString error;
    // Only the segments before the image data go through the tagger: it copies everything
    // from the start of scan on unchanged, so the engine writes the image data as the card
    // holds it after the new header (a photo of 20 MB costs what its header does).
    const size_t scan = JpegScan::scanStart(data, size);
    const size_t head = scan ? scan + 4 : size;
    const QByteArray jpeg =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(head));
    if (!Geotag::tagBuffer(jpeg, FocalLengthMm, position, &result, &error) ||
        !result.endsWith(jpeg.right(4))) {
        if (error.isEmpty())
            error = QStringLiteral("the tagged header does not end at the image data");
        // The photo is still copied, untagged, as the card holds it; reported, never
        // copied with a position other than its own.
        printf("tag %s error: %s\n", target, qPrintable(error));
        std::lock_guard<std::mutex> hold(self->m_untaggedLock);
        self->m_untagged
            << QStringLiteral("photo not tagged: %1: %2").arg(QString::fromUtf8(target), error);
        return 0;
    }
    header->assign(result.constBegin(), result.constEnd());
    *replaced = head;
    return 1;
}

QStringList PhotoTagStep::untagged() const
{
    std::lock_guard<std::mutex> hold(m_untaggedLock);
    return m_untagged;
}

void PhotoTagStep::filed(void *context, int camera, int, const char *target,
                         const unsigned char *data, size_t size)
{
    auto *self = static_cast<PhotoTagStep *>(context);
    if (camera < 0 || camera >= Cameras::Count)
        return;
    PhotoInfoTable &table = self->m_tables[camera];
    if (!table.isOpen()) {
        QString error;
        if (!table.open(self->m_tablePaths[camera], self->m_append, &error)) {
            printf("open %s file error: %s\n", qPrintable(self->m_tablePaths[camera]),
                   qPrintable(error));
            return;
        }
    }
    const QString path = QString::fromUtf8(target);
    const PhotoInfo info = data ? ExifReader::readBuffer(reinterpret_cast<const char *>(data), size)
                                : ExifReader::readFile(path);
    table.appendRow(path, info);
}
