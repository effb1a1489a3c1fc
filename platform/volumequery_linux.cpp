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
        QFile file(QString::fromLatin1(kMountInfo));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        // A procfs file has no size; readAll reads until the end.
        const QByteArray text = file.readAll();
        QList<MountedVolume> list;
        for (const MountInfoEntry &entry : MountInfo::parse(text)) {
            if (!MountInfo::isBlockVolume(entry))
                continue;
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
            list.append(volume);
        }
        return list;
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
