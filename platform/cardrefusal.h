#pragma once

#include <QList>
#include <QString>

// What the system says about the device behind a card root: gathered in one go, so that the
// rule below can also be run on systems made up in a test.
struct CardDeviceFacts
{
    struct Mount
    {
        quint64 dev = 0; // device number of the mount's source
        QString device;
        QString mountPoint;
    };

    QString root;         // as asked, cleaned
    bool exists = false;  // root is a folder
    bool mounted = false; // root is a mount point
    QString mountPoint;   // root as the mount table names it (links resolved)
    QString device;       // the source mounted on root ("/dev/sdb1", or "tmpfs")
    QString fsType;
    QString options;      // mount and file-system options of that mount, for mounting it again
    QString superOptions;
    quint64 dev = 0;      // its device number; 0 when the source is no block device
    bool avfInfo = false; // root holds the camera's "AVF_INFO" folder
    QList<Mount> mounts;  // every mount of a block device in the table
    QList<Mount> swaps;   // block devices in use as swap (no mount point)
    // The other block devices of the same disk: the whole disk, its partitions and whatever is
    // stacked on any of them (device mapper, RAID). The card's own device is not in it.
    QList<quint64> relatives;
};

// The one rule that keeps the formatter off anything but a camera card.
namespace CardRefusal {

// The folders whose devices are never formatted, nor any device on the same disk.
QStringList systemFolders();

// Reads the mount table, the swap list and the block devices' family in sysfs.
CardDeviceFacts gather(const QString &root);

// Why the card at facts.root must not be formatted, as the operator reads it; empty when it
// may be.
QString reason(const CardDeviceFacts &facts);

} // namespace CardRefusal
