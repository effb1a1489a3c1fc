// The strategy and debugging pages against the camera simulator: the one-time load, each
// editor's record as the camera reports it back, refusals and "否" that send nothing, the
// shutter test and the per-camera rows.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStackedWidget>

#include "cameralink.h"
#include "camsimprocess.h"
#include "configtesui.h"
#include "devicedebugopt.h"
#include "distanceautooptui.h"
#include "edgeexternaloptui.h"
#include "gatherstrategyoptui.h"
#include "ioexternaloptui.h"
#include "mylabel.h"
#include "pwmexternaloptui.h"
#include "qnetconfig.h"
#include "timerautooptui.h"
#include "triggerchecks.h"
#include "v7kapp.h"
#include "workparam.h"

namespace {
// Distance mode, manual delay (code 5), the camera's own bytes 2, 3 and 5 set: 12 34 .. 56.
const char kCameraRecord[] = "03051234015608009600"
                             "1e007dc82800010114001e00f401";

WorkParam cameraRecord()
{
    WorkParam p{};
    WorkParamRecord::fromBytes(QByteArray::fromHex(kCameraRecord), p);
    return p;
}

QImage resourceImage(const char *name)
{
    return QPixmap(QStringLiteral(":/V7KAPP/res/") + QLatin1String(name)).toImage();
}

// Which rows of the debugging page show the error pictures: "1" good, "0" error, camera 1 first.
QString rowPictures()
{
    QString pictures;
    for (int camera = 0; camera < 5; ++camera) {
        const DeviceDebugOpt::Row &row = DeviceDebugOpt::instance()->row(camera);
        const bool good = row.statusBackground->pixmap().toImage() == resourceImage("normal.png") &&
                          row.statusIcon->pixmap().toImage() == resourceImage("round_normal.png");
        const bool error = row.statusBackground->pixmap().toImage() == resourceImage("wenti.png") &&
                           row.statusIcon->pixmap().toImage() == resourceImage("round_error.png");
        pictures += good ? QLatin1Char('1') : error ? QLatin1Char('0') : QLatin1Char('?');
    }
    return pictures;
}

void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}
} // namespace

class tst_StrategyPages : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void invalidRecordIsNotLoaded();
    void loadShowsTheRecord_data();
    void loadShowsTheRecord();
    void rowsShowFaultBits_data();
    void rowsShowFaultBits();
    void loadFillsEveryEditorOnce();
    void editorsSendTheirRecord_data();
    void editorsSendTheirRecord();
    void refusalsSendNothing_data();
    void refusalsSendNothing();
    void shutterRaisesCounts();
    void landingGearPrompts();
    void notConnectedRefuses();

private:
    GatherStrategyOptUi *page() const { return GatherStrategyOptUi::instance(); }
    const WorkParam &cameraNow() const { return m_link->deviceHandle()->workParam; }
    void waitForRefreshes(int count);

    CamsimProcess m_camera;
    PromptCatcher m_prompts;
    CameraLink *m_link = CameraLink::instance();
    V7KAPP *m_main = nullptr;
};

void tst_StrategyPages::initTestCase()
{
    QVERIFY(m_camera.start({"--work-param", kCameraRecord, "--landing-gear", "1", "--camera-state",
                            "0x1b", "--self-test", "0"}));
    m_main = V7KAPP::instance();
    m_main->show();
}

void tst_StrategyPages::waitForRefreshes(int count)
{
    QSignalSpy refreshes(m_link, &CameraLink::statusRefreshed);
    QTRY_VERIFY(refreshes.count() >= count);
}

// A camera whose record has not arrived yet (mode 0) leaves the editors alone and the load
// pending.
void tst_StrategyPages::invalidRecordIsNotLoaded()
{
    v7k_context context{};
    context.firmwareMajor = 4;
    context.firmwareMinor = 41;
    context.statusCount = 1;
    context.workParam = cameraRecord();
    context.workParam.mode = 0;
    QSignalSpy arrived(m_link, &CameraLink::workParamsArrived);
    m_link->setDeviceHandleForTesting(&context);
    m_link->onTick();
    m_link->onTick();
    QCOMPARE(arrived.count(), 0);
    QVERIFY(m_link->workParamLoadPending());
    QCOMPARE(page()->distanceEditor()->intervalEdit()->text(), QString());
    m_link->setDeviceHandleForTesting(nullptr);
}

