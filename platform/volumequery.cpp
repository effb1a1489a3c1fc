#include "volumequery.h"

#include <QDir>

#include "volumebackend.h"

const VolumeBackend &volumeBackend()
{
    static const std::unique_ptr<VolumeBackend> backend = [] {
        const QString root = qEnvironmentVariable("V7_MEDIA_ROOT");
        return root.isEmpty() ? makeMountTableBackend() : makeMediaRootBackend(root);
    }();
    return *backend;
}

MountedVolume VolumeBackend::holding(const QString &path) const
{
    MountedVolume found;
    for (const MountedVolume &volume : volumes()) {
        if (VolumeQuery::holds(volume.mountRoot, path) &&
            volume.mountRoot.size() >= found.mountRoot.size())
            found = volume;
    }
    return found;
}

namespace VolumeQuery {

QList<MountedVolume> mountedVolumes()
{
    return volumeBackend().volumes();
}

MountedVolume volumeAt(const QString &mountRoot)
{
    if (mountRoot.isEmpty())
        return {};
    const QString wanted = QDir::cleanPath(mountRoot);
    MountedVolume found;
    // A later mount on the same folder hides the earlier one.
    for (const MountedVolume &volume : mountedVolumes()) {
        if (volume.mountRoot == wanted)
            found = volume;
    }
    return found;
}

MountedVolume volumeHolding(const QString &path)
{
    return volumeBackend().holding(path);
}

bool holds(const QString &mountRoot, const QString &path)
{
    const QString wanted = QDir::cleanPath(QDir(path).absolutePath());
    return wanted == mountRoot || mountRoot == QLatin1String("/") ||
           wanted.startsWith(mountRoot + QLatin1Char('/'));
}

QString backendName()
{
    return volumeBackend().name();
}

} // namespace VolumeQuery
