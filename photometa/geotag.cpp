#include "geotag.h"

#include "byteorder.h"
#include "exifreader.h"
#include "exiftagwriter.h"
#include "photoreplacer.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace {
// Largest value that fits the 32-bit numerator of an EXIF rational.
constexpr double kMaxNumerator = 4294967295.0;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Offset of the start-of-scan marker and the end of its section, found by walking the marker
// sections; -1 when the bytes end first or do not look like a JPEG header.
qsizetype scanStart(const QByteArray &bytes, qsizetype *sectionEnd)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n < 2 || p[0] != 0xFF || p[1] != 0xD8)
        return -1;
    qsizetype pos = 2;
    while (pos + 4 <= n) {
        if (p[pos] != 0xFF)
            return -1;
        if (p[pos + 1] == 0xFF) { // fill byte before a marker
            ++pos;
            continue;
        }
        const qsizetype length = ByteOrder::getBe16(p + pos + 2);
        if (length < 2)
            return -1;
        if (p[pos + 1] == 0xDA) {
            if (pos + 2 + length > n)
                return -1;
            *sectionEnd = pos + 2 + length;
            return pos;
        }
        pos += 2 + length;
    }
    return -1;
}

// Tags only the header sections: the library copies everything after the start of scan as it
// is, so it need not see (and copy) the megabytes of image data at all. Returns the new
// header, up to the start of scan.
bool tagHeader(const QByteArray &header, int focalLengthMm, const GeoPosition &position,
               QByteArray *newHeader, QString *error)
{
    QByteArray tagged;
    if (!ExifTagWriter::write(header + QByteArray("\xFF\xD9", 2), focalLengthMm, position, &tagged,
                              error))
        return false;
    qsizetype end = 0;
    const qsizetype scan = scanStart(tagged, &end);
    if (scan < 0)
        return fail(error, QStringLiteral("tagged header has no start of scan"));
    *newHeader = tagged.left(scan);
    return true;
}

struct Dms
{
    int degrees = 0;
    int minutes = 0;
    int millionths = 0; // of a second
};

// The parts written for |degrees|, each truncated as the table of the tag values demands.
Dms dms(double degrees)
{
    const double d = std::fabs(degrees) <= 360 ? std::fabs(degrees) : 0.0;
    Dms out;
    out.degrees = int(d);
    const double minutes = (d - out.degrees) * 60;
    out.minutes = int(minutes);
    out.millionths = int((minutes - out.minutes) * 60000000);
    return out;
}

// What a reader makes of the written parts, signed by the hemisphere.
double writtenDegrees(double degrees)
{
    const Dms p = dms(degrees);
    const double size = p.degrees + p.minutes / 60.0 + p.millionths / 3600e6;
    return degrees < 0 ? -size : size;
}

// The library writes what it believes is the photo's EXIF block; on a damaged one that can be a
// block no reader finds the new position in. The written header is read back with the
// program's own reader; true only when it gives the values meant.
bool readsBack(const char *jpeg, size_t size, int focalLengthMm, const GeoPosition &position,
               QString *error)
{
    const PhotoInfo info = ExifReader::readBuffer(jpeg, size);
    const double latitude = writtenDegrees(position.latitude);
    const double longitude = writtenDegrees(position.longitude);
    const double altitude = std::floor(std::fabs(position.altitude) * 1000) / 1000;
    const bool below = position.altitude < 0;
    const bool same = info.gpsFound && std::fabs(info.gpsLatitude - latitude) < 1e-9 &&
                      std::fabs(info.gpsLongitude - longitude) < 1e-9 &&
                      info.gpsLatitudeRef == (position.latitude < 0 ? 'S' : 'N') &&
                      info.gpsLongitudeRef == (position.longitude < 0 ? 'W' : 'E') &&
                      std::fabs(info.gpsAltitude - altitude) < 1e-6 &&
                      info.gpsAltitudeRef == (below ? 1 : 0) &&
                      info.focalLength == double(focalLengthMm);
    if (same)
        return true;
    if (!info.gpsFound)
        return fail(error, QStringLiteral("the GPS tags cannot be read back from the tagged "
                                          "photo (%1)")
                               .arg(info.error.isEmpty() ? QStringLiteral("damaged GPS directory")
                                                         : info.error));
    auto ref = [](char c) { return c >= 'A' && c <= 'Z' ? QChar::fromLatin1(c) : QChar('?'); };
    return fail(error,
                QStringLiteral("the tagged photo reads back %1 %2 %3 %4 %5 m (reference %6), "
                               "%7 mm instead of %8 %9 %10 %11 %12 m, %13 mm (damaged GPS "
                               "directory)")
                    .arg(ref(info.gpsLatitudeRef))
                    .arg(std::fabs(info.gpsLatitude), 0, 'f', 7)
                    .arg(ref(info.gpsLongitudeRef))
                    .arg(std::fabs(info.gpsLongitude), 0, 'f', 7)
                    .arg(info.gpsAltitude, 0, 'f', 3)
                    .arg(info.gpsAltitudeRef)
                    .arg(info.focalLength)
                    .arg(position.latitude < 0 ? 'S' : 'N')
                    .arg(std::fabs(latitude), 0, 'f', 7)
                    .arg(position.longitude < 0 ? 'W' : 'E')
                    .arg(std::fabs(longitude), 0, 'f', 7)
                    .arg(below ? -altitude : altitude, 0, 'f', 3)
                    .arg(focalLengthMm));
}

