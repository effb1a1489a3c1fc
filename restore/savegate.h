#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

struct TaskConfig;

// The verified copies of one camera that the offload recorded in "Taskconfig.xml" made: the
// lines of its checksum list (plain copies) and the entries of the finished zip volumes in it.
class SavedCopies
{
public:
    struct Copy
    {
        QString relative;   // below the camera folder's source, without a sortie folder
        QString path;       // the copy, or the zip volume holding it
        QString entry;      // the zip entry name; empty for a plain copy
        quint64 hash = 0;   // XXH64 of a plain copy as verified
        qint64 size = -1;   // uncompressed size of a zip entry
        quint32 crc = 0;    // CRC-32 of a zip entry
    };

    // Nothing saved: no configuration, or the camera took no part.
    SavedCopies() = default;
    SavedCopies(const TaskConfig &config, int engineCamera);

    // Copies whose relative path is the card path or its tail after a '/'.
    QList<Copy> candidates(const QString &cardRelative) const;
    QString password() const { return m_password; }
    bool hasZipEntries() const { return m_zipEntries; }

private:
    void addZipVolume(const QString &archive);

    QHash<QString, QList<Copy>> m_byName; // by file name
    QString m_password;
    bool m_zipEntries = false;
};

// Which photos on a camera card have no verified copy among the offloads: a card photo counts
// as saved when a copy of the same relative name holds the same bytes (same size and XXH64 for
// a plain copy, same size and CRC-32 for a zip entry), or, for a photo the offload tagged with
// its position, the same image data after the new header.
namespace SaveGate {

struct CardCheck
{
    int photos = 0;
    int unsaved = 0;
    QStringList unsavedExamples; // the first few, for the log
};

// Every file the format would erase that is not the camera's own structure: all regular files
// below the root except "AVF_INFO/", "PRIVATE/SONY/" and hidden or system folders at the top.
QStringList cardPhotos(const QString &root);

// Reads each photo of the card once (and a copy only where a tagged copy must be compared).
CardCheck check(const QString &root, const SavedCopies &copies);

} // namespace SaveGate
