// Wiring of the main window: start state, navigation, connection states and the tick.
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
} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void startState();
    void tickWithoutStatus();
    void tickWithDevice();
    void navigation();
    void networkEntryHover();
    void posEntryLayout_data();
    void posEntryLayout();
    void cardCheck_data();
    void cardCheck();

private:
    V7KAPP *w = V7KAPP::instance();
    CameraLink *link = CameraLink::instance();
};

void tst_MainWindow::startState()
{
    for (const char *name : {"deviceInfo_selected.png", "yingxiangnor.png", "new duan.png",
                             "wifi.png", "smallCamera_yellow.png", "largeCamera_white.png"})
        QVERIFY2(!resourceImage(name).isNull(), name); // else the image comparisons below say nothing
    QCOMPARE(w->windowTitle(), QStringLiteral("V7KAPP"));
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(w->contentArea()->isHidden());
    QCOMPARE(w->contentArea()->count(), 6);
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("label_3"))->text(),
             QStringLiteral("VestraneAssistant V1.3.3"));
    QCOMPARE(shown(w->navigationEntry(0)), resourceImage("deviceInfo_selected.png"));
    QCOMPARE(shown(w->navigationEntry(4)), resourceImage("yingxiangnor.png"));
    QVERIFY(link->tickTimer()->isActive());
    // At the start, connected, then disconnected: the window starts as it is after a disconnect.
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
    }
}

// No device, or a device whose first status has not arrived: the panel keeps what it shows.
void tst_MainWindow::tickWithoutStatus()
{
    v7k_context noStatus{};
    noStatus.firmwareMajor = 4;
    noStatus.firmwareMinor = 41;
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
    link->setDeviceHandleForTesting(nullptr);
}

void tst_MainWindow::tickWithDevice()
{
    v7k_context context{};
    context.firmwareMajor = 4;
    context.firmwareMinor = 41;
    context.selfTest = 1;
    context.cameraState = 0b11110; // camera 1 (front) faulty
    context.state = V7K_STATE_GPS_GOOD;
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

void tst_MainWindow::networkEntryHover()
{
    v7k_context context{};
    for (bool connected : {false, true}) {
        link->setDeviceHandleForTesting(connected ? &context : nullptr);
        w->onenterEvent();
        QCOMPARE(shown(w->networkEntry()),
                 resourceImage(connected ? "wifi-xuan.png" : "net duan xuan.png"));
        w->onleaveEvent();
        QCOMPARE(shown(w->networkEntry()), resourceImage(connected ? "wifi.png" : "new duan.png"));
    }
    link->setDeviceHandleForTesting(nullptr);
}

void tst_MainWindow::posEntryLayout_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<bool>("fiveLens");
    QTest::newRow("five-lens camera, 52-byte records") << QByteArray("V7K52019032801") << true;
    QTest::newRow("three-lens camera, 32-byte records") << QByteArray("V7K32019032801") << false;
    QTest::newRow("another V7 model") << QByteArray("V7K22019032801") << false;
    QTest::newRow("V7K4 records 52 bytes") << QByteArray("V7K42019032801") << true;
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
