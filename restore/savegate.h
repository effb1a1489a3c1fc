#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include <sys/types.h>

struct TaskConfig;

// The verified copies of one camera that the offload recorded in "Taskconfig.xml" made: the
// lines of its checksum list (plain copies) and the entries of the finished zip volumes in it.
class SavedCopies
{
public:
    struct Copy
    {
        int id = -1;        // this copy's number among the camera's copies
        QString relative;   // the card file it copies, below the camera folder's source
        QString path;       // the copy, or the zip volume holding it
        QString entry;      // the zip entry name; empty for a plain copy
        int entryIndex = -1; // the entry's place in its volume
        quint64 hash = 0;   // XXH64 of a plain copy as verified
        qint64 size = -1;   // uncompressed size of a zip entry
        quint32 crc = 0;    // CRC-32 of a zip entry
        int target = 0;     // 0: the offload's target, 1: its backup
    };

    // Nothing saved: no configuration, or the camera took no part.
    SavedCopies() = default;
    // renamed: the offload set's map of card files whose copy has another name (card path ->
    // copy path, both below the camera folder's source); a copy is found under its card name.
    // backup: the offload's second target (the offload set's), empty for none; its copies
    // count as copies of their own, on another disk.
    SavedCopies(const TaskConfig &config, int engineCamera,
                const QHash<QString, QString> &renamed = {}, const QString &backup = QString());

    // Copies whose relative path is the card path or its tail after a '/'.
    QList<Copy> candidates(const QString &cardRelative) const;
    const Copy &copy(int id) const { return m_copies[size_t(id)]; }
    int count() const { return int(m_copies.size()); }
    QString password() const { return m_password; }

private:
    void add(Copy copy);
    void addFolder(const QString &folder, int target);
    void addZipVolume(const QString &archive, int target);

    std::vector<Copy> m_copies;
    QHash<QString, QList<int>> m_byName; // by the card file's name
    QHash<QString, QString> m_cardNameOf; // copy path -> card path, the renamed ones
    QString m_password;
};

// The cards a restore formats: a copy on one of them is gone with the photo it copies. On real
// volumes a copy lies there when its file system is a card's or another mount of the same volume
// (same device or UUID); a folder card of V7_MEDIA_ROOT shares its disk with everything, so
// there only the copies inside its folder do.
class ErasedCards
{
public:
    ErasedCards() = default; // nothing erased
    explicit ErasedCards(const QStringList &roots);

    // path exists and device is its st_dev.
    bool holds(const QString &path, dev_t device) const;

private:
    QStringList m_roots;          // folder cards, resolved
    std::vector<dev_t> m_devices; // volumes
};

// Which files on a camera card have no verified copy among the offloads: a card file counts as
// saved when a copy of the same relative name (or the name the offload gave it) still holds its
// checksum line's bytes (the copy is hashed again, the target beside the card) and the same
// bytes as the card, or, for a photo the offload tagged with its position, the same image data
// after the new header. A copy on a card the same restore formats does not count.
namespace SaveGate {

struct CardCheck
{
    int photos = 0;
    int unsaved = 0;        // all files the format would erase without a copy elsewhere
    int hiddenUnsaved = 0;  // of those: hidden files and files in hidden folders
    int copiesErased = 0;   // of those: photos whose only copies lie on a card being erased
    int oneCopy = 0;        // saved files whose verified copies are all on one target
    QStringList unsavedExamples; // the first few, for the log
};

// Every file the format would erase that is not the camera's own structure or an operating
// system's leftover: all regular files below the root, hidden ones included, except
// "AVF_INFO/", "PRIVATE/SONY/" and the leftovers (resource forks, trash, indexes).
QStringList cardPhotos(const QString &root);

// Reads each photo of the card once, while a thread of its own hashes the copies.
CardCheck check(const QString &root, const SavedCopies &copies,
                const ErasedCards &erased = ErasedCards());

} // namespace SaveGate