void tst_StrategyPages::loadShowsTheRecord_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("activation");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("timerEntry");
    QTest::addColumn<QString>("distanceEntry");
    QTest::newRow("timer, manual delay")
        << 2 << 5 << int(GatherStrategyOptUi::TimerPage) << "手动延时触发"
        << "起落架信号";
    QTest::newRow("distance, altitude")
        << 3 << 4 << int(GatherStrategyOptUi::DistancePage) << "起落架信号"
        << "高度触发";
    QTest::newRow("debug stays on distance")
        << 1 << 2 << int(GatherStrategyOptUi::DistancePage) << "起落架信号"
        << "起落架信号";
    QTest::newRow("edge") << 6 << 1 << int(GatherStrategyOptUi::EdgePage) << "起落架信号"
                          << "起落架信号";
    QTest::newRow("io") << 5 << 1 << int(GatherStrategyOptUi::IoPage) << "起落架信号"
                        << "起落架信号";
    QTest::newRow("pwm") << 4 << 1 << int(GatherStrategyOptUi::PwmPage) << "起落架信号"
                         << "起落架信号";
}

// Straight into the page, without the link's once-per-run guard.
void tst_StrategyPages::loadShowsTheRecord()
{
    QFETCH(int, mode);
    QFETCH(int, activation);
    QFETCH(int, page);
    v7k_context context{};
    m_link->setDeviceHandleForTesting(&context);
    for (IntervalEditor *editor : std::initializer_list<IntervalEditor *>{
             this->page()->timerEditor(), this->page()->distanceEditor()})
        editor->activationBox()->setCurrentIndex(0);
    click(this->page()->modeButton(GatherStrategyOptUi::DistancePage));
    WorkParam record = cameraRecord();
    record.mode = quint8(mode);
    record.activation = quint8(activation);
    this->page()->loadFromCamera(record);
    m_link->setDeviceHandleForTesting(nullptr);

    QCOMPARE(this->page()->stack()->currentIndex(), page);
    QTEST(this->page()->timerEditor()->activationBox()->currentText(), "timerEntry");
    QTEST(this->page()->distanceEditor()->activationBox()->currentText(), "distanceEntry");
    for (int other = 0; other < GatherStrategyOptUi::PageCount; ++other) {
        const char *image[] = {"fixeddiatance", "fixedtime", "elge", "IO", "pwm"};
        const QString name =
            QStringLiteral("%1_%2.png")
                .arg(QLatin1String(image[other]),
                     other == page ? QLatin1String("click") : QLatin1String("normal"));
        QCOMPARE(this->page()->modeButton(GatherStrategyOptUi::Page(other))->pixmap().toImage(),
                 resourceImage(qPrintable(name)));
    }
    // The active editor's group follows its drop-down.
    IntervalEditor *timer = this->page()->timerEditor();
    const int entry = timer->activationBox()->currentIndex();
    for (int group = 0; group < 5; ++group)
        QCOMPARE(timer->group(group).first()->isVisibleTo(timer), group == entry);
}

void tst_StrategyPages::rowsShowFaultBits_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("rows");
    QTest::newRow("0x1b: back camera") << 0x1b << "11011";
    QTest::newRow("front and centre") << 0x0e << "01110";
    QTest::newRow("upper bits ignored") << 0xff << "11111";
}

void tst_StrategyPages::rowsShowFaultBits()
{
    QFETCH(int, state);
    v7k_context context{};
    context.cameraState = quint8(state);
    context.photoCount = 12;
    DeviceDebugOpt::instance()->refresh(context);
    QTEST(rowPictures(), "rows");
    QCOMPARE(DeviceDebugOpt::instance()->row(4).triggerCount->text(), QStringLiteral("12"));
}

