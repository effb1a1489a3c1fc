// The camera link and its page against the camera simulator: connect, refusals, what the panel
// shows after a connect, a silent camera, a camera taken by another program, reconnecting to the
// same or to another camera. Then the rules on their own: which WiFi names connect, and when the
// heartbeat gives the camera up.
#include <QtTest>

#include <QLabel>

#include "airserial.h"
#include "cameralink.h"
#include "camsimprocess.h"
#include "deviceinfo.h"
#include "linklock.h"
#include "linkrules.h"
#include "mylabel.h"
#include "qnetconfig.h"
#include "testtools.h"
#include "v7kapp.h"

namespace {
QImage resourceImage(const char *name)
{
    return QPixmap(QStringLiteral(":/V7KAPP/res/") + QString::fromUtf8(name)).toImage();
}
} // namespace

using Network = LinkRules::Network;
using Verdict = LinkHeartbeat::Verdict;
Q_DECLARE_METATYPE(Network)

class tst_Link : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void refusedNetworks_data();
    void refusedNetworks();
    void panelShowsOnlyWhatTheCameraReports();
    void silentCamera();
    void anotherProgramThenAnotherCamera();
    void settingsWindowHidesOnlyButtonDisconnects();
    void network_data();
    void network();
    void heartbeat();

private:
    void connectWith(const char *ssid);
    // Until the camera has sent at least one frame since the call.
    void waitForFrame()
    {
        const uint32_t before = v7k_get_index(m_device);
        QTRY_VERIFY(v7k_get_index(m_device) != before);
    }
    QString panel(const char *name) const { return m_main->panelLabel(name)->text(); }

    CamsimProcess m_camera;
    PromptCatcher m_prompts;
    QTemporaryDir m_shipped;
    CameraLink *m_link = CameraLink::instance();
    V7KAPP *m_main = nullptr;
    QNetConfig *m_page = nullptr;
    AkTele *m_tele = nullptr;
    v7k_context *m_device = nullptr;
};

void tst_Link::initTestCase()
{
    QVERIFY(m_camera.start({"--model", "V7K5", "--work-mode", "2", "--time-interval", "20", "--gps",
                            "1", "--satellites", "11", "--self-test", "2"}));
    // The shipped firmware is 4.41: the first camera has it, the one met later does not.
    QVERIFY(writeFile(m_shipped.filePath(QStringLiteral("UpdateConfig.xml")),
                      "<config><filename value=\"V7K5_4.41.bin\"/><num value=\"4.41\"/></config>\n"));
    qputenv("V7_SHIPPED_DIR", QFile::encodeName(m_shipped.path()));
    m_main = V7KAPP::instance();
    m_main->show();
    m_page = QNetConfig::instance();
}

void tst_Link::connectWith(const char *ssid)
{
    qputenv("V7_WIFI_SSID", ssid);
    QSignalSpy settled(m_link, &CameraLink::connected);
    QSignalSpy refused(m_link, &CameraLink::connectRefused);
    m_page->onClicked();
    // The network name is learnt off the GUI thread.
    QTRY_VERIFY(settled.count() + refused.count() == 1);
}

// One network of each verdict (which names are which is network's table).
void tst_Link::refusedNetworks_data()
{
    QTest::addColumn<QByteArray>("ssid");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("not on WiFi") << QByteArray("") << QStringLiteral("未连接WIFI!");
    QTest::newRow("home network") << QByteArray("MyHome") << QStringLiteral("请连接V7相机的WIFI！");
    // Another link of this computer holds the camera: its program and process are named.
    QTest::newRow("camera held") << QByteArray("V7K5-FIELD")
                                 << QStringLiteral("相机正被tst_link（进程%1）使用，请先关闭它！");
}

void tst_Link::refusedNetworks()
{
    QFETCH(QByteArray, ssid);
    QFETCH(QString, prompt);
    LinkLock other;
    if (prompt.contains(QLatin1String("%1"))) {
        QCOMPARE(other.acquire(), LinkLock::Acquired);
        prompt = prompt.arg(QCoreApplication::applicationPid());
    }
    m_prompts.clear();
    connectWith(ssid.constData());
    QTRY_COMPARE(m_prompts.texts(), QStringList{prompt});
    QVERIFY(!m_link->isConnected());
    QCOMPARE(m_link->cameraConnected(), 0);
    QVERIFY(m_main->panelLabel("label_6")->isHidden());
    QCOMPARE(m_page->stateLabel()->text(), QStringLiteral("未连接"));
    // The library was started and is kept for the next attempt.
    QVERIFY(m_link->teleHandle());
    if (!m_tele)
        m_tele = m_link->teleHandle();
    QCOMPARE(m_link->teleHandle(), m_tele);
}

