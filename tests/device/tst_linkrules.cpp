// The link page's rules: which WiFi names connect, and when the heartbeat gives the camera up.
#include <QtTest>

#include "linkrules.h"
#include "posfile.h"

using Network = LinkRules::Network;
using Verdict = LinkHeartbeat::Verdict;
Q_DECLARE_METATYPE(Network)

class tst_LinkRules : public QObject
{
    Q_OBJECT
private slots:
    void network_data();
    void network();
    void heartbeat();
    void transferKeepsLinkWhileBytesMove();
    void upgradeNeverLosesLink();
};

void tst_LinkRules::network_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("ssid");
    QTest::addColumn<Network>("expected");
    QTest::newRow("camera") << 0 << "V7K5-0042" << Network::Camera;
    QTest::newRow("just V7") << 0 << "V7" << Network::Camera;
    QTest::newRow("V7 and anything") << 0 << "V7 x" << Network::Camera;
    QTest::newRow("lower-case v") << 0 << "v7x" << Network::NotCamera;
    QTest::newRow("one character") << 0 << "V" << Network::NotCamera;
    QTest::newRow("home") << 0 << "MyHome" << Network::NotCamera;
    QTest::newRow("empty") << 0 << "" << Network::NotOnWifi;
    QTest::newRow("empty, source failed") << -1 << "" << Network::NotOnWifi;
    QTest::newRow("source failed with a name") << 3 << "MyHome" << Network::Unconfirmed;
}

void tst_LinkRules::network()
{
    QFETCH(int, status);
    QFETCH(QString, ssid);
    QFETCH(Network, expected);
    QCOMPARE(LinkRules::classify(status, ssid), expected);
}

void tst_LinkRules::heartbeat()
{
    LinkHeartbeat beat;
    LinkHeartbeat::Reading reading;
    reading.activity = POSFILE_ACTIVITY_IDLE;

    reading.receiveIndex = 0; // a fresh connect sets the counter to 0; -1 was remembered
    QVERIFY(beat.check(reading) == Verdict::Alive);
    beat.remember(0);
    QVERIFY(beat.check(reading) == Verdict::Lost);

    reading.receiveIndex = 57;
    QVERIFY(beat.check(reading) == Verdict::Alive);
    beat.remember(57);
    reading.activity = -1; // no POS manager yet
    QVERIFY(beat.check(reading) == Verdict::Lost);

    beat.reset();
    QCOMPARE(beat.lastReceiveIndex(), -1);
    QVERIFY(beat.check(reading) == Verdict::Alive);
}

void tst_LinkRules::transferKeepsLinkWhileBytesMove()
{
    LinkHeartbeat beat;
    beat.remember(100);
    LinkHeartbeat::Reading reading;
    reading.receiveIndex = 100; // the status pushes stopped...
    reading.activity = POSFILE_ACTIVITY_TRANSFER;
    reading.transferProgress = 4096; // ...but file bytes still arrive
    QVERIFY(beat.check(reading) == Verdict::KeptForTransfer);
    QCOMPARE(beat.lastTransferAmount(), 4096);
    reading.transferProgress = 9000;
    QVERIFY(beat.check(reading) == Verdict::KeptForTransfer);
    QVERIFY(beat.check(reading) == Verdict::LostInTransfer);
    QCOMPARE(beat.lastTransferAmount(), 0);
}

void tst_LinkRules::upgradeNeverLosesLink()
{
    LinkHeartbeat beat;
    beat.remember(7);
    LinkHeartbeat::Reading reading;
    reading.receiveIndex = 7;
    reading.activity = POSFILE_ACTIVITY_UPGRADE;
    for (int i = 0; i < 50; ++i)
        QVERIFY(beat.check(reading) == Verdict::KeptForUpgrade);
    reading.upgradeWindow = true;
    reading.upgradeProgress = 40;
    QVERIFY(beat.check(reading) == Verdict::KeptForUpgrade);
    QCOMPARE(beat.lastUpgradeProgress(), 40);
}

QTEST_APPLESS_MAIN(tst_LinkRules)
#include "tst_linkrules.moc"
