// The card formatter's UDisks2 backend against the real daemon, on exFAT cards on loop devices
// (root only): what the service does where the double only answers as told. The daemon runs on
// a bus of its own, with a udev daemon started only where none runs; whatever the test started
// or wrote, it takes away again, and it tells the service about no device but its own cards.
#include <QtTest>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "cardformatter.h"
#include "cardrig.h"
#include "testtools.h"

namespace {

enum Before { Nothing, HoldAFile, PullDuringUnmount };

const QString kRules = QStringLiteral("/run/udev/rules.d");
// Where Debian 12 puts them.
const QString kUdevd = QStringLiteral("/lib/systemd/systemd-udevd");
const QString kUdisksd = QStringLiteral("/usr/libexec/udisks2/udisksd");

bool run(const QString &program, const QStringList &arguments, QString *error = nullptr,
         QString *output = nullptr)
{
    const ToolRun run = runTool(program, arguments, {}, 60000);
    const QString text = QString::fromLocal8Bit(run.out + run.err).trimmed();
    if (output)
        *output = text;
    if (run.exitCode != 0 && error)
        *error = QStringLiteral("%1 %2: %3").arg(program, arguments.join(QLatin1Char(' ')), text);
    return run.exitCode == 0;
}

// Through findmnt, not the program's own reading of the mount table.
QStringList mountPointsOf(const QString &device)
{
    QString points;
    run("findmnt", {"-rn", "-o", "TARGET", "-S", device}, nullptr, &points);
    return points.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Through blkid, not the service: what is on the device now.
QString labelOf(const QString &device)
{
    QString label;
    run("blkid", {"-p", "-s", "LABEL", "-o", "value", device}, nullptr, &label);
    return label;
}

QVariant blockProperty(const QString &device, const QString &interface, const QString &name)
{
    const QString service = QStringLiteral("org.freedesktop.UDisks2");
    QDBusInterface manager(service, "/org/freedesktop/UDisks2/Manager", service + ".Manager",
                           QDBusConnection::systemBus());
    const QDBusReply<QList<QDBusObjectPath>> objects =
        manager.call("ResolveDevice", QVariantMap{{"path", device}}, QVariantMap());
    if (!objects.isValid() || objects.value().isEmpty())
        return QVariant();
    QDBusInterface properties(service, objects.value().first().path(),
                              "org.freedesktop.DBus.Properties", QDBusConnection::systemBus());
    const QDBusReply<QDBusVariant> reply = properties.call("Get", interface, name);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

} // namespace

class tst_UDisks2Loop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void format_data();
    void format();
    void cleanupTestCase();

private:
    void show(const QString &device, const QString &mountRoot, bool userCard);

    std::unique_ptr<CardRig> m_cards; // gone before the daemons, which see the devices go
    QTemporaryDir m_logs;
    QProcess m_bus, m_udevd, m_udisksd;
    QStringList m_rules;
    QStringList m_madeFolders; // what did not exist before the test goes with it
    bool m_started = false;
    bool m_ownUdevd = false;
};

void tst_UDisks2Loop::initTestCase()
{
    if (const QString reason = CardRig::unavailableReason(CardRig::Loop); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    // Root, loop devices and the FUSE driver are the card rig's to ask for.
    for (const QString &tool : QStringList{"dbus-daemon", "udevadm", "blkid", kUdevd, kUdisksd}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable("dbus, udev or udisks2 is not installed (no " + tool + ")"));
    }
    // Two daemons would share their state in /run/udisks2 and each clean up after the other.
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (fileBytes("/proc/" + pid + "/comm").trimmed() == "udisksd")
            QSKIP(qPrintable("a udisksd runs here already (process " + pid + ")"));
    }
    m_cards = std::make_unique<CardRig>(CardRig::Loop);
    m_started = true;
    // Rules of a run that was killed: the numbers of its loop devices are anyone's now.
    for (const QFileInfo &rule : QDir(kRules).entryInfoList({"99-v7test-*.rules"}, QDir::Files)) {
        if (!QFileInfo::exists("/proc/" + rule.fileName().section(QLatin1Char('-'), 2, 2)))
            QFile::remove(rule.filePath());
    }
    for (const QString &folder : {kRules, QStringLiteral("/media/root"), QStringLiteral("/media"),
                                  QStringLiteral("/run/udisks2")}) {
        if (!QFileInfo::exists(folder))
            m_madeFolders << folder;
    }
    // A bus of its own: the test and udisksd meet there and no system bus is disturbed. This sets
    // DBUS_SYSTEM_BUS_ADDRESS before the first use of the system bus.
    m_bus.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    QVERIFY2(m_bus.waitForReadyRead(10000), "dbus-daemon gave no address");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.readLine().trimmed());

    const auto startDaemon = [this](QProcess *process, const QString &program,
                                    const QStringList &arguments) {
        // A daemon of a test that dies goes with it.
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        const QString log = m_logs.filePath(QFileInfo(program).fileName() + ".log");
        process->setStandardOutputFile(log);
        process->setStandardErrorFile(log, QIODevice::Append);
        process->start(program, arguments);
        return process->waitForStarted();
    };
    const auto udevdAnswers = [] { return run("udevadm", {"control", "--ping"}); };
    if (!udevdAnswers()) {
        m_ownUdevd = true;
        for (const char *folder : {"/run/udev", "/dev/disk", "/dev/block"}) {
            if (!QFileInfo::exists(folder))
                m_madeFolders << folder;
        }
        QVERIFY2(startDaemon(&m_udevd, kUdevd, {}) && QTest::qWaitFor(udevdAnswers, 10000),
                 "systemd-udevd did not start");
    }
    const auto udisksAnswers = [] {
        return QDBusConnection::systemBus().interface()->isServiceRegistered(
            "org.freedesktop.UDisks2");
    };
    QVERIFY2(startDaemon(&m_udisksd, kUdisksd, {"--no-sigint"}) &&
                 QTest::qWaitFor(udisksAnswers, 30000),
             ("udisksd did not start: " + fileBytes(m_logs.filePath("udisksd.log"))).constData());
}