// Sampled at every refresh from the connect on: the panel never claims a fault that the camera
// does not report, and the self-test text goes once the camera is done.
void tst_Link::panelShowsOnlyWhatTheCameraReports()
{
    QStringList faultTexts;
    QStringList gpsTexts;
    auto sample = connect(m_link, &CameraLink::statusRefreshed, this, [&] {
        faultTexts << panel("label_19");
        gpsTexts << panel("label_12");
    });
    m_prompts.clear();
    connectWith("V7K5-FIELD");
    QVERIFY(m_prompts.texts().isEmpty());
    QVERIFY(m_link->isConnected());
    QCOMPARE(m_link->cameraConnected(), 1);
    QCOMPARE(m_link->linkKind(), 2);
    QCOMPARE(m_page->stateLabel()->text(), QStringLiteral("已连接"));
    QCOMPARE(m_page->networkLabel()->text(), QStringLiteral("V7K5-FIELD"));
    QCOMPARE(m_page->buttonText()->text(), QStringLiteral("断开"));
    m_device = m_link->deviceHandle();
    QVERIFY(m_device);
    QVERIFY(m_link->posManager());

    QTRY_COMPARE_WITH_TIMEOUT(panel("label_19"), QString(), 8000);
    QTRY_VERIFY(faultTexts.size() > 4);
    disconnect(sample);
    faultTexts.removeDuplicates();
    gpsTexts.removeDuplicates();
    QCOMPARE(faultTexts, (QStringList{QStringLiteral("          设备自检中"), QString()}));
    QCOMPARE(gpsTexts, QStringList{QString()});
    QVERIFY(!m_main->panelLabel("label_6")->isHidden());
    QCOMPARE(panel("label_18"), QStringLiteral("定时2.00s"));
    QCOMPARE(panel("label_7"), QStringLiteral("11"));
    QCOMPARE(m_link->posRecordSize(), 52);
    QVERIFY(m_link->serialText().startsWith("V7K5"));
    QCOMPARE(m_link->firmwareVersionText(), QStringLiteral("4.41"));
    QTRY_VERIFY(!m_link->versionTimer()->isActive());
    QCOMPARE(m_main->pages.deviceInfo->buildDateLabel()->text(), QStringLiteral("2019-03-28"));
}

// The camera falls silent while a firmware upgrade or a POS transfer runs: a beat that finds no
// new frame keeps the link for them (the rules' own cases are below).
void tst_Link::silentCamera()
{
    QVERIFY(m_link->isConnected());
    PosFileManager *manager = m_link->posManager();
    QVERIFY(manager);
    const auto beatWithoutFrame = [this] {
        const int remembered = m_link->heartbeat().lastReceiveIndex();
        m_link->onTimeoutcheck();
        return !m_link->isConnected() || int(v7k_get_index(m_device)) == remembered;
    };
    manager->activity = POSFILE_ACTIVITY_UPGRADE;
    QVERIFY(m_camera.toggleSilence(true));
    QTRY_VERIFY(beatWithoutFrame());
    QVERIFY(m_link->isConnected());
    manager->activity = POSFILE_ACTIVITY_TRANSFER;
    manager->progress = 4096;
    QVERIFY(beatWithoutFrame());
    QVERIFY(m_link->isConnected());
    QVERIFY(m_prompts.texts().isEmpty());
    manager->activity = POSFILE_ACTIVITY_IDLE;
    manager->progress = 0;
    QVERIFY(m_camera.toggleSilence(false));
    waitForFrame();

    // Talking, it is kept; silent with nothing running, it is lost, and reconnected once it talks.
    m_link->onTimeoutcheck();
    waitForFrame();
    m_link->onTimeoutcheck();
    QVERIFY2(m_link->isConnected(), "a camera that talks is kept");

    // What the operator sees behind the box, at the moment it opens.
    QStringList atLoss;
    connect(m_link, &CameraLink::linkLost, this, [&] {
        atLoss << m_page->stateLabel()->text()
               << QString::number(m_main->panelLabel("label_6")->isHidden())
               << QString::number(m_prompts.texts().size());
    }, Qt::SingleShotConnection);
    QVERIFY(m_camera.toggleSilence(true));
    // Frames already under way may still arrive: the link goes at the first beat that finds none.
    QTRY_VERIFY((m_link->onTimeoutcheck(), !m_link->isConnected()));
    QTRY_COMPARE(atLoss,
                 (QStringList{QStringLiteral("未连接"), QStringLiteral("1"), QStringLiteral("0")}));
    QTRY_COMPARE(m_prompts.texts(),
                 QStringList{QStringLiteral("相机断开 / 请检查相机供电和本地WIFI连接！")});
    QVERIFY(!m_link->isConnected());
    QCOMPARE(m_link->cameraConnected(), 0);
    QCOMPARE(m_link->posManager(), nullptr);
    QVERIFY(!m_main->navigationEntry(1)->isEnabled());
    QVERIFY(!m_link->heartbeatTimer()->isActive());
    QVERIFY(!m_main->pages.deviceInfo->statusTimer()->isActive());
    QCOMPARE(m_page->buttonImage()->pixmap().toImage(), resourceImage("btn_nor.png"));
    QCOMPARE(m_link->teleHandle(), m_tele);
    QCOMPARE(m_link->deviceHandle(), m_device);

    // Talking again, the camera is reconnected on the handles kept through the loss.
    QVERIFY(m_camera.toggleSilence(false));
    m_prompts.clear();
    connectWith("V7K5-FIELD");
    QVERIFY(m_link->isConnected());
    QCOMPARE(m_link->teleHandle(), m_tele);
    QCOMPARE(m_link->deviceHandle(), m_device);
    QTRY_VERIFY(m_link->identityKnown());
    // The library's receive thread is prepared for crash dumps like the program's own.
    QStringList threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly))
            threads << QString::fromUtf8(comm.readAll().trimmed());
    }
    QVERIFY2(threads.contains(QStringLiteral("camera link")), qPrintable(threads.join(u',')));
    // The POS page's transfer on the handles kept through the loss.
    QVERIFY(m_link->posManager());
    QCOMPARE(posfile_info_request(m_link->posManager(), 1), 0);
    m_link->onTimeoutcheck();
    waitForFrame();
    m_link->onTimeoutcheck();
    QVERIFY(m_link->isConnected());
    QVERIFY(m_prompts.texts().isEmpty());
}