void tst_StrategyPages::loadFillsEveryEditorOnce()
{
    QSignalSpy arrived(m_link, &CameraLink::workParamsArrived);
    qputenv("V7_WIFI_SSID", "V7K5-STRATEGY");
    QNetConfig::instance()->onClicked();
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, 10000);
    QVERIFY(!m_link->workParamLoadPending());
    QVERIFY(m_prompts.texts().isEmpty());

    DistanceAutoOptUi *distance = page()->distanceEditor();
    TimerAutoOptUi *timer = page()->timerEditor();
    QCOMPARE(page()->stack()->currentIndex(), int(GatherStrategyOptUi::DistancePage));
    QCOMPARE(distance->activationBox()->currentText(), QStringLiteral("手动延时触发"));
    QCOMPARE(distance->intervalEdit()->text(), QStringLiteral("50.0"));
    QCOMPARE(timer->intervalEdit()->text(), QStringLiteral("3"));
    for (IntervalEditor *editor : std::initializer_list<IntervalEditor *>{timer, distance}) {
        QVERIFY(editor->highButton()->isChecked());
        QCOMPARE(editor->powerOnEdit()->text(), QStringLiteral("8"));
        QCOMPARE(editor->altitudeEdit()->text(), QStringLiteral("150"));
        QCOMPARE(editor->manualEdit()->text(), QStringLiteral("30"));
        QVERIFY(editor->landingGearDown);
        QVERIFY(editor->gearBox()->isChecked());
    }
    QCOMPARE(page()->pwmEditor()->pulseTimeEdit()->text(), QStringLiteral("12.5"));
    QCOMPARE(page()->pwmEditor()->periodEdit()->text(), QStringLiteral("20.0"));
    QCOMPARE(page()->pwmEditor()->pulseDurationEdit()->text(), QStringLiteral("40"));
    QVERIFY(page()->ioEditor()->highButton()->isChecked());
    QCOMPARE(page()->ioEditor()->durationEdit()->text(), QStringLiteral("20"));
    QVERIFY(page()->edgeEditor()->risingButton()->isChecked());

    // The operator's edit survives every later status refresh.
    distance->intervalEdit()->setText(QStringLiteral("77"));
    waitForRefreshes(3);
    QCOMPARE(distance->intervalEdit()->text(), QStringLiteral("77"));
    QCOMPARE(arrived.count(), 1);

    click(m_main->navigationEntry(1));
    QCOMPARE(m_main->contentArea()->currentWidget(), m_main->pages.configTest);
}

void tst_StrategyPages::editorsSendTheirRecord_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("label");
    QTest::newRow("timer, power-on 3")
        << int(GatherStrategyOptUi::TimerPage) << QStringList{"5", "2", "3"} << "定时5.00s";
    QTest::newRow("distance, altitude 1234.5")
        << int(GatherStrategyOptUi::DistancePage) << QStringList{"12.34", "4", "1234.5"}
        << "定距12.3m";
    QTest::newRow("pwm") << int(GatherStrategyOptUi::PwmPage) << QStringList{"9999.9", "12.5", "20"}
                         << "PWM触发";
    QTest::newRow("io low") << int(GatherStrategyOptUi::IoPage) << QStringList{"low", "35"}
                            << "IO触发";
    QTest::newRow("edge falling") << int(GatherStrategyOptUi::EdgePage) << QStringList{"falling"}
                                  << "沿触发";
}

