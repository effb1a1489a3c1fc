#pragma once

#include <QByteArray>
#include <QString>

// A camera position from a POS row: decimal degrees (negative south / west) and metres.
struct GeoPosition
{
    double latitude = 0;
    double longitude = 0;
    double altitude = 0;
};

// Writes the focal length and the GPS position into a photo's EXIF block in-process.
// Safe to call from several threads at once; never leaves a half-written photo.
namespace Geotag {
// Tags a JPEG held in memory; *tagged is set only on success.
bool tagBuffer(const QByteArray &jpeg, int focalLengthMm, const GeoPosition &position,
               QByteArray *tagged, QString *error);
// Tags a file in place through a temporary file beside it that is renamed over the photo.
bool tagFile(const QString &path, int focalLengthMm, const GeoPosition &position, QString *error);
// "D/1 M/1 S/1000000" of |degrees|, each part truncated.
QString rationalDegrees(double degrees);
// "N/1000" of |metres|, truncated to whole thousandths.
QString altitudeThousandths(double metres);
} // namespace Geotag
