#pragma once

#include <QByteArray>
#include <QString>

struct GeoPosition;

// The one place that talks to libexiv2: sets the focal length and GPS tags of a JPEG held in
// memory (a whole photo or just its header sections) and returns the rewritten bytes.
namespace ExifTagWriter {
bool write(const QByteArray &jpeg, int focalLengthMm, const GeoPosition &position,
           QByteArray *tagged, QString *error);
} // namespace ExifTagWriter
