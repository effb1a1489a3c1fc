#include "geotag.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <mutex>

namespace {
std::mutex g_xmpMutex;

void lockXmp(void *, bool lock)
{
    if (lock)
        g_xmpMutex.lock();
    else
        g_xmpMutex.unlock();
}

// The XMP toolkit's set-up is not thread-safe; the first caller does it for every thread.
void initialiseLibrary()
{
    static const bool done = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        return Exiv2::XmpParser::initialize(&lockXmp, nullptr);
    }();
    Q_UNUSED(done);
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Largest value that fits the 32-bit numerator of an EXIF rational.
constexpr double kMaxNumerator = 4294967295.0;
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
    return QStringLiteral("%1/1000").arg(thousandths <= kMaxNumerator ? qulonglong(thousandths) : 0);
}

bool tagBuffer(const QByteArray &jpeg, int focalLengthMm, const GeoPosition &position,
               QByteArray *tagged, QString *error)
{
    if (!(std::fabs(position.latitude) <= 90) || !(std::fabs(position.longitude) <= 180))
        return fail(error, QStringLiteral("position out of range"));
    if (!(std::fabs(position.altitude) * 1000 <= kMaxNumerator))
        return fail(error, QStringLiteral("altitude out of range"));
    if (focalLengthMm < 0)
        return fail(error, QStringLiteral("negative focal length"));
    if (jpeg.size() < 2 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8)
        return fail(error, QStringLiteral("not a JPEG file"));

    initialiseLibrary();
    try {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte *>(jpeg.constData()), long(jpeg.size()));
        if (image.get() == nullptr || image->imageType() != Exiv2::ImageType::jpeg)
            return fail(error, QStringLiteral("not a JPEG file"));
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        exif["Exif.Photo.FocalLength"] = QStringLiteral("%1/1").arg(focalLengthMm).toStdString();
        exif["Exif.GPSInfo.GPSVersionID"] = std::string("2 2 0 0");
        exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string(position.latitude < 0 ? "S" : "N");
        exif["Exif.GPSInfo.GPSLatitude"] = rationalDegrees(position.latitude).toStdString();
        exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string(position.longitude < 0 ? "W" : "E");
        exif["Exif.GPSInfo.GPSLongitude"] = rationalDegrees(position.longitude).toStdString();
        exif["Exif.GPSInfo.GPSAltitudeRef"] = std::string(position.altitude < 0 ? "1" : "0");
        exif["Exif.GPSInfo.GPSAltitude"] = altitudeThousandths(position.altitude).toStdString();
        image->writeMetadata();

        Exiv2::BasicIo &io = image->io();
        if (io.open() != 0)
            return fail(error, QStringLiteral("cannot read the tagged photo back"));
        const long size = long(io.size());
        QByteArray out(size, Qt::Uninitialized);
        const long got = io.read(reinterpret_cast<Exiv2::byte *>(out.data()), size);
        io.close();
        if (got != size)
            return fail(error, QStringLiteral("cannot read the tagged photo back"));
        *tagged = out;
        return true;
    } catch (const Exiv2::AnyError &e) {
        return fail(error, QString::fromStdString(e.what()));
    } catch (const std::exception &e) {
        return fail(error, QString::fromLocal8Bit(e.what()));
    }
}

bool tagFile(const QString &path, int focalLengthMm, const GeoPosition &position,
             QString *error)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot open %1: %2").arg(path, in.errorString()));
    if (!QFileInfo(path).isWritable())
        return fail(error, QStringLiteral("%1 is read-only").arg(path));
    const QByteArray original = in.readAll();
    in.close();

    QByteArray tagged;
    if (!tagBuffer(original, focalLengthMm, position, &tagged, error))
        return false;

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    // A short write makes commit() fail and drop the temporary file; the photo stays as it was.
    out.write(tagged);
    if (!out.commit())
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    return true;
}

} // namespace Geotag
