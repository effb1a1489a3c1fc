#pragma once

#include <QList>
#include <QObject>

#include "volumequery.h"

// Tells the GUI thread when a volume is mounted, changed or unmounted, with its mount root.
// It watches whatever the volume query reads (the mount table, or the V7_MEDIA_ROOT folder),
// queries off the GUI thread and compares the new list with the last one.
class DriveWatcher : public QObject
{
    Q_OBJECT
public:
    // Created on first use, in and for the GUI thread, watching from then on.
    static DriveWatcher *instance();

    // The volumes as of the last signal, in the query's order.
    QList<MountedVolume> volumes() const { return m_volumes; }
    bool isRunning() const { return m_running; }

    // The events that turn list before into list after, in the order they are emitted:
    // removals, then changes, then additions, each in list order.
    struct Event
    {
        enum Kind { Removed, Changed, Added } kind;
        QString mountRoot;
    };
    static QList<Event> compare(const QList<MountedVolume> &before,
                                const QList<MountedVolume> &after);

signals:
    void deviceAdded(const QString &mountRoot);
    void deviceChanged(const QString &mountRoot);
    void deviceRemoved(const QString &mountRoot);

private:
    DriveWatcher();
    void requery();
    void takeVolumes(const QList<MountedVolume> &volumes);

    QList<MountedVolume> m_volumes;
    bool m_running = false;
    bool m_querying = false;
    bool m_again = false;
};