// Every loop device is a system device to the service: a user's card gets a udev rule that
// says otherwise. Returns once the service sees the device so, mounted at mountRoot.
void tst_UDisks2Loop::show(const QString &device, const QString &mountRoot, bool userCard)
{
    const QString name = QFileInfo(device).fileName();
    const QString rule =
        QStringLiteral("%1/99-v7test-%2-%3.rules").arg(kRules).arg(getpid()).arg(name);
    if (userCard) {
        m_rules << rule;
        QVERIFY(writeFile(rule, "KERNEL==\"" + name.toUtf8() + "\", ENV{UDISKS_SYSTEM}=\"0\"\n"));
    }
    QString error;
    QVERIFY2(run("udevadm", {"control", "--reload"}, &error), qPrintable(error));
    QVERIFY2(run("udevadm", {"trigger", "--action=add", device}, &error) &&
                 run("udevadm", {"settle", "--timeout=30"}, &error),
             qPrintable(error));
    // The service unmounts only what it has seen mounted.
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     const QVariant system =
                         blockProperty(device, "org.freedesktop.UDisks2.Block", "HintSystem");
                     const auto mounts = qdbus_cast<QByteArrayList>(blockProperty(
                         device, "org.freedesktop.UDisks2.Filesystem", "MountPoints"));
                     return system.isValid() && system.toBool() == !userCard &&
                            mounts.contains(mountRoot.toUtf8() + '\0');
                 },
                 30000),
             qPrintable("UDisks2 did not see " + device + " mounted at " + mountRoot));
}

void tst_UDisks2Loop::format_data()
{
    QTest::addColumn<bool>("userCard"); // false: the service counts it as the system's own
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("error"); // a part of it; empty = formatted

    QTest::newRow("unmounted, formatted with the camera's label, mounted again")
        << true << int(Nothing) << "";
    QTest::newRow("a card with a file open is not formatted") << true << int(HoldAFile) << "卸载";
    QTest::newRow("a device the service counts as the system's")
        << false << int(Nothing) << "系统设备";
    QTest::newRow("a card pulled during the unmount")
        << true << int(PullDuringUnmount) << "格式化 /dev/loop";
}

