#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "volumequery.h"

// One source of mounted volumes and of the news that they may have changed. The query and the
// drive watcher both ask the backend the factory chose, so they never disagree.
class VolumeBackend
{
public:
    virtual ~VolumeBackend() = default;
    virtual QString name() const = 0;
    virtual QList<MountedVolume> volumes() const = 0;
    // The volume whose mount root holds path (the innermost), or an invalid one. Backends that
    // must read a device to label a volume read only that one.
    virtual MountedVolume holding(const QString &path) const;
    // Calls changed in owner's thread whenever the volumes may have changed, for as long as
    // owner lives. Spurious calls are allowed: the caller compares lists.
    virtual void watch(QObject *owner, const std::function<void()> &changed) const = 0;
};

std::unique_ptr<VolumeBackend> makeMountTableBackend();
std::unique_ptr<VolumeBackend> makeMediaRootBackend(const QString &root);

// The factory's choice, made once: the media root when V7_MEDIA_ROOT is set, else the mount table.
const VolumeBackend &volumeBackend();