// A program that ignores the lock (another state folder) takes the camera's status away: the
// window names it instead of blaming power or WiFi.
void tst_Link::anotherProgramThenAnotherCamera()
{
    QTRY_VERIFY(!m_link->versionTimer()->isActive()); // the window asks nothing any more
    QTemporaryDir elsewhere;
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("V7_STATE_DIR"), elsewhere.path());
    tool.setProcessEnvironment(env);
    tool.start(V7_TOOL, {"status", "--watch", "--seconds", "60"});
    QTRY_VERIFY_WITH_TIMEOUT(tool.canReadLine(), 10000);
    m_prompts.clear();
    QTRY_VERIFY((m_link->onTimeoutcheck(), !m_link->isConnected()));
    QTRY_COMPARE(m_prompts.texts(),
                 QStringList{QStringLiteral("相机被其他程序占用 / v7tool（进程%1）正在使用相机，"
                                            "关闭它后再连接！").arg(tool.processId())});
    tool.kill();
    QVERIFY(tool.waitForFinished());
    m_prompts.clear();
    connectWith("V7K5-FIELD");
    QVERIFY(m_link->isConnected());
    QTRY_VERIFY(!m_link->versionTimer()->isActive());

    // Lost, then back as another camera on the same address: every connect reads it all again.
    QVERIFY(m_camera.restart({"--model", "V7K3", "--serial", "V7K3SECOND", "--firmware", "4.40",
                              "--build-date", "2026-10-01"}));
    // The restart is long enough to count as a loss.
    QTRY_VERIFY((m_link->onTimeoutcheck(), !m_link->isConnected()));
    QTRY_VERIFY(!m_prompts.texts().isEmpty());
    m_prompts.clear();

    connectWith("V7K3-FIELD");
    DeviceInfo *page = m_main->pages.deviceInfo;
    QTRY_COMPARE_WITH_TIMEOUT(m_prompts.texts(),
                              QStringList{QStringLiteral("当前固件版本是4.40,是否升级？")}, 5000);
    QCOMPARE(page->serialLabel()->text(), QStringLiteral("V7K3SECOND"));
    QCOMPARE(page->versionLabel()->text(), QStringLiteral("V4.40"));
    QTRY_COMPARE(page->buildDateLabel()->text(), QStringLiteral("2026-10-01"));
    QCOMPARE(m_link->posRecordSize(), 32);
}

