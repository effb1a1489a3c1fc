// The main window: start state, navigation, connection states, the tick's decisions on device
// contexts alone and its wiring to the panel.
#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>

#include "cameralink.h"
#include "camsimprocess.h"
#include "checkv7thread.h"
#include "downloaddata.h"
#include "mylabel.h"
#include "statustick.h"
#include "v7kapp.h"

namespace {
const char *const kPanelChildren[] = {"label_13", "label_17", "label_15", "label_14", "label_16",
                                      "label_19", "label_12", "label_9",  "label_18", "label_10",
                                      "label_6",  "label_11", "label_7"};

QImage resourceImage(const char *name)
{
    return QPixmap(QStringLiteral(":/V7KAPP/res/") + QString::fromUtf8(name)).toImage();
}

QImage shown(const QLabel *label)
{
    return label->pixmap().toImage();
}

using Icon = StatusView::Icon;
using Icons = std::array<Icon, StatusView::SlotCount>;

v7k_context makeContext(quint8 major, quint8 minor, quint8 cameraState, quint8 selfTest)
{
    v7k_context context{};
    context.firmwareMajor = major;
    context.firmwareMinor = minor;
    context.cameraState = cameraState;
    context.selfTest = selfTest;
    context.state = V7K_STATE_GPS_GOOD;
    context.satellites = 12;
    return context;
}

Icons icons(const char *pattern) // one letter per slot 13,17,15,14,16: G good, F fault, - unchanged
{
    Icons result{};
    for (int i = 0; i < StatusView::SlotCount; ++i)
        result[i] = pattern[i] == 'G' ? Icon::Good : pattern[i] == 'F' ? Icon::Fault : Icon::Unchanged;
    return result;
}
} // namespace

Q_DECLARE_METATYPE(Icons)
Q_DECLARE_METATYPE(std::optional<QString>)

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void cameraHealth_data();
    void cameraHealth();
    void strategy_data();
    void strategy();
    void gps_data();
    void gps();
    void counts();
    void startState();
    void tick();
    void navigation();
    void posEntryLayout_data();
    void posEntryLayout();
    void cardCheck_data();
    void cardCheck();

private:
    V7KAPP *w = V7KAPP::instance();
    CameraLink *link = CameraLink::instance();
};

void tst_MainWindow::cameraHealth_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("cameraState");
    QTest::addColumn<int>("selfTest");
    QTest::addColumn<std::optional<QString>>("faultText");
    QTest::addColumn<Icons>("icons");

    using Text = std::optional<QString>;
    const Text keep, blank = QString(), allFaulty = QStringLiteral("5个相机全部故障，请检查");
    // Current firmware: a set bit is a good camera.
    QTest::newRow("current, all good") << 4 << 41 << 31 << 1 << blank << icons("GGGGG");
    QTest::newRow("current, all faulty") << 4 << 41 << 0 << 1 << allFaulty << icons("FFFFF");
    QTest::newRow("current, 1 and 3 faulty")
        << 4 << 45 << 0b11010 << 1 << Text(QStringLiteral("1号、3号相机故障，请检查")) << icons("FGFGG");
    QTest::newRow("major 5 is not the current generation")
        << 5 << 0 << 0 << 1 << blank << icons("GGGGG");
    QTest::newRow("current, self-testing")
        << 4 << 41 << 0 << 0 << Text(QStringLiteral("          设备自检中")) << icons("-----");
    QTest::newRow("current, self-test done keeps text")
        << 4 << 41 << 0b01111 << 2 << keep << icons("GGGGF");
    // Earlier firmware: a set bit is a fault, and bit 0 is the right camera's icon.
    QTest::newRow("earlier, all set") << 4 << 40 << 31 << 1 << allFaulty << icons("FFFFF");
    QTest::newRow("earlier, none set") << 3 << 31 << 0 << 0 << blank << icons("GGGGG");
    QTest::newRow("earlier, bits 0 and 4")
        << 3 << 31 << 0b10001 << 2 << Text(QStringLiteral("1号、5号相机故障，请检查")) << icons("GFGGF");
    const Text third = QStringLiteral("3号相机故障，请检查");
    QTest::newRow("earlier, bit 2 is the front icon") << 4 << 0 << 0b00100 << 1 << third
                                                      << icons("FGGGG");
    QTest::newRow("version unknown leaves icons") << 0 << 0 << 0b00100 << 1 << third
                                                  << icons("-----");
}