// The page sends what its editor's checks make of the texts typed into it, and the camera
// reports that record back.
void tst_StrategyPages::editorsSendTheirRecord()
{
    QFETCH(int, page);
    QFETCH(QStringList, texts);
    QFETCH(QString, label);
    GatherStrategyOptUi *strategy = this->page();
    click(strategy->modeButton(GatherStrategyOptUi::Page(page)));
    QCOMPARE(strategy->stack()->currentIndex(), page);
    const WorkParam before = cameraNow();
    CheckResult expected;
    QWidget *editor = strategy->stack()->currentWidget();
    if (page == GatherStrategyOptUi::TimerPage || page == GatherStrategyOptUi::DistancePage) {
        auto *interval = static_cast<IntervalEditor *>(editor);
        IntervalForm form;
        form.interval = texts[0];
        form.activationEntry = texts[1].toInt();
        form.altitude = form.activationEntry == 4 ? texts[2] : interval->altitudeEdit()->text();
        form.powerOnDelay = form.activationEntry == 2 ? texts[2] : interval->powerOnEdit()->text();
        form.manualDelay = interval->manualEdit()->text();
        form.highLevel = interval->highButton()->isChecked();
        interval->intervalEdit()->setText(form.interval);
        interval->activationBox()->setCurrentIndex(form.activationEntry);
        interval->powerOnEdit()->setText(form.powerOnDelay);
        interval->altitudeEdit()->setText(form.altitude);
        expected = page == GatherStrategyOptUi::TimerPage ? TriggerChecks::timer(form, before)
                                                          : TriggerChecks::distance(form, before);
    } else if (page == GatherStrategyOptUi::PwmPage) {
        strategy->pwmEditor()->setForm(PwmForm{texts[0], texts[1], texts[2]});
        expected = TriggerChecks::pwm(PwmForm{texts[0], texts[1], texts[2]}, before);
    } else if (page == GatherStrategyOptUi::IoPage) {
        const IoForm form{texts[0] == QLatin1String("high"), texts[1]};
        strategy->ioEditor()->setForm(form);
        expected = TriggerChecks::io(form, before);
    } else {
        strategy->edgeEditor()->setRising(texts[0] == QLatin1String("rising"));
        expected = TriggerChecks::edge(texts[0] == QLatin1String("rising"), before);
    }
    QVERIFY(expected.ok());
    QVERIFY(!WorkParamRecord::equal(expected.record, before));

    m_prompts.clear();
    m_prompts.answerQuestionsWith(true);
    click(editor->findChild<Mylabel *>());
    QCOMPARE(m_prompts.texts(), (QStringList{"是否切换工作模式？", "设置完成"}));
    QTRY_COMPARE(WorkParamRecord::toBytes(cameraNow()).toHex(),
                 WorkParamRecord::toBytes(expected.record).toHex());
    // The camera's own bytes went back as they came.
    QCOMPARE(WorkParamRecord::toBytes(cameraNow()).mid(2, 2).toHex(), QByteArray("1234"));
    QCOMPARE(WorkParamRecord::toBytes(cameraNow()).at(5), char(0x56));
    QTRY_COMPARE(m_main->panelLabel("label_18")->text(), label);
}

void tst_StrategyPages::refusalsSendNothing_data()
{
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QStringList>("prompts");
    QTest::newRow("no") << false << "8" << QStringList{"是否切换工作模式？"};
    QTest::newRow("empty delay: asked first")
        << true << "" << QStringList{"是否切换工作模式？", "有参数未输入!"};
    QTest::newRow("delay too long: not asked")
        << true << "12345" << QStringList{"延时时间输入应小于10000!"};
}

void tst_StrategyPages::refusalsSendNothing()
{
    QFETCH(bool, answer);
    QFETCH(QString, delay);
    QFETCH(QStringList, prompts);
    const QByteArray before = WorkParamRecord::toBytes(cameraNow());
    QVERIFY(before.at(0) != 3);
    DistanceAutoOptUi *distance = page()->distanceEditor();
    click(page()->modeButton(GatherStrategyOptUi::DistancePage));
    distance->intervalEdit()->setText(QStringLiteral("40"));
    distance->activationBox()->setCurrentIndex(2);
    distance->powerOnEdit()->setText(delay);
    m_prompts.clear();
    m_prompts.answerQuestionsWith(answer);
    click(distance->setupButton());
    QCOMPARE(m_prompts.texts(), prompts);
    waitForRefreshes(3);
    QCOMPARE(WorkParamRecord::toBytes(cameraNow()).toHex(), before.toHex());
    QCOMPARE(distance->powerOnEdit()->text(), delay);
}

