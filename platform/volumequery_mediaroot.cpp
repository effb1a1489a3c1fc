#include <QDir>
#include <QFileSystemWatcher>
#include <QStorageInfo>

#include "volumebackend.h"

namespace {

// Every sub-folder of one folder is a mounted card labelled by its name: the demo and the tests
// plug and pull cards by making and removing folders, without root rights or real drives.
class MediaRootBackend : public VolumeBackend
{
public:
    explicit MediaRootBackend(const QString &root)
        : m_root(QDir::cleanPath(QDir(root).absolutePath()))
    {}

    QString name() const override { return QStringLiteral("media root"); }

    QList<MountedVolume> volumes() const override
    {
        QList<MountedVolume> list;
        const QString fsType = QString::fromUtf8(QStorageInfo(m_root).fileSystemType());
        const QStringList names =
            QDir(m_root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names) {
            MountedVolume volume;
            volume.label = name;
            volume.mountRoot = QDir(m_root).filePath(name);
            volume.fsType = fsType;
            list.append(volume);
        }
        return list;
    }

    void watch(QObject *owner, const std::function<void()> &changed) const override
    {
        QDir().mkpath(m_root);
        auto *watcher = new QFileSystemWatcher(QStringList{m_root}, owner);
        QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, owner,
                         [changed](const QString &) { changed(); });
    }

private:
    QString m_root;
};

} // namespace

std::unique_ptr<VolumeBackend> makeMediaRootBackend(const QString &root)
{
    return std::make_unique<MediaRootBackend>(root);
}
