#include "geotag.h"

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
        const qsizetype length = (qsizetype(p[pos + 2]) << 8) | p[pos + 3];
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
    const double d = std::fabs(degrees) <= 360 ? std::fabs(degrees) : 0.0;
    const int whole = int(d);
    const double minutes = (d - whole) * 60;
    const int wholeMinutes = int(minutes);
    const int millionths = int((minutes - wholeMinutes) * 60000000);
    return QStringLiteral("%1/1 %2/1 %3/1000000").arg(whole).arg(wholeMinutes).arg(millionths);
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
    if (scan < 0) // an unusual header: let the library walk the whole photo
        return ExifTagWriter::write(jpeg, focalLengthMm, position, tagged, error);
    QByteArray header;
    if (!tagHeader(jpeg.left(end), focalLengthMm, position, &header, error))
        return false;
    *tagged = header + jpeg.mid(scan);
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

    PhotoReplacer out(path, in.permissions());
    if (!out.write(newHeader) ||
        (scan >= 0 && !out.write(original.constData() + scan, size - scan)) || !out.commit())
        return fail(error, out.errorString());
    return true;
}

} // namespace Geotag
