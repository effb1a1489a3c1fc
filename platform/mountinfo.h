#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One line of /proc/self/mountinfo, the fields the volume query needs.
struct MountInfoEntry
{
    int mountId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    QString root;       // the folder of the file system that is mounted ("/" for a whole volume)
    QString mountPoint; // octal escapes of the kernel undone
    QString fsType;
    QString source; // "/dev/sdb1", or a name such as "tmpfs"
    QString options;      // of this mount ("rw,nosuid,relatime")
    QString superOptions; // of the file system ("rw,uid=1000,iocharset=utf8")
};

// The kernel's mount table as text; the parser is separate so that odd lines can be tested.
namespace MountInfo {

QList<MountInfoEntry> parse(const QByteArray &text);
// Undoes the kernel's escapes "\040" (blank), "\011", "\012", "\134" in a field.
QString unescape(const QByteArray &field);
// The entries that are whole block-device volumes: a source under /dev/ and root "/".
bool isBlockVolume(const MountInfoEntry &entry);

} // namespace MountInfo