void tst_Link::settingsWindowHidesOnlyButtonDisconnects()
{
    QTest::mouseClick(m_main->networkEntry(), Qt::LeftButton);
    AirSerial *settings = AirSerial::instance(m_main);
    QVERIFY(settings->isVisible());
    QCOMPARE(settings->pos(),
             QPoint(m_main->x() + m_main->width() / 3, m_main->y() + m_main->height() / 3));
    QCOMPARE(m_page->window(), settings);

    QTest::mouseClick(settings->titleBar()->closeButton(), Qt::LeftButton);
    QVERIFY(!settings->isVisible());
    QVERIFY2(m_link->isConnected(), "closing the window does not disconnect");
    QVERIFY(m_link->heartbeatTimer()->isActive());

    QTest::mouseClick(m_main->networkEntry(), Qt::LeftButton);
    QCOMPARE(AirSerial::instance(nullptr), settings);
    QVERIFY(settings->isVisible());
    QCOMPARE(m_page->stateLabel()->text(), QStringLiteral("已连接"));
    // The device page offering newer firmware: the window steps aside for its question.
    emit m_main->findChild<DeviceInfo *>()->upgradeOffered();
    QVERIFY(!settings->isVisible());

    // The page's button disconnects and releases the handles.
    m_page->onClicked();
    QVERIFY(!m_link->isConnected());
    QCOMPARE(m_link->teleHandle(), nullptr);
    QCOMPARE(m_link->deviceHandle(), nullptr);
    QCOMPARE(m_link->posManager(), nullptr);
    QCOMPARE(m_page->buttonText()->text(), QStringLiteral("连接"));
    // The same look as when the window first opened.
    QCOMPARE(m_page->buttonImage()->pixmap().toImage(), resourceImage("btn_nor.png"));
    QCOMPARE(m_link->heartbeat().lastReceiveIndex(), -1);
    QVERIFY(m_main->panelLabel("label_6")->isHidden());
    m_link->onTimeoutcheck(); // a beat still queued finds nothing to read
}

void tst_Link::network_data()
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

void tst_Link::network()
{
    QFETCH(int, status);
    QFETCH(QString, ssid);
    QFETCH(Network, expected);
    QCOMPARE(LinkRules::classify(status, ssid), expected);
}

// One heartbeat through its rules, a beat per step: what it remembered before the beat (-1:
// nothing new), the reading the beat finds, and what it decides and keeps for the next beat.
void tst_Link::heartbeat()
{
    struct Step
    {
        int remember;
        LinkHeartbeat::Reading reading;
        Verdict verdict;
        int transferAmount;
        int upgradeProgress;
    };
    const Step steps[] = {
        // A fresh connect sets the counter to 0; -1 was remembered.
        {-1, {0, POSFILE_ACTIVITY_IDLE}, Verdict::Alive, 0, 0},
        {0, {0, POSFILE_ACTIVITY_IDLE}, Verdict::Lost, 0, 0},
        {-1, {57, POSFILE_ACTIVITY_IDLE}, Verdict::Alive, 0, 0},
        {57, {57, -1}, Verdict::Lost, 0, 0}, // no POS manager yet
        // The status pushes stopped, but file bytes still arrive.
        {100, {100, POSFILE_ACTIVITY_TRANSFER, 4096}, Verdict::KeptForTransfer, 4096, 0},
        {-1, {100, POSFILE_ACTIVITY_TRANSFER, 9000}, Verdict::KeptForTransfer, 9000, 0},
        {-1, {100, POSFILE_ACTIVITY_TRANSFER, 9000}, Verdict::LostInTransfer, 0, 0},
        {7, {7, POSFILE_ACTIVITY_UPGRADE}, Verdict::KeptForUpgrade, 0, 0},
        {-1, {7, POSFILE_ACTIVITY_UPGRADE, 0, true, 40}, Verdict::KeptForUpgrade, 0, 40},
    };
    LinkHeartbeat beat;
    for (const Step &step : steps) {
        if (step.remember >= 0)
            beat.remember(uint32_t(step.remember));
        QVERIFY(beat.check(step.reading) == step.verdict);
        QCOMPARE(beat.lastTransferAmount(), step.transferAmount);
        QCOMPARE(beat.lastUpgradeProgress(), step.upgradeProgress);
    }
    // However long an upgrade keeps the camera quiet.
    for (int i = 0; i < 50; ++i)
        QVERIFY(beat.check({7, POSFILE_ACTIVITY_UPGRADE}) == Verdict::KeptForUpgrade);
    beat.reset();
    QCOMPARE(beat.lastReceiveIndex(), -1);
    QVERIFY(beat.check({7, -1}) == Verdict::Alive);
}

QTEST_MAIN(tst_Link)
#include "tst_link.moc"
