// v7tool exif: the header of each photo as one JSON object per line.
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "exifreader.h"
#include "toolcommand.h"

namespace {
const char kUsage[] = "usage: v7tool exif PHOTO...\n";

QString letter(char c)
{
    return c ? QString(QChar::fromLatin1(c)) : QString();
}

QJsonObject toJson(const QString &path, const PhotoInfo &info)
{
    QJsonObject o;
    o[QStringLiteral("file")] = path;
    o[QStringLiteral("make")] = info.cameraMake;
    o[QStringLiteral("model")] = info.cameraModel;
    o[QStringLiteral("dateTime")] = info.dateTime;
    o[QStringLiteral("width")] = info.width;
    o[QStringLiteral("height")] = info.height;
    o[QStringLiteral("orientation")] = info.orientation;
    o[QStringLiteral("isColor")] = info.isColor;
    o[QStringLiteral("process")] = info.process;
    o[QStringLiteral("flashUsed")] = info.flashUsed;
    o[QStringLiteral("focalLength")] = info.focalLength;
    o[QStringLiteral("exposureTime")] = info.exposureTime;
    o[QStringLiteral("fNumber")] = info.apertureFNumber;
    o[QStringLiteral("distance")] = info.distance;
    o[QStringLiteral("ccdWidth")] = info.ccdWidth;
    o[QStringLiteral("exposureBias")] = info.exposureBias;
    o[QStringLiteral("lightSource")] = info.lightSource;
    o[QStringLiteral("meteringMode")] = info.meteringMode;
    o[QStringLiteral("exposureProgram")] = info.exposureProgram;
    o[QStringLiteral("iso")] = info.isoEquivalent;
    o[QStringLiteral("compressionLevel")] = info.compressionLevel;
    o[QStringLiteral("focalPlaneXRes")] = info.focalPlaneXRes;
    o[QStringLiteral("focalPlaneYRes")] = info.focalPlaneYRes;
    o[QStringLiteral("focalPlaneUnits")] = info.focalPlaneUnits;
    o[QStringLiteral("xResolution")] = info.xResolution;
    o[QStringLiteral("yResolution")] = info.yResolution;
    o[QStringLiteral("resolutionUnit")] = info.resolutionUnit;
    o[QStringLiteral("brightness")] = info.brightness;
    o[QStringLiteral("comment")] = info.comment;
    o[QStringLiteral("gpsFound")] = info.gpsFound;
    o[QStringLiteral("gpsLatitudeRef")] = letter(info.gpsLatitudeRef);
    o[QStringLiteral("gpsLatitude")] = info.gpsLatitude;
    o[QStringLiteral("gpsLongitudeRef")] = letter(info.gpsLongitudeRef);
    o[QStringLiteral("gpsLongitude")] = info.gpsLongitude;
    o[QStringLiteral("gpsAltitudeRef")] = info.gpsAltitudeRef;
    o[QStringLiteral("gpsAltitude")] = info.gpsAltitude;
    o[QStringLiteral("thumbnailOffset")] = qint64(info.thumbnailOffset);
    o[QStringLiteral("thumbnailSize")] = qint64(info.thumbnailSize);
    o[QStringLiteral("exifFound")] = info.exifFound;
    o[QStringLiteral("error")] = info.error;
    return o;
}

int run(const QStringList &arguments)
{
    if (arguments.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    int failures = 0;
    for (const QString &path : arguments) {
        const PhotoInfo info = ExifReader::readFile(path);
        if (!info.error.isEmpty())
            ++failures;
        const QByteArray line = QJsonDocument(toJson(path, info)).toJson(QJsonDocument::Compact);
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
    }
    return failures == 0 ? 0 : 1;
}

ToolCommand command("exif", "print the EXIF header of photos as JSON lines", kUsage, &run);
} // namespace
