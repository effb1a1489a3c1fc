// The card formatter: the rule that keeps it off anything but a camera card, on made-up
// systems, and its UDisks2 backend against a UDisks2 double (dbusmock) on a private bus: the
// calls it makes, their order and options, and what it reports when the service says no.
#include <QtTest>

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <sys/sysmacros.h>

#include "cardformatter.h"
#include "cardrefusal.h"
#include "testtools.h"

Q_DECLARE_METATYPE(CardDeviceFacts)

namespace {

const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const quint64 kCard = ::makedev(8, 17); // sdb1, the card
const quint64 kCardDisk = ::makedev(8, 16);
const quint64 kSibling = ::makedev(8, 18); // sdb2
const quint64 kSystem = ::makedev(8, 2);   // sda2

// A desktop with its system on sda and a camera card sdb1 mounted at /media/crew/Front.
CardDeviceFacts desktop()
{
    CardDeviceFacts f;
    f.root = f.mountPoint = QStringLiteral("/media/crew/Front");
    f.exists = f.mounted = f.avfInfo = true;
    f.device = QStringLiteral("/dev/sdb1");
    f.fsType = QStringLiteral("exfat");
    f.dev = kCard;
    f.mounts = {{kSystem, "/dev/sda2", "/"}, {::makedev(8, 1), "/dev/sda1", "/boot/efi"},
                {kCard, f.device, f.root}};
    f.relatives = {kCardDisk};
    return f;
}

} // namespace

class tst_CardFormat : public QObject
{
    Q_OBJECT
private slots:
    void refusal_data();
    void refusal();
    void udisks2_data();
    void udisks2();
    void cleanupTestCase();

private:
    QProcess m_bus;
    QProcess m_udisks;
    QTemporaryDir m_dir;
};

void tst_CardFormat::refusal_data()
{
    QTest::addColumn<CardDeviceFacts>("facts");
    QTest::addColumn<QString>("reason"); // a part of it; empty = may be formatted

    QTest::newRow("a camera card alone on its disk") << desktop() << "";
    CardDeviceFacts f = desktop();
    f.exists = false;
    QTest::newRow("no such folder") << f << "不存在";
    f = desktop();
    f.mounted = false;
    QTest::newRow("a folder that is not a mount point") << f << "不是挂载点";
    f = desktop();
    f.dev = 0;
    f.device = QStringLiteral("tmpfs");
    QTest::newRow("a mount of no block device") << f << "不是块设备";
    f = desktop();
    f.mounts.append({kCard, f.device, "/home"});
    QTest::newRow("the card's device also backs /home") << f << "承载系统目录 /home";
    f = desktop();
    f.relatives = {kCardDisk, kSystem};
    QTest::newRow("a partition of the system disk") << f << "与系统目录 / 在同一磁盘上";
    f = desktop();
    f.relatives = {kCardDisk, ::makedev(253, 0)};
    f.mounts.append({::makedev(253, 0), "/dev/mapper/vg-var", "/var"});
    QTest::newRow("system mounted from a mapper over the disk") << f << "与系统目录 /var";
    f = desktop();
    f.swaps = {{kCard, f.device, QString()}};
    QTest::newRow("the device is swap") << f << "是交换分区";
    f = desktop();
    f.relatives = {kCardDisk, kSibling};
    f.swaps = {{kSibling, "/dev/sdb2", QString()}};
    QTest::newRow("swap on the card's disk") << f << "交换分区 /dev/sdb2";
    f.swaps.clear();
    QTest::newRow("an unmounted second partition") << f << "";
    f.mounts.append({kSibling, "/dev/sdb2", "/media/crew/DATA"});
    QTest::newRow("a second mounted partition") << f << "还挂载着 /dev/sdb2（/media/crew/DATA）";
    f = desktop();
    f.mounts.append({kCard, f.device, "/srv/photos"});
    QTest::newRow("the card mounted twice") << f << "还挂载在 /srv/photos";
    f = desktop();
    f.avfInfo = false;
    QTest::newRow("no AVF_INFO folder") << f << "没有 AVF_INFO";
    f.mounts.append({kCard, f.device, "/"});
    QTest::newRow("the system wins over the missing folder") << f << "承载系统目录 /";
}

void tst_CardFormat::refusal()
{
    QFETCH(CardDeviceFacts, facts);
    QFETCH(QString, reason);
    const QString answer = CardRefusal::reason(facts);
    QVERIFY2(reason.isEmpty() ? answer.isEmpty() : answer.contains(reason), qPrintable(answer));
}

