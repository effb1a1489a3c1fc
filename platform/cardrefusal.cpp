#include "cardrefusal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "mountinfo.h"

namespace {

QByteArray readAllOf(const QString &path)
{
    QFile file(path);
    // Files of procfs and sysfs have no size; readAll reads until the end.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The device number of a block device node, 0 for anything else.
quint64 blockDevice(const QString &path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return 0;
    return st.st_rdev;
}

QString sysfsFolder(quint64 dev)
{
    return QFileInfo(QStringLiteral("/sys/dev/block/%1:%2").arg(::major(dev)).arg(::minor(dev)))
        .canonicalFilePath();
}

quint64 sysfsDevice(const QString &folder)
{
    const QList<QByteArray> numbers = readAllOf(folder + QStringLiteral("/dev")).trimmed().split(':');
    if (numbers.size() != 2)
        return 0;
    return ::makedev(numbers.at(0).toUInt(), numbers.at(1).toUInt());
}

QStringList linkedFolders(const QString &folder, const QString &kind)
{
    QStringList folders;
    for (const QString &name : QDir(folder + QLatin1Char('/') + kind).entryList(QDir::AllEntries |
                                                                               QDir::NoDotAndDotDot))
        folders << QFileInfo(QStringLiteral("/sys/class/block/") + name).canonicalFilePath();
    return folders;
}

// Everything that shares a disk with dev: walk up to the disk, down to its partitions, and
// along what is stacked over or under each of them, until nothing new turns up.
QList<quint64> relativesOf(quint64 dev)
{
    QStringList queue{sysfsFolder(dev)};
    QSet<QString> seen;
    while (!queue.isEmpty()) {
        const QString folder = queue.takeLast();
        if (folder.isEmpty() || seen.contains(folder))
            continue;
        seen.insert(folder);
        const QString disk = QFileInfo::exists(folder + QStringLiteral("/partition"))
                                 ? QFileInfo(folder).path()
                                 : folder;
        queue << disk;
        for (const QString &name : QDir(disk).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString child = disk + QLatin1Char('/') + name;
            if (QFileInfo::exists(child + QStringLiteral("/partition")))
                queue << child;
        }
        queue << linkedFolders(folder, QStringLiteral("holders"))
              << linkedFolders(folder, QStringLiteral("slaves"));
    }
    QList<quint64> relatives;
    for (const QString &folder : std::as_const(seen)) {
        const quint64 other = sysfsDevice(folder);
        if (other != 0 && other != dev && !relatives.contains(other))
            relatives << other;
    }
    return relatives;
}

QList<CardDeviceFacts::Mount> swapDevices()
{
    QList<CardDeviceFacts::Mount> swaps;
    const QList<QByteArray> lines = readAllOf(QStringLiteral("/proc/swaps")).split('\n');
    for (int i = 1; i < lines.size(); ++i) { // the first line names the columns
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        const QString path = MountInfo::unescape(fields.first());
        if (const quint64 dev = blockDevice(path))
            swaps.append({dev, path, QString()});
    }
    return swaps;
}

} // namespace

namespace CardRefusal {

QStringList systemFolders()
{
    return {QStringLiteral("/"),    QStringLiteral("/boot"), QStringLiteral("/boot/efi"),
            QStringLiteral("/home"), QStringLiteral("/usr"), QStringLiteral("/var")};
}

CardDeviceFacts gather(const QString &root)
{
    CardDeviceFacts facts;
    facts.root = QDir::cleanPath(root);
    const QFileInfo info(facts.root);
    facts.exists = !root.isEmpty() && info.isDir();
    if (!facts.exists)
        return facts;
    // The mount table names real folders: a root reached through a link is compared as that.
    const QString real = info.canonicalFilePath();
    const QByteArray table = readAllOf(QStringLiteral("/proc/self/mountinfo"));
    for (const MountInfoEntry &entry : MountInfo::parse(table)) {
        quint64 dev = 0;
        if (entry.source.startsWith(QLatin1String("/dev/"))) {
            dev = blockDevice(entry.source);
            // "/dev/root" and its kind have no node; the table's numbers are the device's.
            if (dev == 0 && entry.major != 0)
                dev = ::makedev(entry.major, entry.minor);
            if (dev != 0)
                facts.mounts.append({dev, entry.source, entry.mountPoint});
        }
        // A later mount on the same folder hides the earlier one.
        if (entry.mountPoint == real) {
            facts.mounted = true;
            facts.mountPoint = real;
            facts.device = entry.source;
            facts.fsType = entry.fsType;
            facts.options = entry.options;
            facts.superOptions = entry.superOptions;
            facts.dev = dev;
        }
    }
    facts.swaps = swapDevices();
    if (facts.dev != 0)
        facts.relatives = relativesOf(facts.dev);
    facts.avfInfo = QFileInfo(real + QStringLiteral("/AVF_INFO")).isDir();
    return facts;
}

QString reason(const CardDeviceFacts &f)
{
    if (!f.exists)
        return QStringLiteral("%1 不存在").arg(f.root);
    if (!f.mounted)
        return QStringLiteral("%1 不是挂载点").arg(f.root);
    if (f.dev == 0)
        return QStringLiteral("%1 上挂载的不是块设备（%2）").arg(f.root, f.device);
    const QStringList system = systemFolders();
    // The system first: its message is the one that must never be hidden behind another.
    for (const CardDeviceFacts::Mount &m : f.mounts) {
        if (!system.contains(m.mountPoint))
            continue;
        if (m.dev == f.dev)
            return QStringLiteral("%1 承载系统目录 %2，不能格式化").arg(f.device, m.mountPoint);
        if (f.relatives.contains(m.dev))
            return QStringLiteral("%1 与系统目录 %2 在同一磁盘上，不能格式化")
                .arg(f.device, m.mountPoint);
    }
    for (const CardDeviceFacts::Mount &s : f.swaps) {
        if (s.dev == f.dev)
            return QStringLiteral("%1 是交换分区，不能格式化").arg(f.device);
        if (f.relatives.contains(s.dev))
            return QStringLiteral("%1 所在的磁盘上有交换分区 %2，不能格式化").arg(f.device, s.device);
    }
    for (const CardDeviceFacts::Mount &m : f.mounts) {
        if (m.dev == f.dev && m.mountPoint != f.mountPoint)
            return QStringLiteral("%1 还挂载在 %2，不能格式化").arg(f.device, m.mountPoint);
        if (f.relatives.contains(m.dev))
            return QStringLiteral("%1 所在的磁盘上还挂载着 %2（%3），不能格式化")
                .arg(f.device, m.device, m.mountPoint);
    }
    if (!f.avfInfo)
        return QStringLiteral("%1 上没有 AVF_INFO 文件夹，不是相机卡").arg(f.root);
    return QString();
}

} // namespace CardRefusal