void tst_UDisks2Loop::format()
{
    QFETCH(bool, userCard);
    QFETCH(int, before);
    QFETCH(QString, error);
    QString why;
    const QString root = m_cards->plug(QStringLiteral("OLD"), &why);
    const QString device = m_cards->deviceOf(root);
    QVERIFY2(!root.isEmpty() && QDir(root).mkpath("AVF_INFO/101"), qPrintable(why));
    show(device, root, userCard);
    if (QTest::currentTestFailed())
        return;
    QFile held(root + QStringLiteral("/AVF_INFO/101/held.jpg"));
    if (before == HoldAFile)
        QVERIFY(held.open(QIODevice::WriteOnly));
    if (before == PullDuringUnmount)
        QVERIFY(m_cards->detachWhenFree(root));

    const CardFormatter::Outcome outcome = UDisks2CardFormatter().format(root, "Center");
    held.close();
    QCOMPARE(outcome.device, device);
    QVERIFY2(error.isEmpty() ? outcome.ok : outcome.error.contains(error),
             qPrintable(outcome.error));
    QCOMPARE(outcome.ok, error.isEmpty());
    if (before == PullDuringUnmount) {
        // The device is no longer the rig's to look at; nothing is mounted on the card's folder.
        QVERIFY(QStorageInfo(root).rootPath() != root);
        return;
    }
    if (outcome.ok) {
        QCOMPARE(labelOf(device), QStringLiteral("Center"));
        // Without the kernel's exFAT the service cannot mount it: as root the backend mounts it
        // with the FUSE driver on its old folder.
        const bool kernelExfat = fileBytes("/proc/filesystems").contains("\texfat\n");
        QCOMPARE(outcome.mountRoot, kernelExfat ? QStringLiteral("/media/root/Center") : root);
        QCOMPARE(mountPointsOf(device), QStringList{outcome.mountRoot});
        QVERIFY(QDir(outcome.mountRoot).isEmpty());
        QVERIFY(QDir(outcome.mountRoot).mkdir(QStringLiteral("AVF_INFO")));
        if (outcome.mountRoot != root) // the rig unmounts its own folders only
            QCOMPARE(QProcess::execute("umount", {outcome.mountRoot}), 0);
    } else {
        QCOMPARE(labelOf(device), QStringLiteral("OLD"));
        QCOMPARE(mountPointsOf(device), QStringList{root});
        QVERIFY(QFileInfo(root + QStringLiteral("/AVF_INFO/101")).isDir());
    }
}

void tst_UDisks2Loop::cleanupTestCase()
{
    m_cards.reset();
    if (!m_started)
        return;
    for (const QString &rule : std::as_const(m_rules))
        QFile::remove(rule);
    if (run("udevadm", {"control", "--ping"})) {
        run("udevadm", {"control", "--reload"});
        run("udevadm", {"settle", "--timeout=30"});
    }
    for (QProcess *process : {&m_udisksd, &m_udevd, &m_bus}) {
        process->terminate();
        if (!process->waitForFinished(10000)) {
            process->kill();
            process->waitForFinished();
        }
    }
    // What the daemons made where nothing was. Where a folder may hold what is not the test's
    // (a mount of someone else's, the rules of a udevd that was there before), only if empty.
    for (const QString &folder : std::as_const(m_madeFolders)) {
        if (folder == QLatin1String("/run/udisks2") ||
            (m_ownUdevd && !folder.startsWith(QLatin1String("/media")) && folder != kRules))
            QDir(folder).removeRecursively();
        else
            QDir().rmdir(folder);
    }
}

QTEST_GUILESS_MAIN(tst_UDisks2Loop)
#include "tst_udisks2_loop.moc"
