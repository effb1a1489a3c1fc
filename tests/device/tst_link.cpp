// The link page against the camera simulator: connect, refusals, a silent camera, reconnecting.
#include <QtTest>

#include <QLabel>

#include "airserial.h"
#include "camsimprocess.h"
#include "deviceinfo.h"
#include "downloaddata.h"
#include "mylabel.h"
#include "qnetconfig.h"
#include "v7kapp.h"

class tst_Link : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void refusedNetworks_data();
    void refusedNetworks();
    void connectFillsPanel();
    void transferAndUpgradeKeepLink();
    void silentCameraIsLost();
    void reconnectReusesHandles();
    void settingsWindowHidesOnly();
    void disconnectReleasesHandles();

private:
    void connectWith(const char *ssid);
    bool connected() const { return V7KAPP::instance()->isConnected; }

    CamsimProcess m_camera;
    PromptCatcher m_prompts;
    QNetConfig *m_link = nullptr;
    AkTele *m_tele = nullptr;
    v7k_context *m_device = nullptr;
};

void tst_Link::initTestCase()
{
    QVERIFY(m_camera.start({QStringLiteral("--model"), QStringLiteral("V7K5"),
                            QStringLiteral("--work-mode"), QStringLiteral("2"),
                            QStringLiteral("--time-interval"), QStringLiteral("20"),
                            QStringLiteral("--gps"), QStringLiteral("1"),
                            QStringLiteral("--satellites"), QStringLiteral("11")}));
    qputenv("V7_SHIPPED_DIR", QByteArray(V7_TESTDATA_DIR "/no-update"));
    V7KAPP::instance()->show();
    m_link = QNetConfig::instance();
}

void tst_Link::connectWith(const char *ssid)
{
    qputenv("V7_WIFI_SSID", ssid);
    m_link->onClicked();
}

void tst_Link::refusedNetworks_data()
{
    QTest::addColumn<QByteArray>("ssid");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("lower-case v") << QByteArray("v7x") << QStringLiteral("请连接V7相机的WIFI！");
    QTest::newRow("one letter") << QByteArray("V") << QStringLiteral("请连接V7相机的WIFI！");
    QTest::newRow("not on WiFi") << QByteArray("") << QStringLiteral("未连接WIFI!");
    QTest::newRow("home network") << QByteArray("MyHome") << QStringLiteral("请连接V7相机的WIFI！");
}

void tst_Link::refusedNetworks()
{
    QFETCH(QByteArray, ssid);
    QFETCH(QString, prompt);
    m_prompts.clear();
    connectWith(ssid.constData());
    QCOMPARE(m_prompts.texts(), QStringList{prompt});
    QVERIFY(!connected());
    QCOMPARE(V7KAPP::instance()->cameraConnected, 0);
    QVERIFY(V7KAPP::instance()->panelLabel("label_6")->isHidden());
    QCOMPARE(m_link->stateLabel()->text(), QStringLiteral("未连接"));
    // The library was started and is kept for the next attempt.
    QVERIFY(m_link->teleHandle());
    if (!m_tele)
        m_tele = m_link->teleHandle();
    QCOMPARE(m_link->teleHandle(), m_tele);
}

void tst_Link::connectFillsPanel()
{
    m_prompts.clear();
    connectWith("V7K5-FIELD");
    QVERIFY(m_prompts.texts().isEmpty());
    QVERIFY(connected());
    V7KAPP *main = V7KAPP::instance();
    QCOMPARE(main->cameraConnected, 1);
    QCOMPARE(main->linkKind, 2);
    QCOMPARE(m_link->stateLabel()->text(), QStringLiteral("已连接"));
    QCOMPARE(m_link->networkLabel()->text(), QStringLiteral("V7K5-FIELD"));
    QCOMPARE(m_link->buttonText()->text(), QStringLiteral("断开"));
    QVERIFY(m_link->heartbeatTimer()->isActive());
    QCOMPARE(m_link->heartbeatTimer()->interval(), 5000);
    m_device = m_link->deviceHandle();
    QVERIFY(m_device);

    QTRY_VERIFY_WITH_TIMEOUT(m_device->firmwareMajor != 0, 3000);
    QTRY_VERIFY(QByteArray(m_device->serial).startsWith("V7K5"));
    QTRY_COMPARE(m_device->satellites, 11); // the first status push
    main->onTimeout();
    QVERIFY(!main->panelLabel("label_6")->isHidden());
    QCOMPARE(main->panelLabel("label_18")->text(), QStringLiteral("定时2.00s"));
    QCOMPARE(main->panelLabel("label_7")->text(), QStringLiteral("11"));
    QCOMPARE(main->panelLabel("label_6")->text(), QString::number(m_device->photoCount));
    QTRY_COMPARE(main->posRecordSize, 52); // the device page's status step has run
    QTRY_VERIFY(!m_link->versionTimer()->isActive());
}

