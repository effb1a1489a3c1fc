#include <QFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "blocklabels.h"
#include "mountinfo.h"
#include "volumebackend.h"

namespace {

const char kMountInfo[] = "/proc/self/mountinfo";

// The mounted block-device volumes of the kernel's mount table.
class MountTableBackend : public VolumeBackend
{
public:
    QString name() const override { return QStringLiteral("mount table"); }

    QList<MountedVolume> volumes() const override
    {
        QList<MountedVolume> list;
        for (const MountInfoEntry &entry : blockVolumes())
            list.append(labelled(entry));
        return list;
    }

    // Labels only the volume that holds path: each label is read from its device, which for a
    // card in a reader costs a slow read per card.
    MountedVolume holding(const QString &path) const override
    {
        const MountInfoEntry *found = nullptr;
        const QList<MountInfoEntry> entries = blockVolumes();
        for (const MountInfoEntry &entry : entries) {
            if (VolumeQuery::holds(entry.mountPoint, path) &&
                (!found || entry.mountPoint.size() >= found->mountPoint.size()))
                found = &entry;
        }
        return found ? labelled(*found) : MountedVolume();
    }

    static QList<MountInfoEntry> blockVolumes()
    {
        QFile file(QString::fromLatin1(kMountInfo));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        // A procfs file has no size; readAll reads until the end.
        QList<MountInfoEntry> volumes;
        for (const MountInfoEntry &entry : MountInfo::parse(file.readAll())) {
            if (MountInfo::isBlockVolume(entry))
                volumes.append(entry);
        }
        return volumes;
    }

    static MountedVolume labelled(const MountInfoEntry &entry)
    {
        unsigned major = entry.major;
        unsigned minor = entry.minor;
        // Some file systems (btrfs) show an anonymous number here; the node knows the real one.
        struct stat st = {};
        if (::stat(QFile::encodeName(entry.source).constData(), &st) == 0 &&
            S_ISBLK(st.st_mode)) {
            major = ::major(st.st_rdev);
            minor = ::minor(st.st_rdev);
        }
        const BlockLabels labels = BlockLabelReader::read(entry.source, major, minor);
        MountedVolume volume;
        volume.device = entry.source;
        volume.label = labels.label;
        volume.uuid = labels.uuid;
        volume.mountRoot = entry.mountPoint;
        volume.fsType = labels.fsType.isEmpty() ? entry.fsType : labels.fsType;
        return volume;
    }

    void watch(QObject *owner, const std::function<void()> &changed) const override
    {
        // The kernel reports every mount and unmount as an exceptional condition (POLLPRI) on
        // the mount table file, once to each poll after the change.
        const int fd = ::open(kMountInfo, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            qWarning("drive watcher: cannot open %s", kMountInfo);
            return;
        }
        auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Exception, owner);
        QObject::connect(notifier, &QSocketNotifier::activated, owner, [changed] { changed(); });
        QObject::connect(notifier, &QObject::destroyed, [fd] { ::close(fd); });
    }
};

} // namespace

std::unique_ptr<VolumeBackend> makeMountTableBackend()
{
    return std::make_unique<MountTableBackend>();
}
