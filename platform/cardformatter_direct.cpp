#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "cardformatter.h"
#include "cardrefusal.h"
#include "mountinfo.h"

#include <sys/stat.h>

namespace {

QString tool(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"),
                                                 QStringLiteral("/sbin")});
}

// Runs a system tool to its end, without a time-out: a format of a large card takes its time.
bool run(const QString &name, const QStringList &arguments, QString *error)
{
    const QString program = tool(name);
    if (program.isEmpty()) {
        *error = QStringLiteral("找不到 %1").arg(name);
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(-1);
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    qWarning("card formatter: %s %s: %s", qPrintable(program), qPrintable(arguments.join(' ')),
             qPrintable(output));
    *error = output.isEmpty() ? QStringLiteral("%1 失败").arg(name) : output;
    return false;
}

// Where the device is still mounted after the unmount (a second mount that came meanwhile).
QString stillMountedAt(quint64 dev)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const MountInfoEntry &entry : MountInfo::parse(table.readAll())) {
        struct stat st = {};
        if (entry.source.startsWith(QLatin1String("/dev/")) &&
            ::stat(QFile::encodeName(entry.source).constData(), &st) == 0 && S_ISBLK(st.st_mode) &&
            st.st_rdev == dev)
            return entry.mountPoint;
    }
    return QString();
}

bool kernelHasExfat()
{
    QFile file(QStringLiteral("/proc/filesystems"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.trimmed().split('\t').last() == "exfat")
            return true;
    }
    return false;
}

// The options of the old mount that still mean something for the new exFAT: who owns the
// files and how the mount is locked down.
QString keptOptions(const CardDeviceFacts &facts)
{
    static const QStringList flags = {QStringLiteral("nosuid"), QStringLiteral("nodev"),
                                      QStringLiteral("noexec")};
    static const QStringList settings = {QStringLiteral("uid="), QStringLiteral("gid="),
                                         QStringLiteral("fmask="), QStringLiteral("dmask="),
                                         QStringLiteral("umask="), QStringLiteral("iocharset=")};
    QStringList kept;
    for (const QString &option : facts.options.split(QLatin1Char(','))) {
        if (flags.contains(option))
            kept << option;
    }
    for (const QString &option : facts.superOptions.split(QLatin1Char(','))) {
        for (const QString &setting : settings) {
            if (option.startsWith(setting))
                kept << option;
        }
    }
    return kept.join(QLatin1Char(','));
}

} // namespace

// With the kernel's driver the options that carry over go along.
bool BlockCardFormatter::mountWithTools(const CardDeviceFacts &facts, const QString &fsType,
                                        QString *error)
{
    QDir().mkpath(facts.mountPoint);
    const bool fuse = facts.fsType == QLatin1String("fuseblk") ||
                      (fsType == QLatin1String("exfat") && !kernelHasExfat() &&
                       !tool(QStringLiteral("mount.exfat-fuse")).isEmpty());
    if (fuse && fsType == QLatin1String("exfat"))
        return run(QStringLiteral("mount.exfat-fuse"), {facts.device, facts.mountPoint}, error);
    QStringList arguments{QStringLiteral("-t"), fsType};
    if (const QString options = keptOptions(facts); !options.isEmpty())
        arguments << QStringLiteral("-o") << options;
    return run(QStringLiteral("mount"), arguments << facts.device << facts.mountPoint, error);
}

CardFormatter::Outcome DirectCardFormatter::formatDevice(const CardDeviceFacts &facts,
                                                         const QString &label)
{
    Outcome outcome;
    outcome.device = facts.device;
    QString error;
    if (!run(QStringLiteral("umount"), {facts.mountPoint}, &error)) {
        outcome.error = QStringLiteral("卸载 %1 失败：%2").arg(facts.root, error);
        return outcome;
    }
    // mkfs writes to the device whatever holds it: it must be held by nothing now.
    if (const QString mounted = stillMountedAt(facts.dev); !mounted.isEmpty()) {
        outcome.error = QStringLiteral("%1 仍挂载在 %2，未格式化").arg(facts.device, mounted);
        return outcome;
    }
    if (!run(QStringLiteral("mkfs.exfat"), {QStringLiteral("-L"), label, facts.device}, &error)) {
        outcome.error = QStringLiteral("格式化 %1 失败：%2").arg(facts.device, error);
        // The old file system is most likely whole still: give the card back as it was.
        const QString oldType =
            facts.fsType == QLatin1String("fuseblk") ? QStringLiteral("exfat") : facts.fsType;
        QString ignored;
        mountWithTools(facts, oldType, &ignored);
        return outcome;
    }
    if (!mountWithTools(facts, QStringLiteral("exfat"), &error)) {
        outcome.error = QStringLiteral("%1 已格式化，但挂载失败：%2").arg(facts.device, error);
        return outcome;
    }
    outcome.ok = true;
    outcome.mountRoot = facts.mountPoint;
    return outcome;
}
