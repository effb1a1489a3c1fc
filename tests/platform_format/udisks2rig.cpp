#include "udisks2rig.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "mountinfo.h"

namespace {

const QString kRules = QStringLiteral("/run/udev/rules.d");

QString tool(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return !found.isEmpty() ? found
                            : QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"});
}

QString firstExisting(const QStringList &paths)
{
    for (const QString &path : paths) {
        if (QFileInfo(path).isExecutable())
            return path;
    }
    return QString();
}

QString udevd()
{
    return firstExisting({"/lib/systemd/systemd-udevd", "/usr/lib/systemd/systemd-udevd"});
}

QString udisksd()
{
    return firstExisting({"/usr/libexec/udisks2/udisksd", "/usr/lib/udisks2/udisksd"});
}

bool run(const QString &program, const QStringList &arguments, QString *error = nullptr,
         QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool(program), arguments);
    const bool ok = process.waitForFinished(60000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QString text = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (output)
        *output = text;
    if (!ok && error)
        *error = QStringLiteral("%1 %2: %3").arg(program, arguments.join(QLatin1Char(' ')), text);
    return ok;
}

QList<MountInfoEntry> mountTable()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    return file.open(QIODevice::ReadOnly) ? MountInfo::parse(file.readAll())
                                          : QList<MountInfoEntry>();
}

bool mountedAt(const QString &folder)
{
    for (const MountInfoEntry &entry : mountTable()) {
        if (entry.mountPoint == folder)
            return true;
    }
    return false;
}

QVariant blockProperty(const QString &device, const QString &interface, const QString &name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.UDisks2", "/org/freedesktop/UDisks2/Manager",
        "org.freedesktop.UDisks2.Manager", "ResolveDevice");
    call.setArguments({QVariantMap{{"path", device}}, QVariantMap()});
    const QDBusMessage resolved = QDBusConnection::systemBus().call(call);
    const auto objects = resolved.arguments().isEmpty()
                             ? QList<QDBusObjectPath>()
                             : qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().first());
    if (objects.isEmpty())
        return QVariant();
    call = QDBusMessage::createMethodCall("org.freedesktop.UDisks2", objects.first().path(),
                                          "org.freedesktop.DBus.Properties", "Get");
    call.setArguments({interface, name});
    const QDBusMessage reply = QDBusConnection::systemBus().call(call);
    return reply.arguments().isEmpty()
               ? QVariant()
               : qdbus_cast<QDBusVariant>(reply.arguments().first()).variant();
}

} // namespace

UDisks2Rig::UDisks2Rig()
{
    QDir(m_work.path()).mkpath(QStringLiteral("media"));
}

UDisks2Rig::~UDisks2Rig()
{
    stop();
}

QString UDisks2Rig::unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("the UDisks2 daemon, loop devices and mounts need root; this test "
                              "runs as uid %1").arg(::geteuid());
    for (const char *name : {"dbus-daemon", "udevadm", "losetup", "mkfs.exfat", "mount.exfat-fuse",
                             "umount", "blkid"}) {
        if (tool(name).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QLatin1String(name));
    }
    if (udevd().isEmpty() || udisksd().isEmpty())
        return QStringLiteral("systemd-udevd or udisksd is not installed (udev, udisks2)");
    if (!QFile::exists("/dev/fuse") || !QFile::exists("/dev/loop-control"))
        return QStringLiteral("no /dev/fuse or /dev/loop-control here");
    // Two daemons would share their state in /run/udisks2 and each clean up after the other.
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "udisksd")
            return QStringLiteral("a udisksd runs here already (process %1)").arg(pid);
    }
    return QString();
}

bool UDisks2Rig::startDaemon(QProcess *process, const QString &program,
                             const QStringList &arguments)
{
    // A daemon of a test that dies goes with it.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->setStandardOutputFile(m_work.filePath(QFileInfo(program).fileName() + ".log"));
    process->setStandardErrorFile(m_work.filePath(QFileInfo(program).fileName() + ".log"),
                                  QIODevice::Append);
    process->start(program, arguments);
    return process->waitForStarted();
}

