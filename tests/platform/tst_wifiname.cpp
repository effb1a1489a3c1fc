// The WiFi name against a NetworkManager double on a private system bus, and the override.
#include <QtTest>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QProcess>

#include "wifiname.h"

class tst_WifiName : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void override_data();
    void override();
    void networkManager();

private:
    bool startNetworkManagerDouble();
    QString mockCall(const char *method, const QVariantList &arguments);

    QProcess m_bus;
    QProcess m_manager;
};

void tst_WifiName::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is not installed");
    m_bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    QVERIFY(m_bus.waitForReadyRead(5000));
    const QByteArray address = m_bus.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    // Before the first use of the system bus, so that the library connects to ours.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
}

void tst_WifiName::cleanupTestCase()
{
    for (QProcess *process : {&m_manager, &m_bus}) {
        process->kill();
        process->waitForFinished();
    }
}

void tst_WifiName::override_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("camera network") << QStringLiteral("V7K5-0042");
    QTest::newRow("not on WiFi") << QString();
}

void tst_WifiName::override()
{
    QFETCH(QString, value);
    qputenv("V7_WIFI_SSID", value.toUtf8());
    const WifiName::Result result = WifiName::query();
    qunsetenv("V7_WIFI_SSID");
    QCOMPARE(result.status, 0);
    QCOMPARE(result.ssid, value);
}

bool tst_WifiName::startNetworkManagerDouble()
{
    m_manager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_manager.start(QStringLiteral("/usr/bin/python3"),
                    {"-m", "dbusmock", "--system", "--template", "networkmanager"});
    if (!m_manager.waitForStarted(5000))
        return false;
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    return QTest::qWaitFor(
        [bus] { return bus->isServiceRegistered(QStringLiteral("org.freedesktop.NetworkManager")); },
        10000);
}

QString tst_WifiName::mockCall(const char *method, const QVariantList &arguments)
{
    QDBusInterface mock(QStringLiteral("org.freedesktop.NetworkManager"),
                        QStringLiteral("/org/freedesktop/NetworkManager"),
                        QStringLiteral("org.freedesktop.DBus.Mock"),
                        QDBusConnection::systemBus());
    const QDBusMessage reply = mock.callWithArgumentList(QDBus::Block, QString::fromLatin1(method),
                                                         arguments);
    if (reply.type() == QDBusMessage::ErrorMessage)
        qWarning() << method << reply.errorMessage();
    return reply.arguments().value(0).toString();
}

void tst_WifiName::networkManager()
{
    QVERIFY2(WifiName::fromNetworkManager().status != 0,
             "with no NetworkManager on the bus the backend must say it cannot tell");

    if (!QFileInfo::exists(QStringLiteral("/usr/lib/python3/dist-packages/dbusmock")))
        QSKIP("python3-dbusmock is not installed");
    QVERIFY(startNetworkManagerDouble());

    WifiName::Result result = WifiName::fromNetworkManager();
    QCOMPARE(result.status, 0);
    QCOMPARE(result.ssid, QString());

    // A WiFi link that is active but not the primary connection (a cable is plugged in too).
    const QString device = mockCall("AddWiFiDevice", {QStringLiteral("mock_Wifi1"),
                                                      QStringLiteral("wlan0"), 100});
    auto addActive = [&](int n, const QString &ssid) {
        const QString tag = QString::number(n);
        const QString ap = mockCall("AddAccessPoint",
                                    {device, "Mock_AP" + tag, ssid, "00:23:F8:7E:12:B" + tag, 2u,
                                     2425u, 5400u, QVariant::fromValue(uchar(82)), 0x100u});
        const QString connection =
            mockCall("AddWiFiConnection", {device, "Mock_Con" + tag, ssid, "wpa-psk"});
        return mockCall("AddActiveConnection",
                        {QStringList{device}, connection, ap, "Mock_Active" + tag, 2u});
    };
    QVERIFY(!addActive(1, QStringLiteral("V7K5-0042")).isEmpty());
    result = WifiName::fromNetworkManager();
    QCOMPARE(result.status, 0);
    QCOMPARE(result.ssid, QStringLiteral("V7K5-0042"));

    // The primary connection is asked first.
    const QString active2 = addActive(2, QStringLiteral("MyHome"));
    // The double does not carry the property until it is added.
    mockCall("AddProperty", {"org.freedesktop.NetworkManager", "PrimaryConnection",
                             QVariant::fromValue(QDBusVariant(
                                 QVariant::fromValue(QDBusObjectPath(active2))))});
    QCOMPARE(WifiName::fromNetworkManager().ssid, QStringLiteral("MyHome"));
    QCOMPARE(WifiName::query().ssid, QStringLiteral("MyHome"));
}

QTEST_GUILESS_MAIN(tst_WifiName)
#include "tst_wifiname.moc"
