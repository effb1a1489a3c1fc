#include "drivewatcher.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QThreadPool>

#include <algorithm>

#include "volumebackend.h"

// The drive watcher's own log: QT_LOGGING_RULES="v7.drives.debug=true".
Q_LOGGING_CATEGORY(lcDrives, "v7.drives", QtWarningMsg)

DriveWatcher *DriveWatcher::instance()
{
    // Never deleted: queries in flight may still post their answer to it at exit.
    static DriveWatcher *watcher = new DriveWatcher();
    return watcher;
}

DriveWatcher::DriveWatcher()
{
    const VolumeBackend &backend = volumeBackend();
    // One query at start-up, so that the first page sees the cards already plugged in.
    m_volumes = backend.volumes();
    backend.watch(this, [this] { requery(); });
    m_running = true;
    qCDebug(lcDrives) << "drive watcher:" << backend.name() << "with" << m_volumes.size() << "volumes";
}

void DriveWatcher::requery()
{
    // Label probes read the devices: never on the GUI thread, and one query at a time.
    if (m_querying) {
        m_again = true;
        return;
    }
    m_querying = true;
    QThreadPool::globalInstance()->start([this] {
        const QList<MountedVolume> volumes = volumeBackend().volumes();
        QMetaObject::invokeMethod(
            this, [this, volumes] { takeVolumes(volumes); }, Qt::QueuedConnection);
    });
}

void DriveWatcher::takeVolumes(const QList<MountedVolume> &volumes)
{
    m_querying = false;
    const QList<Event> events = compare(m_volumes, volumes);
    m_volumes = volumes;
    for (const Event &event : events) {
        switch (event.kind) {
        case Event::Removed:
            qCDebug(lcDrives) << "drive watcher: removed" << event.mountRoot;
            emit deviceRemoved(event.mountRoot);
            break;
        case Event::Changed:
            qCDebug(lcDrives) << "drive watcher: changed" << event.mountRoot;
            emit deviceChanged(event.mountRoot);
            break;
        case Event::Added:
            qCDebug(lcDrives) << "drive watcher: added" << event.mountRoot;
            emit deviceAdded(event.mountRoot);
            break;
        }
    }
    if (m_again) {
        m_again = false;
        requery();
    }
}

namespace {

// One volume per mount root, the last mounted on it (it hides the others), in the order the
// roots first appear.
QList<MountedVolume> visibleMounts(const QList<MountedVolume> &list)
{
    QList<MountedVolume> visible;
    for (const MountedVolume &volume : list) {
        auto same = [&](const MountedVolume &v) { return v.mountRoot == volume.mountRoot; };
        const auto it = std::find_if(visible.begin(), visible.end(), same);
        if (it != visible.end())
            *it = volume;
        else
            visible.append(volume);
    }
    return visible;
}

const MountedVolume *findRoot(const QList<MountedVolume> &list, const QString &root)
{
    for (const MountedVolume &volume : list) {
        if (volume.mountRoot == root)
            return &volume;
    }
    return nullptr;
}

} // namespace

QList<DriveWatcher::Event> DriveWatcher::compare(const QList<MountedVolume> &before,
                                                 const QList<MountedVolume> &after)
{
    const QList<MountedVolume> old = visibleMounts(before);
    const QList<MountedVolume> now = visibleMounts(after);
    QList<Event> events;
    for (const MountedVolume &volume : old) {
        if (!findRoot(now, volume.mountRoot))
            events.append({Event::Removed, volume.mountRoot});
    }
    for (const MountedVolume &volume : now) {
        const MountedVolume *was = findRoot(old, volume.mountRoot);
        if (was && *was != volume)
            events.append({Event::Changed, volume.mountRoot});
    }
    for (const MountedVolume &volume : now) {
        if (!findRoot(old, volume.mountRoot))
            events.append({Event::Added, volume.mountRoot});
    }
    return events;
}