bool UDisks2Rig::start(QString *error)
{
    m_started = true;
    if (!QFileInfo::exists(kRules))
        m_madeFolders << kRules;
    for (const char *folder : {"/media/root", "/media", "/run/udisks2"}) {
        if (!QFileInfo::exists(folder))
            m_madeFolders << folder;
    }
    // A bus of its own: the test and udisksd meet there and no system bus is disturbed.
    m_bus.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_bus.start(tool("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!m_bus.waitForReadyRead(10000)) {
        *error = QStringLiteral("dbus-daemon gave no address");
        return false;
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.readLine().trimmed());

    if (!run("udevadm", {"control", "--ping"})) {
        m_ownUdevd = true;
        for (const char *folder : {"/run/udev", "/dev/disk", "/dev/block"}) {
            if (!QFileInfo::exists(folder))
                m_madeFolders << folder;
        }
        if (!startDaemon(&m_udevd, udevd(), {}) ||
            !QTest::qWaitFor([] { return run("udevadm", {"control", "--ping"}); }, 10000)) {
            *error = QStringLiteral("systemd-udevd did not start");
            return false;
        }
    }
    if (!startDaemon(&m_udisksd, udisksd(), {"--no-sigint"}) ||
        !QTest::qWaitFor([] {
            return QDBusConnection::systemBus().interface()->isServiceRegistered(
                "org.freedesktop.UDisks2");
        }, 30000)) {
        QFile log(m_work.filePath("udisksd.log"));
        log.open(QIODevice::ReadOnly);
        *error = QStringLiteral("udisksd did not start: %1").arg(QString::fromLocal8Bit(log.readAll()));
        return false;
    }
    return true;
}

QString UDisks2Rig::plug(const QString &label, bool userCard, QString *error)
{
    Card card;
    const int n = int(m_cards.size());
    card.image = m_work.filePath(QStringLiteral("card%1.img").arg(n));
    card.mountRoot = m_work.filePath(QStringLiteral("media/card%1").arg(n));
    QFile image(card.image);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(32 << 20)) {
        *error = QStringLiteral("cannot make %1").arg(card.image);
        return QString();
    }
    image.close();
    if (!run("mkfs.exfat", {"-L", label, card.image}, error) ||
        !run("losetup", {"--find", "--show", card.image}, error, &card.device))
        return QString();
    m_cards.append(card);
    Card &plugged = m_cards.last();
    if (userCard) {
        plugged.rule = QStringLiteral("%1/99-v7test-%2-%3.rules")
                           .arg(kRules).arg(::getpid()).arg(QFileInfo(plugged.device).fileName());
        QDir().mkpath(kRules);
        QFile rule(plugged.rule);
        if (!rule.open(QIODevice::WriteOnly) ||
            rule.write(QStringLiteral("KERNEL==\"%1\", ENV{UDISKS_SYSTEM}=\"0\"\n")
                           .arg(QFileInfo(plugged.device).fileName())
                           .toUtf8()) <= 0) {
            *error = QStringLiteral("cannot write %1").arg(plugged.rule);
            return QString();
        }
        rule.close();
        if (!run("udevadm", {"control", "--reload"}, error))
            return QString();
    }
    if (!run("udevadm", {"trigger", "--action=add", plugged.device}, error) ||
        !run("udevadm", {"settle", "--timeout=30"}, error) || !QDir().mkpath(plugged.mountRoot) ||
        !run("mount.exfat-fuse", {plugged.device, plugged.mountRoot}, error) ||
        !QDir(plugged.mountRoot).mkpath("AVF_INFO/101"))
        return QString();
    // The service unmounts only what it has seen mounted, and tells a system device by udev's
    // word: both reach it a little later.
    const bool seen = QTest::qWaitFor([&] {
        const QVariant system = blockProperty(plugged.device, "org.freedesktop.UDisks2.Block",
                                              "HintSystem");
        const auto mounts = qdbus_cast<QByteArrayList>(blockProperty(
            plugged.device, "org.freedesktop.UDisks2.Filesystem", "MountPoints"));
        return system.isValid() && system.toBool() == !userCard &&
               mounts.contains(plugged.mountRoot.toUtf8() + '\0');
    }, 30000);
    if (!seen) {
        *error = QStringLiteral("UDisks2 did not see %1 mounted").arg(plugged.device);
        return QString();
    }
    return plugged.mountRoot;
}

QString UDisks2Rig::deviceOf(const QString &mountRoot) const
{
    for (const Card &card : m_cards) {
        if (card.mountRoot == mountRoot)
            return card.device;
    }
    return QString();
}

bool UDisks2Rig::detachWhenFree(const QString &mountRoot)
{
    return run("losetup", {"-d", deviceOf(mountRoot)});
}

QStringList UDisks2Rig::mountPointsOf(const QString &device)
{
    QStringList points;
    for (const MountInfoEntry &entry : mountTable()) {
        if (entry.source == device)
            points << entry.mountPoint;
    }
    return points;
}

QString UDisks2Rig::labelOf(const QString &device)
{
    QString label;
    run("blkid", {"-p", "-s", "LABEL", "-o", "value", device}, nullptr, &label);
    return label;
}

// By the image, not the device's name: a device detached early may be someone else's by now.
void UDisks2Rig::takeAway(Card *card)
{
    QString attached;
    run("losetup", {"--list", "--noheadings", "--output", "NAME", "--associated", card->image},
        nullptr, &attached);
    for (const QString &device : attached.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        for (const QString &point : mountPointsOf(device.trimmed()))
            run("umount", {"-l", point});
        run("losetup", {"-d", device.trimmed()});
    }
    for (int tries = 0; tries < 5 && mountedAt(card->mountRoot); ++tries)
        run("umount", {"-l", card->mountRoot});
    if (!card->rule.isEmpty())
        QFile::remove(card->rule);
}

void UDisks2Rig::endDaemon(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(10000)) {
        process->kill();
        process->waitForFinished();
    }
}

void UDisks2Rig::stop()
{
    if (!m_started)
        return;
    m_started = false;
    for (Card &card : m_cards)
        takeAway(&card);
    if (run("udevadm", {"control", "--ping"})) {
        run("udevadm", {"control", "--reload"});
        run("udevadm", {"settle", "--timeout=30"});
    }
    endDaemon(&m_udisksd);
    endDaemon(&m_udevd);
    endDaemon(&m_bus);
    // What the daemons made where nothing was. Where a folder may hold what is not the rig's
    // (a mount of someone else's, the rules of a udevd that was there before), only if empty.
    for (const QString &folder : std::as_const(m_madeFolders)) {
        if (folder == QLatin1String("/run/udisks2") ||
            (m_ownUdevd && !folder.startsWith(QLatin1String("/media")) && folder != kRules))
            QDir(folder).removeRecursively();
        else
            QDir().rmdir(folder);
    }
}