void tst_CardFormat::udisks2_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("mountRoot"); // empty: the outcome is a failure
    QTest::addColumn<QString>("error");

    const QString resolve = QStringLiteral("ResolveDevice {\"path\": \"/dev/%1\"} {}");
    // Resolved, then asked whether it is the system's (the double's Get reads its GetAll).
    const auto asked = [&](const QString &name) {
        const QString block = "/org/freedesktop/UDisks2/block_devices/" + name;
        return QStringList{resolve.arg(name), "Get " + block + " " + kBlock + ".HintSystem",
                           "GetAll " + block + " " + kBlock};
    };
    const QString failed = QStringLiteral(" raised: org.freedesktop.UDisks2.Error.Failed: Error ");
    QTest::newRow("unmount, format with the label, mount")
        << "/dev/sdz1" << "Front"
        << asked("sdz1") + QStringList{"Unmount {}", "Format \"exfat\" {\"label\": \"Front\"}",
                                       "Mount {}"}
        << "/media/crew/Front" << "";
    QTest::newRow("a failed format mounts the old file system again")
        << "/dev/sdy1" << "Back"
        << asked("sdy1") + QStringList{"Unmount {}", "Format \"exfat\" {\"label\": \"Back\"}",
                                       "Format" + failed + "formatting: device is busy",
                                       "Mount {}"}
        << "" << "device is busy";
    QTest::newRow("a card that will not unmount is not formatted")
        << "/dev/sdx1" << "Left"
        << asked("sdx1") +
               QStringList{"Unmount {}", "Unmount" + failed + "unmounting: target is busy"}
        << "" << "target is busy";
    QTest::newRow("a device the service does not know")
        << "/dev/sdq9" << "Right" << QStringList{resolve.arg("sdq9")} << "" << "/dev/sdq9";
    QTest::newRow("a device the service counts as the system's is not touched")
        << "/dev/sda3" << "Top" << asked("sda3") << "" << "系统设备";
    QTest::newRow("nor one the service says nothing about")
        << "/dev/sdw1" << "Top" << asked("sdw1") << "" << "没有答复";
}

void tst_CardFormat::udisks2()
{
    QFETCH(QString, device);
    QFETCH(QString, label);
    QFETCH(QStringList, calls);
    QFETCH(QString, mountRoot);
    QFETCH(QString, error);
    const QString log = m_dir.filePath(QStringLiteral("calls.log"));
    if (m_bus.state() == QProcess::NotRunning) { // once, before the first use of the system bus
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty() ||
            !QFileInfo::exists(QStringLiteral("/usr/lib/python3/dist-packages/dbusmock")))
            QSKIP("dbus-daemon or python3-dbusmock is not installed");
        m_bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        QVERIFY(m_bus.waitForReadyRead(5000));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.readLine().trimmed());
        m_udisks.setProcessChannelMode(QProcess::ForwardedChannels);
        m_udisks.start(QStringLiteral("/usr/bin/python3"), {"-m", "dbusmock", "--system", "-l", log,
                                                            "--template", V7_UDISKS2_DOUBLE});
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::systemBus().interface()->isServiceRegistered(
                                     QStringLiteral("org.freedesktop.UDisks2")),
                                 10000);
    }
    const qint64 before = QFileInfo(log).size();
    const CardFormatter::Outcome outcome = UDisks2CardFormatter().formatBlock(device, label);
    QCOMPARE(outcome.ok, !mountRoot.isEmpty());
    QCOMPARE(outcome.mountRoot, mountRoot);
    QCOMPARE(outcome.device, device);
    QVERIFY2(outcome.error.contains(error), qPrintable(outcome.error));
    // The double's log lines since, without their time stamps.
    const auto logged = [&] {
        QStringList lines;
        for (const QByteArray &line : fileBytes(log).mid(before).split('\n'))
            if (!line.isEmpty())
                lines << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        return lines;
    };
    QTRY_COMPARE(logged(), calls);
}

void tst_CardFormat::cleanupTestCase()
{
    for (QProcess *process : {&m_udisks, &m_bus}) {
        process->kill();
        process->waitForFinished();
    }
}

QTEST_GUILESS_MAIN(tst_CardFormat)
#include "tst_cardformat.moc"
