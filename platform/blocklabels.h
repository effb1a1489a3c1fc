#pragma once

#include <QByteArray>
#include <QString>

// What a block device says about its file system: label, UUID and type.
struct BlockLabels
{
    bool found = false;
    QString label;
    QString uuid;
    QString fsType;
};

namespace BlockLabelReader {

// Reads the superblock with libblkid; not found when the device cannot be opened (no rights).
BlockLabels probe(const QString &device);
// The udev database record of a block device (/run/udev/data/b<major>:<minor>), where udev
// kept what it probed as root.
BlockLabels fromUdev(unsigned major, unsigned minor);
// The same from the record's text ("E:ID_FS_LABEL_ENC=My\x20Card" lines).
BlockLabels fromUdevRecord(const QByteArray &record);
// The probe, else the udev record.
BlockLabels read(const QString &device, unsigned major, unsigned minor);

} // namespace BlockLabelReader
