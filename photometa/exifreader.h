#pragma once

#include <QString>

#include <cstddef>

// What the header of one JPEG photo says about it: camera, capture time, frame size and the
// exposure values. Fields that the photo does not carry stay at zero / empty.
struct PhotoInfo
{
    QString cameraMake;  // tag 0x010F, at most 31 characters
    QString cameraModel; // tag 0x0110, at most 39 characters
    QString dateTime;    // tag 0x9003, "YYYY:MM:DD HH:MM:SS"
    QString subSecTime;  // tag 0x9291, the fraction of a second of dateTime as digits
    int height = 0;      // from the start-of-frame section
    int width = 0;
    int orientation = 0; // 1..8, 0 when missing or invalid
    int isColor = 0;     // 1 when the frame has three components
    int process = 0;     // the start-of-frame marker (0xC0 baseline, 0xC2 progressive, ...)
    int flashUsed = 0;
    double focalLength = 0;  // mm
    double exposureTime = 0; // s
    double apertureFNumber = 0;
    double distance = 0; // subject distance
    double ccdWidth = 0; // mm, derived from the focal plane resolution
    double exposureBias = 0;
    int lightSource = 0;
    int meteringMode = 0;
    int exposureProgram = 0;
    int isoEquivalent = 0;
    int compressionLevel = 0;
    double focalPlaneXRes = 0;
    double focalPlaneYRes = 0;
    double focalPlaneUnits = 0; // mm per focal plane resolution unit
    double xResolution = 0;
    double yResolution = 0;
    double resolutionUnit = 0; // factor of the unit, see the unit table in the reader
    double brightness = 0;
    QString comment; // COM section or user comment, at most 1000 characters
    bool gpsFound = false;
    char gpsLatitudeRef = 0;      // 'N' or 'S'
    double gpsLatitude = 0;       // degrees, negative south
    char gpsLongitudeRef = 0;     // 'E' or 'W'
    double gpsLongitude = 0;      // degrees, negative west
    int gpsAltitudeRef = 0;       // 0 above sea level, 1 below
    double gpsAltitude = 0;       // metres, as stored (not signed by the reference)
    unsigned thumbnailOffset = 0; // from the start of the TIFF header inside the EXIF block
    unsigned thumbnailSize = 0;
    bool exifFound = false;
    QString error; // the last error met, empty when the header read cleanly
};

// Reads the marker sections of a JPEG up to the start of the image data and decodes EXIF.
// Never reads outside the given bytes; a damaged photo gives what could be read plus an error.
namespace ExifReader {
PhotoInfo readFile(const QString &path);
PhotoInfo readBuffer(const char *data, size_t size);
} // namespace ExifReader
