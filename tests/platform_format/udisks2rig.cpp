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
    return !found.isEmpty() ? found : QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"});
}

// Where Debian 12 puts them.
const QString kUdevd = QStringLiteral("/lib/systemd/systemd-udevd");
const QString kUdisksd = QStringLiteral("/usr/libexec/udisks2/udisksd");

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

void endDaemon(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(10000)) {
        process->kill();
        process->waitForFinished();
    }
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

UDisks2Rig::~UDisks2Rig()
{
    stop();
}

// Root, loop devices and the FUSE driver are the card rig's to ask for.
QString UDisks2Rig::unavailableReason()
{
    for (const QString &path :
         {tool("dbus-daemon"), tool("udevadm"), tool("blkid"), kUdevd, kUdisksd}) {
        if (!QFileInfo(path).isExecutable())
            return QStringLiteral("dbus, udev or udisks2 is not installed (no %1)").arg(path);
    }
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
    process->setStandardOutputFile(m_logs.filePath(QFileInfo(program).fileName() + ".log"));
    process->setStandardErrorFile(m_logs.filePath(QFileInfo(program).fileName() + ".log"),
                                  QIODevice::Append);
    process->start(program, arguments);
    return process->waitForStarted();
}

bool UDisks2Rig::start(QString *error)
{
    m_started = true;
    // Rules of a run that was killed: the numbers of its loop devices are anyone's now.
    for (const QFileInfo &rule : QDir(kRules).entryInfoList({"99-v7test-*.rules"}, QDir::Files)) {
        if (!QFileInfo::exists("/proc/" + rule.fileName().section(QLatin1Char('-'), 2, 2)))
            QFile::remove(rule.filePath());
    }
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

    const auto udevdAnswers = [] { return run("udevadm", {"control", "--ping"}); };
    if (!udevdAnswers()) {
        m_ownUdevd = true;
        for (const char *folder : {"/run/udev", "/dev/disk", "/dev/block"}) {
            if (!QFileInfo::exists(folder))
                m_madeFolders << folder;
        }
        if (!startDaemon(&m_udevd, kUdevd, {}) || !QTest::qWaitFor(udevdAnswers, 10000)) {
            *error = QStringLiteral("systemd-udevd did not start");
            return false;
        }
    }
    const auto udisksAnswers = [] {
        return QDBusConnection::systemBus().interface()->isServiceRegistered(
            "org.freedesktop.UDisks2");
    };
    if (!startDaemon(&m_udisksd, kUdisksd, {"--no-sigint"}) ||
        !QTest::qWaitFor(udisksAnswers, 30000)) {
        QFile log(m_logs.filePath("udisksd.log"));
        log.open(QIODevice::ReadOnly);
        *error =
            QStringLiteral("udisksd did not start: %1").arg(QString::fromLocal8Bit(log.readAll()));
        return false;
    }
    return true;
}

bool UDisks2Rig::show(const QString &device, const QString &mountRoot, bool userCard,
                      QString *error)
{
    const QString name = QFileInfo(device).fileName();
    if (userCard) {
        QDir().mkpath(kRules);
        QFile rule(QStringLiteral("%1/99-v7test-%2-%3.rules").arg(kRules).arg(getpid()).arg(name));
        const QByteArray text = "KERNEL==\"" + name.toUtf8() + "\", ENV{UDISKS_SYSTEM}=\"0\"\n";
        m_rules << rule.fileName();
        if (!rule.open(QIODevice::WriteOnly) || rule.write(text) != text.size()) {
            *error = QStringLiteral("cannot write %1").arg(rule.fileName());
            return false;
        }
        rule.close();
        if (!run("udevadm", {"control", "--reload"}, error))
            return false;
    }
    if (!run("udevadm", {"trigger", "--action=add", device}, error) ||
        !run("udevadm", {"settle", "--timeout=30"}, error))
        return false;
    // The service unmounts only what it has seen mounted.
    const bool seen = QTest::qWaitFor(
        [&] {
            const QVariant system =
                blockProperty(device, "org.freedesktop.UDisks2.Block", "HintSystem");
            const auto mounts = qdbus_cast<QByteArrayList>(
                blockProperty(device, "org.freedesktop.UDisks2.Filesystem", "MountPoints"));
            return system.isValid() && system.toBool() == !userCard &&
                   mounts.contains(mountRoot.toUtf8() + '\0');
        },
        30000);
    if (!seen)
        *error = QStringLiteral("UDisks2 did not see %1 mounted at %2").arg(device, mountRoot);
    return seen;
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

void UDisks2Rig::stop()
{
    if (!m_started)
        return;
    m_started = false;
    for (const QString &rule : std::as_const(m_rules))
        QFile::remove(rule);
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
