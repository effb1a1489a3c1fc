#pragma once

#include <QFile>
#include <QString>

struct PhotoInfo;

// The photo information table of one camera: one comma-separated row per offloaded photo,
// read back by the offload page for its block files. One writer per camera.
class PhotoInfoTable
{
public:
    // Creates the table with its header line, or opens it for appending without one.
    bool open(const QString &path, bool append, QString *error);
    // Writes the photo's row and flushes it, so a crash loses no finished row.
    bool appendRow(const QString &photoPath, const PhotoInfo &info);
    void close();
    bool isOpen() const { return m_file.isOpen(); }

    // The row text for one photo, newline included.
    static QByteArray row(const QString &photoPath, const PhotoInfo &info);
    // Seconds since 1970 of an EXIF date "YYYY:MM:DD HH:MM:SS" in local time; -1 when unusable.
    static long long captureTime(const QString &exifDate);

private:
    QFile m_file;
};