void tst_StrategyPages::shutterRaisesCounts()
{
    ConfigTesUi *config = m_main->pages.configTest;
    click(config->debugTab());
    QCOMPARE(config->stack()->currentWidget(), DeviceDebugOpt::instance());
    waitForRefreshes(2);
    DeviceDebugOpt *debug = DeviceDebugOpt::instance();
    QCOMPARE(rowPictures(), QStringLiteral("11011"));
    const v7k_context &d = *m_link->deviceHandle();
    const quint32 triggers = d.photoCount;
    quint16 photos[5];
    std::copy(std::begin(d.cameraPhotos), std::end(d.cameraPhotos), photos);
    QCOMPARE(debug->row(0).triggerCount->text(), QString::number(triggers));

    QTest::mousePress(debug->shutterButton(), Qt::LeftButton);
    QCOMPARE(debug->shutterButton()->pixmap().toImage(), resourceImage("photograph_click.png"));
    QTest::mouseRelease(debug->shutterButton(), Qt::LeftButton);
    QCOMPARE(debug->shutterButton()->pixmap().toImage(), resourceImage("photograph_normal.png"));

    QTRY_VERIFY(debug->row(2).triggerCount->text().toUInt() > triggers);
    for (int camera = 0; camera < 5; ++camera) {
        QCOMPARE(debug->row(camera).triggerCount->text(), debug->row(0).triggerCount->text());
        const uint shown = debug->row(camera).photoCount->text().toUInt();
        // The faulty back camera does not follow the trigger; the others do.
        if (camera == 2)
            QCOMPARE(shown, uint(photos[camera]));
        else
            QVERIFY2(shown > photos[camera], qPrintable(QString::number(camera + 1)));
    }
    click(config->strategyTab());
}

// The landing-gear word of the camera decides; a fake camera without the signal.
void tst_StrategyPages::landingGearPrompts()
{
    m_link->disconnectCamera();
    v7k_context context{};
    context.workParam = cameraRecord();
    m_link->setDeviceHandleForTesting(&context);
    TimerAutoOptUi *timer = page()->timerEditor();
    DistanceAutoOptUi *distance = page()->distanceEditor();
    const QStringList gear{QStringLiteral("请检查是否连接起落架！")};

    m_prompts.clear();
    timer->landingGearDown = true;
    timer->gearBox()->setChecked(!timer->gearBox()->isChecked());
    QCOMPARE(m_prompts.texts(), gear);
    QVERIFY(!timer->landingGearDown);

    m_prompts.clear();
    timer->intervalEdit()->setText(QStringLiteral("5"));
    timer->activationBox()->setCurrentIndex(0);
    click(timer->setupButton());
    QCOMPARE(m_prompts.texts(), gear);

    m_prompts.clear();
    distance->landingGearDown = false;
    distance->gearBox()->setChecked(!distance->gearBox()->isChecked());
    QCOMPARE(m_prompts.texts(), gear);
    distance->landingGearDown = true;
    distance->gearBox()->setChecked(!distance->gearBox()->isChecked());
    QCOMPARE(m_prompts.texts(), gear);
    QVERIFY(distance->landingGearDown);

    context.landingGear = 1;
    m_prompts.clear();
    timer->gearBox()->setChecked(!timer->gearBox()->isChecked());
    QVERIFY(m_prompts.texts().isEmpty());
    QVERIFY(timer->landingGearDown);
    m_link->setDeviceHandleForTesting(nullptr);
}

void tst_StrategyPages::notConnectedRefuses()
{
    QVERIFY(!m_link->isConnected());
    for (QWidget *editor : std::initializer_list<QWidget *>{
             page()->timerEditor(), page()->distanceEditor(), page()->pwmEditor(),
             page()->ioEditor(), page()->edgeEditor()}) {
        m_prompts.clear();
        click(editor->findChild<Mylabel *>());
        QCOMPARE(m_prompts.texts(), QStringList{QStringLiteral("相机未连接！")});
    }
    // Without a camera the shutter only changes its picture.
    DeviceDebugOpt::instance()->onClicked();
    QCOMPARE(DeviceDebugOpt::instance()->shutterButton()->pixmap().toImage(),
             resourceImage("photograph_click.png"));
}

QTEST_MAIN(tst_StrategyPages)
#include "tst_strategypages.moc"
