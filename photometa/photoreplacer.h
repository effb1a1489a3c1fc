#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryFile>

// Writes the new content of a photo into a temporary file beside it and renames that over the
// photo, so the photo is either the old one or the complete new one, never a mix.
class PhotoReplacer
{
public:
    PhotoReplacer(const QString &path, QFileDevice::Permissions permissions);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    bool write(const char *data, qint64 size);
    // Renames the finished file over the photo; on failure the photo is left as it was.
    bool commit();
    QString errorString() const { return m_error; }

private:
    bool failed(const QString &what);

    QString m_path;
    QFileDevice::Permissions m_permissions;
    QTemporaryFile m_temp;
    QString m_error;
};