void tst_MainWindow::cameraHealth()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, cameraState);
    QFETCH(int, selfTest);
    QFETCH(std::optional<QString>, faultText);
    QFETCH(Icons, icons);

    const v7k_context context = makeContext(quint8(major), quint8(minor), quint8(cameraState),
                                            quint8(selfTest));
    const StatusView view = StatusTick::evaluate(context);
    QCOMPARE(view.faultText, faultText);
    QCOMPARE(view.icons, icons);
}

void tst_MainWindow::strategy_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("timeInterval");
    QTest::addColumn<int>("distanceInterval");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");

    // The other modes' texts reach the panel in the strategy page's test.
    const QString capture = QStringLiteral("采集策略：");
    QTest::newRow("debug") << 1 << 0 << 0 << QStringLiteral("调试模式") << QStringLiteral("当前策略：");
    QTest::newRow("timed 2 s") << 2 << 20 << 0 << QStringLiteral("定时2.00s") << capture;
    QTest::newRow("distance 123.4 m") << 3 << 0 << 1234 << QStringLiteral("定距123.4m") << capture;
    QTest::newRow("distance, largest")
        << 3 << 0 << 65535 << QStringLiteral("定距6553.5m") << capture;
    QTest::newRow("unknown") << 9 << 20 << 500 << QString() << capture;
    QTest::newRow("none yet") << 0 << 0 << 0 << QString() << capture;
}

void tst_MainWindow::strategy()
{
    QFETCH(int, mode);
    QFETCH(int, timeInterval);
    QFETCH(int, distanceInterval);
    QFETCH(QString, text);
    QFETCH(QString, caption);

    v7k_context context = makeContext(4, 41, 31, 2);
    context.workParam.mode = quint8(mode);
    context.workParam.timeInterval = quint16(timeInterval);
    context.workParam.distanceInterval = quint16(distanceInterval);
    const StatusView view = StatusTick::evaluate(context);
    QCOMPARE(view.strategyText, text);
    QCOMPARE(view.strategyCaption, caption);
}

void tst_MainWindow::gps_data()
{
    QTest::addColumn<bool>("gpsGood");
    QTest::addColumn<int>("satellites");
    QTest::addColumn<std::optional<QString>>("text");

    const std::optional<QString> notLocated = QStringLiteral("GPS未定位");
    const std::optional<QString> hardware = QStringLiteral("GPS硬件故障");
    QTest::newRow("good, 3 satellites") << true << 3 << notLocated;
    QTest::newRow("good, 4 satellites keeps text") << true << 4 << std::optional<QString>();
    QTest::newRow("hardware fault") << false << 0 << hardware;
    QTest::newRow("hardware fault wins over satellites") << false << 12 << hardware;
}

void tst_MainWindow::gps()
{
    QFETCH(bool, gpsGood);
    QFETCH(int, satellites);
    QFETCH(std::optional<QString>, text);

    v7k_context context = makeContext(4, 41, 31, 1);
    context.state = gpsGood ? V7K_STATE_GPS_GOOD | V7K_STATE_NEW_POS : V7K_STATE_NEW_POS;
    context.satellites = satellites;
    QCOMPARE(StatusTick::evaluate(context).gpsText, text);
}

void tst_MainWindow::counts()
{
    v7k_context context = makeContext(4, 41, 0x1b, 2);
    context.photoCount = 4000000000u;
    context.satellites = -1;
    const quint16 photos[5] = {10, 11, 9, 10, 12};
    std::memcpy(context.cameraPhotos, photos, sizeof photos);

    const StatusView view = StatusTick::evaluate(context);
    QCOMPARE(view.photoCount, QStringLiteral("4000000000"));
    QCOMPARE(view.satellites, QStringLiteral("-1"));
    QCOMPARE(view.triggerCount, 4000000000u);
    QCOMPARE(view.cameraPhotos, (std::array<quint16, 5>{10, 11, 9, 10, 12}));
    QCOMPARE(view.cameraGood, (std::array<bool, 5>{true, true, false, true, true}));
}

