// The UDisks2 backend of the card formatter against a UDisks2 double on a private system bus:
// the calls it makes, their order and options, and what it reports when the service says no.
#include <QtTest>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>

#include "cardformatter.h"

class tst_UDisks2Formatter : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void formatBlock_data();
    void formatBlock();

private:
    QStringList callsSince(qint64 offset) const;

    QProcess m_bus;
    QProcess m_udisks;
    QTemporaryDir m_dir;
    QString m_log;
};

void tst_UDisks2Formatter::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is not installed");
    if (!QFileInfo::exists(QStringLiteral("/usr/lib/python3/dist-packages/dbusmock")))
        QSKIP("python3-dbusmock is not installed");
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address=1")});
    QVERIFY(m_bus.waitForReadyRead(5000));
    const QByteArray address = m_bus.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    // Before the first use of the system bus, so that the formatter talks to ours.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);

    m_log = m_dir.filePath(QStringLiteral("calls.log"));
    m_udisks.setProcessChannelMode(QProcess::ForwardedChannels);
    m_udisks.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                    QStringLiteral("-l"), m_log, QStringLiteral("--template"),
                    QStringLiteral(V7_UDISKS2_DOUBLE)});
    QVERIFY(m_udisks.waitForStarted(5000));
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    QTRY_VERIFY_WITH_TIMEOUT(bus->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2")),
                             10000);
}

void tst_UDisks2Formatter::cleanupTestCase()
{
    for (QProcess *process : {&m_udisks, &m_bus}) {
        process->kill();
        process->waitForFinished();
    }
}

// The double's log lines after offset, without their time stamps.
QStringList tst_UDisks2Formatter::callsSince(qint64 offset) const
{
    QFile file(m_log);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    QStringList calls;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            calls << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
    }
    return calls;
}

void tst_UDisks2Formatter::formatBlock_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("mountRoot"); // empty: the outcome is a failure
    QTest::addColumn<QString>("error");

    const QString resolve = QStringLiteral("ResolveDevice {\"path\": \"%1\"} {}");
    QTest::newRow("unmount, format with the label, mount")
        << "/dev/sdz1" << "Front"
        << QStringList{resolve.arg("/dev/sdz1"), "Unmount {}",
                       "Format \"exfat\" {\"label\": \"Front\"}", "Mount {}"}
        << "/media/crew/Front" << "";
    QTest::newRow("a failed format mounts the old file system again")
        << "/dev/sdy1" << "Back"
        << QStringList{resolve.arg("/dev/sdy1"), "Unmount {}",
                       "Format \"exfat\" {\"label\": \"Back\"}",
                       "Format raised: org.freedesktop.UDisks2.Error.Failed: Error formatting: device is busy", "Mount {}"}
        << "" << "device is busy";
    QTest::newRow("a card that will not unmount is not formatted")
        << "/dev/sdx1" << "Left"
        << QStringList{resolve.arg("/dev/sdx1"), "Unmount {}",
                       "Unmount raised: org.freedesktop.UDisks2.Error.Failed: Error unmounting: target is busy"}
        << "" << "target is busy";
    QTest::newRow("a device the service does not know")
        << "/dev/sdq9" << "Right" << QStringList{resolve.arg("/dev/sdq9")} << "" << "/dev/sdq9";
}

void tst_UDisks2Formatter::formatBlock()
{
    QFETCH(QString, device);
    QFETCH(QString, label);
    QFETCH(QStringList, calls);
    QFETCH(QString, mountRoot);
    QFETCH(QString, error);

    const qint64 before = QFileInfo(m_log).size();
    UDisks2CardFormatter formatter;
    const CardFormatter::Outcome outcome = formatter.formatBlock(device, label);
    QCOMPARE(outcome.ok, !mountRoot.isEmpty());
    QCOMPARE(outcome.mountRoot, mountRoot);
    QCOMPARE(outcome.device, device);
    if (!error.isEmpty())
        QVERIFY2(outcome.error.contains(error), qPrintable(outcome.error));
    QTRY_COMPARE(callsSince(before), calls);
}

QTEST_GUILESS_MAIN(tst_UDisks2Formatter)
#include "tst_udisks2formatter.moc"