void tst_Link::transferAndUpgradeKeepLink()
{
    QVERIFY(connected());
    PosFileManager *manager = V7KAPP::instance()->pages.downloadData->manager();
    QVERIFY(manager);
    QTRY_VERIFY(m_device->receiveCounter > 2);
    m_link->onTimeoutcheck();
    m_camera.toggleSilence();
    QTest::qWait(600);
    const uint32_t standing = m_device->receiveCounter;

    // The status pushes stand still, but a firmware upgrade is running.
    manager->activity = POSFILE_ACTIVITY_UPGRADE;
    for (int i = 0; i < 3; ++i)
        m_link->onTimeoutcheck();
    QVERIFY(connected());
    QCOMPARE(m_device->receiveCounter, standing);

    // A POS transfer keeps the link as long as its byte counter moves.
    manager->activity = POSFILE_ACTIVITY_TRANSFER;
    for (uint32_t bytes : {1024u, 2048u, 8192u}) {
        manager->progress = bytes;
        m_link->onTimeoutcheck();
        QVERIFY(connected());
    }
    QVERIFY(m_prompts.texts().isEmpty());
    manager->activity = POSFILE_ACTIVITY_IDLE;
    manager->progress = 0;
    m_camera.toggleSilence();
    QTRY_VERIFY(m_device->receiveCounter != standing);
}

void tst_Link::silentCameraIsLost()
{
    QVERIFY(connected());
    m_link->onTimeoutcheck();
    QTest::qWait(500);
    m_link->onTimeoutcheck();
    QVERIFY2(connected(), "a camera that talks is kept");

    m_camera.toggleSilence();
    QTest::qWait(600); // frames already under way may still arrive
    m_link->onTimeoutcheck();
    QTest::qWait(600);
    m_link->onTimeoutcheck();
    QCOMPARE(m_prompts.texts(),
             QStringList{QStringLiteral("相机断开 / 请检查相机供电和本地WIFI连接！")});
    V7KAPP *main = V7KAPP::instance();
    QVERIFY(!connected());
    QCOMPARE(main->cameraConnected, 0);
    QCOMPARE(main->linkKind, 0);
    QVERIFY(main->panelLabel("label_6")->isHidden());
    QVERIFY(!main->navigationEntry(1)->isEnabled());
    QCOMPARE(m_link->stateLabel()->text(), QStringLiteral("未连接"));
    QVERIFY(!m_link->heartbeatTimer()->isActive());
    QVERIFY(!main->pages.deviceInfo->statusTimer()->isActive());
    QCOMPARE(m_link->teleHandle(), m_tele);
    QCOMPARE(m_link->deviceHandle(), m_device);
}

void tst_Link::reconnectReusesHandles()
{
    m_camera.toggleSilence();
    m_prompts.clear();
    connectWith("V7K5-FIELD");
    QVERIFY(connected());
    QCOMPARE(m_link->teleHandle(), m_tele);
    QCOMPARE(m_link->deviceHandle(), m_device);
    QCOMPARE(m_device->receiveCounter, 0u);
    QTRY_VERIFY(m_device->receiveCounter > 0);
    m_link->onTimeoutcheck();
    QTest::qWait(400);
    m_link->onTimeoutcheck();
    QVERIFY(connected());
    QVERIFY(m_prompts.texts().isEmpty());
}

void tst_Link::settingsWindowHidesOnly()
{
    V7KAPP *main = V7KAPP::instance();
    QTest::mouseClick(main->networkEntry(), Qt::LeftButton);
    AirSerial *settings = AirSerial::instance(main);
    QVERIFY(settings->isVisible());
    QCOMPARE(settings->size(), QSize(243, 170));
    QCOMPARE(settings->pos(), QPoint(main->x() + main->width() / 3, main->y() + main->height() / 3));
    QVERIFY(m_link->isVisible());
    QCOMPARE(m_link->window(), settings);

    QTest::mouseClick(settings->titleBar()->closeButton(), Qt::LeftButton);
    QVERIFY(!settings->isVisible());
    QVERIFY2(connected(), "closing the window does not disconnect");
    QVERIFY(m_link->heartbeatTimer()->isActive());

    QTest::mouseClick(main->networkEntry(), Qt::LeftButton);
    QCOMPARE(AirSerial::instance(nullptr), settings);
    QVERIFY(settings->isVisible());
    QCOMPARE(m_link->stateLabel()->text(), QStringLiteral("已连接"));
    settings->hide();
}

void tst_Link::disconnectReleasesHandles()
{
    QVERIFY(connected());
    m_link->onClicked();
    QVERIFY(!connected());
    QCOMPARE(m_link->teleHandle(), nullptr);
    QCOMPARE(m_link->deviceHandle(), nullptr);
    QCOMPARE(m_link->buttonText()->text(), QStringLiteral("连接"));
    QCOMPARE(m_link->heartbeat().lastReceiveIndex(), -1);
    QVERIFY(V7KAPP::instance()->panelLabel("label_6")->isHidden());
}

QTEST_MAIN(tst_Link)
#include "tst_link.moc"
