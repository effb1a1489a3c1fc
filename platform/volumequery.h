#pragma once

#include <QList>
#include <QString>

// One mounted volume as the program sees it. mountRoot is the folder the volume is mounted on,
// without a trailing slash ("/media/alice/Front"); it stands where the Windows program had a
// drive letter. device is empty for a folder of V7_MEDIA_ROOT.
struct MountedVolume
{
    QString device;
    QString label;
    QString uuid;
    QString mountRoot;
    QString fsType;

    bool isValid() const { return !mountRoot.isEmpty(); }
    bool operator==(const MountedVolume &other) const
    {
        return device == other.device && label == other.label && uuid == other.uuid &&
               mountRoot == other.mountRoot && fsType == other.fsType;
    }
    bool operator!=(const MountedVolume &other) const { return !(*this == other); }
};

// The mounted volumes, from the mount table (labels by libblkid, or the udev database where the
// device cannot be read) or, when V7_MEDIA_ROOT is set at start-up, from the sub-folders of that
// folder. Safe to call from any thread; it reads the system each time.
namespace VolumeQuery {

// Mount-table order (name order for V7_MEDIA_ROOT).
QList<MountedVolume> mountedVolumes();
// The volume mounted at mountRoot (a trailing slash is allowed), or an invalid one.
MountedVolume volumeAt(const QString &mountRoot);
// The volume whose mount root is the longest leading folder of path, or an invalid one.
MountedVolume volumeHolding(const QString &path);
// path is mountRoot or below it.
bool holds(const QString &mountRoot, const QString &path);
// "media root" or "mount table": which backend answers.
QString backendName();

} // namespace VolumeQuery
