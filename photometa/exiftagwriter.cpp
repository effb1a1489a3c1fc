#include "exiftagwriter.h"

#include "exifentries.h"
#include "geotag.h"

#include <QStringList>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <mutex>
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

// The tags this writer sets; every other tag must come out as it went in.
bool isRewritten(const ExifEntries::Entry &entry)
{
    return (entry.group == "Photo" && entry.tag == 0x920A) ||
           (entry.group == "GPSInfo" && entry.tag <= 0x0006);
}

QString keyName(const ExifEntries::Entry &entry)
{
    try {
        return QString::fromStdString(Exiv2::ExifKey(entry.tag, entry.group).key());
    } catch (const Exiv2::AnyError &) {
        return QStringLiteral("%1.0x%2")
            .arg(QString::fromStdString(entry.group))
            .arg(entry.tag, 4, 16, QChar('0'));
    }
}

// Compares every tag the photo had with what the written block holds. The library reads only
// the first section of a block that goes on in a second one (a long user comment), so it writes
// the tags stored past it back empty, and it silently leaves tags out when the block outgrows
// its section: in both cases the photo would be damaged, not tagged. A maker note only has to
// stay: the library lays the vendor's directory inside it out anew.
bool keepsEveryTag(const ExifEntries::Block &before, const ExifEntries::Block &after,
                   QString *error)
{
    QStringList lost;
    for (const ExifEntries::Entry &entry : before.entries) {
        if (isRewritten(entry))
            continue;
        bool kept = false;
        if (entry.tag == 0x927C && entry.group == "Photo") {
            kept = std::any_of(after.entries.begin(), after.entries.end(), [&](const auto &e) {
                return e.tag == entry.tag && e.group == entry.group &&
                       (e.count > 0 || entry.count == 0);
            });
        } else {
            kept = std::binary_search(after.entries.begin(), after.entries.end(), entry);
        }
        if (kept)
            continue;
        const QString name = keyName(entry);
        if (!lost.contains(name))
            lost << name;
    }
    if (lost.isEmpty())
        return true;
    QString text = QStringLiteral("writing would lose or change %1 tag(s): %2")
                       .arg(lost.size())
                       .arg(lost.mid(0, 3).join(QStringLiteral(", ")) +
                            (lost.size() > 3 ? QStringLiteral(", ...") : QString()));
    if (before.sections > 1)
        text += QStringLiteral(" (the EXIF block goes on in %1 APP1 sections and the writer "
                               "reads only the first)")
                    .arg(before.sections);
    return fail(error, text);
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
        // The XMP packet goes back as it was read: encoded anew it would carry the library's
        // toolkit name instead of the photo's own.
        image->writeXmpFromPacket(true);
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
        if (!keepsEveryTag(ExifEntries::read(jpeg.constData(), size_t(jpeg.size())),
                           ExifEntries::read(out.constData(), size_t(out.size())), error))
            return false;
        *tagged = out;
        return true;
    } catch (const Exiv2::AnyError &e) {
        return fail(error, QString::fromStdString(e.what()));
    } catch (const std::exception &e) {
        return fail(error, QString::fromLocal8Bit(e.what()));
    }
}

} // namespace ExifTagWriter