bool readsBack(const QByteArray &jpeg, int focalLengthMm, const GeoPosition &position,
               QString *error)
{
    return readsBack(jpeg.constData(), size_t(jpeg.size()), focalLengthMm, position, error);
}

bool checkArguments(int focalLengthMm, const GeoPosition &position, QString *error)
{
    if (!(std::fabs(position.latitude) <= 90) || !(std::fabs(position.longitude) <= 180))
        return fail(error, QStringLiteral("position out of range"));
    if (!(std::fabs(position.altitude) * 1000 <= kMaxNumerator))
        return fail(error, QStringLiteral("altitude out of range"));
    if (focalLengthMm < 0)
        return fail(error, QStringLiteral("negative focal length"));
    return true;
}
} // namespace

namespace Geotag {

QString rationalDegrees(double degrees)
{
    const Dms p = dms(degrees);
    return QStringLiteral("%1/1 %2/1 %3/1000000").arg(p.degrees).arg(p.minutes).arg(p.millionths);
}

QString altitudeThousandths(double metres)
{
    const double thousandths = std::fabs(metres) * 1000;
    return QStringLiteral("%1/1000").arg(thousandths <= kMaxNumerator ? qulonglong(thousandths)
                                                                      : 0);
}

bool tagBuffer(const QByteArray &jpeg, int focalLengthMm, const GeoPosition &position,
               QByteArray *tagged, QString *error)
{
    if (!checkArguments(focalLengthMm, position, error))
        return false;
    if (jpeg.size() < 2 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8)
        return fail(error, QStringLiteral("not a JPEG file"));
    qsizetype end = 0;
    const qsizetype scan = scanStart(jpeg, &end);
    QByteArray out;
    if (scan < 0) { // an unusual header: let the library walk the whole photo
        if (!ExifTagWriter::write(jpeg, focalLengthMm, position, &out, error))
            return false;
    } else {
        QByteArray header;
        if (!tagHeader(jpeg.left(end), focalLengthMm, position, &header, error))
            return false;
        out = header + jpeg.mid(scan);
    }
    if (!readsBack(out, focalLengthMm, position, error))
        return false;
    *tagged = out;
    return true;
}

bool tagFile(const QString &path, int focalLengthMm, const GeoPosition &position, QString *error)
{
    if (!checkArguments(focalLengthMm, position, error))
        return false;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot open %1: %2").arg(path, in.errorString()));
    // Without any write bit the operator meant the photo to stay as it is, even for root.
    const QFileDevice::Permissions writeBits =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!QFileInfo(path).isWritable() || !(in.permissions() & writeBits))
        return fail(error, QStringLiteral("%1 is read-only").arg(path));

    // Mapped, the image data goes from the page cache straight into the new file.
    const qint64 size = in.size();
    QByteArray read;
    const uchar *mapped = size > 0 ? in.map(0, size) : nullptr;
    if (!mapped) {
        read = in.readAll();
        if (read.size() != size)
            return fail(error, QStringLiteral("cannot read %1: %2").arg(path, in.errorString()));
    }
    const QByteArray original =
        mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), size) : read;
    if (original.size() < 2 || uchar(original[0]) != 0xFF || uchar(original[1]) != 0xD8)
        return fail(error, QStringLiteral("%1 is not a JPEG file").arg(path));

    QByteArray newHeader;
    qsizetype end = 0;
    const qsizetype scan = scanStart(original, &end);
    if (scan < 0) {
        // No start of scan found: hand the whole photo to the library, which decides.
        if (!ExifTagWriter::write(original, focalLengthMm, position, &newHeader, error))
            return false;
    } else if (!tagHeader(original.left(end), focalLengthMm, position, &newHeader, error)) {
        return false;
    }
    // The new header with the start-of-scan section, where the reader stops.
    if (!readsBack(scan < 0 ? newHeader : newHeader + original.mid(scan, end - scan), focalLengthMm,
                   position, error))
        return false;

    PhotoReplacer out(path, in.permissions());
    if (!out.write(newHeader) ||
        (scan >= 0 && !out.write(original.constData() + scan, size - scan)) || !out.commit())
        return fail(error, out.errorString());
    return true;
}

} // namespace Geotag