void tst_MainWindow::startState()
{
    for (const char *name : {"deviceInfo_selected.png", "yingxiangnor.png", "new duan.png",
                             "wifi.png", "smallCamera_yellow.png", "largeCamera_white.png"})
        QVERIFY2(!resourceImage(name).isNull(), name); // else the image comparisons below say nothing
    QCOMPARE(w->windowTitle(), QStringLiteral("V7KAPP"));
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(w->contentArea()->isHidden());
    QCOMPARE(w->contentArea()->count(), 6);
    QCOMPARE(shown(w->navigationEntry(0)), resourceImage("deviceInfo_selected.png"));
    QCOMPARE(shown(w->navigationEntry(4)), resourceImage("yingxiangnor.png"));
    QVERIFY(link->tickTimer()->isActive());
    // At the start, connected, then disconnected: the window starts as it is after a disconnect.
    v7k_context context{};
    for (int step = 0; step < 3; ++step) {
        const bool connected = step == 1;
        if (step > 0)
            connected ? w->showConnectedState() : w->showDisconnectedState();
        if (connected)
            QVERIFY(!w->contentArea()->isHidden() && w->contentArea()->currentIndex() == 0);
        for (const char *name : kPanelChildren) {
            QVERIFY2(w->panelLabel(name), name);
            QCOMPARE(w->panelLabel(name)->isHidden(), !connected);
        }
        QCOMPARE(w->navigationEntry(1)->isEnabled(), connected);
        QVERIFY(w->navigationEntry(3)->isEnabled());
        QCOMPARE(shown(w->networkEntry()), resourceImage(connected ? "wifi.png" : "new duan.png"));
        // Hovering the network entry lights up the link state's icon; leaving restores it.
        link->setDeviceHandleForTesting(connected ? &context : nullptr);
        w->onenterEvent();
        QCOMPARE(shown(w->networkEntry()),
                 resourceImage(connected ? "wifi-xuan.png" : "net duan xuan.png"));
        w->onleaveEvent();
        QCOMPARE(shown(w->networkEntry()), resourceImage(connected ? "wifi.png" : "new duan.png"));
    }
}

void tst_MainWindow::tick()
{
    // No device, or a device whose first status has not arrived: the panel keeps what it shows.
    v7k_context noStatus = makeContext(4, 41, 0, 0);
    for (v7k_context *device : {static_cast<v7k_context *>(nullptr), &noStatus}) {
        link->setDeviceHandleForTesting(device);
        if (device)
            --noStatus.statusCount; // back to the count of the connect: no status since
        for (const char *name : {"label_18", "label_6", "label_7", "label_12", "label_19"})
            w->panelLabel(name)->setText(QStringLiteral("unchanged"));
        const QImage icon = shown(w->panelLabel("label_13"));
        link->onTick();
        for (const char *name : {"label_18", "label_6", "label_7", "label_12", "label_19"})
            QCOMPARE(w->panelLabel(name)->text(), QStringLiteral("unchanged"));
        QCOMPARE(shown(w->panelLabel("label_13")), icon);
    }

    // A device with statuses: the tick's decisions reach the panel.
    v7k_context context = makeContext(4, 41, 0b11110, 1); // camera 1 (front) faulty
    context.satellites = 2;
    context.photoCount = 137;
    link->setDeviceHandleForTesting(&context);

    QSignalSpy loaded(link, &CameraLink::workParamsArrived);
    QSignalSpy refreshed(link, &CameraLink::statusRefreshed);
    link->onTick();
    QCOMPARE(loaded.count(), 0); // no work parameters yet
    context.workParam.mode = 2;
    context.workParam.timeInterval = 30;
    link->onTick();
    link->onTick();
    link->setDeviceHandleForTesting(nullptr);

    QCOMPARE(w->panelLabel("label_18")->text(), QStringLiteral("定时3.00s"));
    QCOMPARE(w->panelLabel("label_9")->text(), QStringLiteral("采集策略："));
    QCOMPARE(w->panelLabel("label_6")->text(), QStringLiteral("137"));
    QCOMPARE(w->panelLabel("label_7")->text(), QStringLiteral("2"));
    QCOMPARE(w->panelLabel("label_12")->text(), QStringLiteral("GPS未定位"));
    QCOMPARE(w->panelLabel("label_19")->text(), QStringLiteral("1号相机故障，请检查"));
    QCOMPARE(shown(w->panelLabel("label_13")), resourceImage("smallCamera_yellow.png"));
    QCOMPARE(shown(w->panelLabel("label_16")), resourceImage("largeCamera_white.png"));
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(loaded.first().first().value<WorkParam>().timeInterval, quint16(30));
    QCOMPARE(refreshed.count(), 3);
    QVERIFY(!link->workParamLoadPending());

    w->resetCameraIcons();
    QCOMPARE(shown(w->panelLabel("label_13")), resourceImage("smallCamera_white.png"));
}

