#include "exiftagwriter.h"

#include "geotag.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>

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

// Reads the written block back and checks that every tag made it.
bool keepsEveryTag(const QByteArray &jpeg, const std::set<std::string> &keys)
{
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(jpeg.constData()),
                                           long(jpeg.size()));
    image->readMetadata();
    std::set<std::string> written;
    for (const Exiv2::Exifdatum &datum : image->exifData())
        written.insert(datum.key());
    return std::includes(written.begin(), written.end(), keys.begin(), keys.end());
}

} // namespace

namespace ExifTagWriter {

bool write(const QByteArray &jpeg, int focalLengthMm, const GeoPosition &position,
           QByteArray *tagged, QString *error)
{
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
        exif["Exif.GPSInfo.GPSLatitude"] = Geotag::rationalDegrees(position.latitude).toStdString();
        exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string(position.longitude < 0 ? "W" : "E");
        exif["Exif.GPSInfo.GPSLongitude"] =
            Geotag::rationalDegrees(position.longitude).toStdString();
        exif["Exif.GPSInfo.GPSAltitudeRef"] = std::string(position.altitude < 0 ? "1" : "0");
        exif["Exif.GPSInfo.GPSAltitude"] =
            Geotag::altitudeThousandths(position.altitude).toStdString();
        // When the block outgrows its 64 KiB section the library silently leaves tags out;
        // a photo that loses any tag was not tagged, it was damaged.
        std::set<std::string> keys;
        for (const Exiv2::Exifdatum &datum : exif) {
            // Vendor directories the library cannot rewrite faithfully are its own business;
            // a dropped maker note still shows as the missing Exif.Photo.MakerNote tag.
            if (!Exiv2::ExifTags::isMakerGroup(datum.groupName()))
                keys.insert(datum.key());
        }
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
        if (!keepsEveryTag(out, keys))
            return fail(error, QStringLiteral("no room for the GPS tags in the EXIF block"));
        *tagged = out;
        return true;
    } catch (const Exiv2::AnyError &e) {
        return fail(error, QString::fromStdString(e.what()));
    } catch (const std::exception &e) {
        return fail(error, QString::fromLocal8Bit(e.what()));
    }
}

} // namespace ExifTagWriter