void tst_MainWindow::navigation()
{
    const char *const selected[] = {"deviceInfo_selected.png", "configTest_selected.png",
                                    "collectAssistant_selected.png", "possele.png",
                                    "yingxiangsele.png"};
    w->showConnectedState();
    for (int entry : {2, 3, 4, 0}) {
        QTest::mouseClick(w->navigationEntry(entry), Qt::LeftButton);
        QCOMPARE(w->contentArea()->currentIndex(), entry);
        QCOMPARE(shown(w->navigationEntry(entry)), resourceImage(selected[entry]));
        for (int other = 0; other < 5; ++other) {
            if (other != entry)
                QVERIFY(shown(w->navigationEntry(other)) != resourceImage(selected[other]));
        }
    }
    w->showDisconnectedState();
}

void tst_MainWindow::posEntryLayout_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<bool>("fiveLens");
    // One row per record size the window tells apart; which model has which is tst_upgrade's.
    QTest::newRow("five-lens camera, 52-byte records") << QByteArray("V7K52019032801") << true;
    QTest::newRow("three-lens camera, 32-byte records") << QByteArray("V7K32019032801") << false;
    QTest::newRow("no model read") << QByteArray() << false;
}

void tst_MainWindow::posEntryLayout()
{
    QFETCH(QByteArray, serial);
    QFETCH(bool, fiveLens);
    DownloadData *page = w->pages.downloadData;
    v7k_context context{};
    qstrncpy(context.serial, serial.constData(), sizeof context.serial);
    if (!serial.isEmpty())
        link->setDeviceHandleForTesting(&context);
    // The opposite layout first, so that the click has something to change.
    page->setFiveLensLayout(!fiveLens);
    QTest::mouseClick(w->navigationEntry(3), Qt::LeftButton);
    QCOMPARE(w->contentArea()->currentIndex(), 3);
    QCOMPARE(page->fiveLensLayout(), fiveLens);
    QCOMPARE(!page->independentBox()->isHidden(), fiveLens);
    QCOMPARE(!page->noteLabel()->isHidden(), fiveLens);
    link->setDeviceHandleForTesting(nullptr);
}

void tst_MainWindow::cardCheck_data()
{
    QTest::addColumn<QStringList>("paths"); // "card" = a real folder, "gone" = a missing one
    QTest::addColumn<bool>("present");
    QTest::newRow("no cards") << QStringList(5, QString()) << false;
    QTest::newRow("one card") << QStringList{QString(), QString(), QStringLiteral("card"),
                                             QString(), QString()}
                              << true;
    QTest::newRow("card path gone") << QStringList{QStringLiteral("gone"), QString(), QString(),
                                                   QString(), QString()}
                                    << true;
}

void tst_MainWindow::cardCheck()
{
    QFETCH(QStringList, paths);
    QFETCH(bool, present);
    QTemporaryDir card;
    for (QString &path : paths) {
        if (path == QLatin1String("card"))
            path = card.path();
        else if (path == QLatin1String("gone"))
            path = card.filePath(QStringLiteral("missing"));
    }

    CheckV7Thread check(paths);
    QSignalSpy storage(&check, &CheckV7Thread::cardStorage);
    QSignalSpy upgrade(&check, &CheckV7Thread::upgrade);
    QSignalSpy popui(&check, &CheckV7Thread::popui);
    check.start();
    QVERIFY(check.wait(10000));

    QCOMPARE(storage.count(), 5);
    for (const QList<QVariant> &figures : std::as_const(storage)) {
        const QString path = paths.at(figures.at(0).toInt());
        const bool real = path == card.path();
        QCOMPARE(figures.at(2).toDouble() > 0.0, real);
        QVERIFY(figures.at(1).toDouble() <= figures.at(2).toDouble());
    }
    QCOMPARE(upgrade.count(), present ? 1 : 0);
    QCOMPARE(popui.count(), present ? 0 : 1);

    // The card-restore entry starts a new check on every click. Without cards each check asks
    // for the USB cable; the operator confirms.
    PromptCatcher operatorHand;
    const int before = w->findChildren<CheckV7Thread *>().size();
    QTest::mouseClick(w->navigationEntry(5), Qt::LeftButton);
    QTest::mouseClick(w->navigationEntry(5), Qt::LeftButton);
    QCOMPARE(w->findChildren<CheckV7Thread *>().size(), before + 2);
    QCOMPARE(w->contentArea()->currentIndex(), 5);
    QTRY_COMPARE(w->findChildren<CheckV7Thread *>().size(), before);
    for (const QString &text : operatorHand.texts())
        QCOMPARE(text, QStringLiteral("请将相机通过usb连接电脑！"));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
