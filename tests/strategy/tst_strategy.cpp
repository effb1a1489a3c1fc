// The trigger editors' checks without widgets, the strategy and debugging pages against the
// camera simulator, then v7tool strategy on the same camera.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
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
#include "testtools.h"
#include "timerautooptui.h"
#include "triggerchecks.h"
#include "v7kapp.h"
#include "workparam.h"

namespace {
// Every field distinct and the camera's own bytes 2, 3 and 5 set, so that a field an editor should
// not touch shows when it changes. Distance mode, external level (entry 1).
const WorkParam kCamera{3,  2,  {0xa5, 0x5a}, 1, 0xc3, 77,  4321, 66,
                        11, 22, 333,          1, 1,    444, 999,  888};
const char kCameraHex[] = "0302a55a01c34d00e11042000b164d010101bc01e7037803";
const int kCodeOfEntry[] = {1, 2, 3, 5, 4}; // the drop-down lists the manual delay before altitude

// The record's fields in the camera's order with their widths, independent of the encoder.
const QStringList kLayout =
    QStringLiteral("mode:1 activation:1 byte2:1 byte3:1 activationLevel:1 byte5:1 powerOnDelay:2 "
                   "activationAltitude:2 manualDelay:2 pulseTime:1 pulsePeriod:1 pulseDuration:2 "
                   "ioLevel:1 edgeRising:1 ioDuration:2 timeInterval:2 distanceInterval:2")
        .split(QLatin1Char(' '));
using Fields = QMap<QString, int>;

Fields fieldsOf(const WorkParam &p)
{
    const QByteArray bytes = WorkParamRecord::toBytes(p);
    Fields fields;
    int at = 0;
    for (const QString &field : kLayout) {
        const int width = field.section(QLatin1Char(':'), 1).toInt();
        fields[field.section(QLatin1Char(':'), 0, 0)] =
            quint8(bytes[at]) | (width == 2 ? quint8(bytes[at + 1]) << 8 : 0);
        at += width;
    }
    return fields;
}

// The record `from` with the changes "field=value field=value".
Fields changed(const WorkParam &from, const QString &changes)
{
    Fields fields = fieldsOf(from);
    for (const QString &change : changes.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        fields[change.section(QLatin1Char('='), 0, 0)] =
            change.section(QLatin1Char('='), 1).toInt();
    return fields;
}

// Interval, drop-down entry, that entry's field, and "nogear" or "high"; other fields hold 9.
IntervalForm intervalForm(QStringList t)
{
    t << QString() << QString() << QString() << QString();
    IntervalForm form;
    form.interval = t[0];
    form.activationEntry = t[1].toInt();
    form.landingGearDown = t[3] != QLatin1String("nogear");
    form.highLevel = t[3] == QLatin1String("high");
    form.powerOnDelay = form.activationEntry == 2 ? t[2] : QStringLiteral("9");
    form.manualDelay = form.activationEntry == 3 ? t[2] : QStringLiteral("9");
    form.altitude = form.activationEntry == 4 ? t[2] : QStringLiteral("9");
    return form;
}

QImage resourceImage(const QString &name)
{
    return QPixmap(QStringLiteral(":/V7KAPP/res/") + name).toImage();
}

// Which rows of the debugging page show the error picture: "1" good, "0" error, camera 1 first.
QString rowPictures()
{
    QString pictures;
    for (int camera = 0; camera < 5; ++camera) {
        const QImage icon = DeviceDebugOpt::instance()->row(camera).statusIcon->pixmap().toImage();
        pictures += icon == resourceImage("round_normal.png")  ? '1'
                    : icon == resourceImage("round_error.png") ? '0'
                                                               : '?';
    }
    return pictures;
}

void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

// v7tool strategy with the arguments split at spaces.
ToolRun tool(const QString &arguments)
{
    return runTool(V7_TOOL,
                   QStringList{"strategy"} + arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

const QString kIllegal = QStringLiteral("输入值非法");
const QString kMissing = QStringLiteral("有参数未输入!");
const QString kGear = QStringLiteral("请检查是否连接起落架！");
const QString kDelay = QStringLiteral("延时时间输入应小于10000!");
const QString kDuration = QStringLiteral("持续时间输入应小于10000!");
const QString kDistance = QStringLiteral("间隔应该输入小于500!");
const QString kPulseTime = QStringLiteral("脉冲时间输入应小于25.5!");
} // namespace

class tst_Strategy : public QObject
{
    Q_OBJECT
private slots:
    void record();
    void checks_data();
    void checks();
    void initTestCase();
    void loadFillsEveryEditorOnce();
    void editorsSendTheirRecord_data();
    void editorsSendTheirRecord();
    void shutterRaisesCounts();
    void tool_data();
    void tool();
    void reconnectShowsWhatTheCameraRuns();

private:
    GatherStrategyOptUi *page() const { return GatherStrategyOptUi::instance(); }
    const WorkParam &cameraNow() const { return m_link->deviceHandle()->workParam; }
    void waitForRefreshes(int count)
    {
        QSignalSpy refreshes(m_link, &CameraLink::statusRefreshed);
        QTRY_VERIFY(refreshes.count() >= count);
    }

    CamsimProcess m_camera;
    PromptCatcher m_prompts;
    CameraLink *m_link = CameraLink::instance();
    V7KAPP *m_main = nullptr;
};

void tst_Strategy::record()
{
    WorkParam back{};
    QCOMPARE(WorkParamRecord::toBytes(kCamera).toHex(), QByteArray(kCameraHex));
    QVERIFY(!WorkParamRecord::fromBytes(QByteArray::fromHex(kCameraHex).left(23), back));
    QVERIFY(WorkParamRecord::fromBytes(QByteArray::fromHex(kCameraHex), back));
    QVERIFY(WorkParamRecord::equal(back, kCamera));
}

void tst_Strategy::checks_data()
{
    // The editor first; timer and distance take intervalForm()'s texts, pwm the duration, pulse
    // time and period, io the level and duration, edge the edge, all split at spaces. A refusal
    // carries no record; an accepted record changes the mode, the activation of the drop-down
    // entry, and the fields named, and carries every other field over from the camera's record.
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("written");
    const auto row = [](const char *tag, const char *texts, const QString &message,
                        const char *written) {
        const QString editor = QString::fromLatin1(tag).section(QLatin1Char(' '), 0, 0);
        const int mode = QStringList{"timer", "distance", "pwm", "io", "edge"}.indexOf(editor) + 2;
        QTest::newRow(tag) << mode << QString::fromLatin1(texts).split(QLatin1Char(' ')) << message
                           << QString::fromLatin1(written);
    };
    row("timer 2.3 exactly", "2.3", "", "timeInterval=23");
    row("timer largest that fits", "6553.5", "", "timeInterval=65535");
    row("timer would wrap", "6553.6", "间隔时间输入应小于6553.5!", "");
    row("timer below a tenth", "0.05", "间隔时间输入应不小于0.1!", "");
    row("timer empty", "", kMissing, "");
    row("timer leading point", ".5", kIllegal, "");
    row("timer letter", "2x5", kIllegal, "");
    row("timer gear not down", "5 0  nogear", kGear, "");
    row("timer high level", "5 1  high", "", "timeInterval=50 activationLevel=1");
    row("timer power-on 3 -> 5", "5 2 3", "", "timeInterval=50 powerOnDelay=5");
    row("timer power-on 7.9 cut", "5 2 7.9", "", "timeInterval=50 powerOnDelay=7");
    row("timer power-on missing", "5 2 ", kMissing, "");
    row("timer manual 2 kept", "5 3 2", "", "timeInterval=50 manualDelay=2");
    row("timer altitude 12345", "5 4 12345", "高度输入应小于10000!", "");
    row("timer interval before delay", "5. 2 ", kIllegal, "");
    row("distance low level 12.34", "12.34 1", "", "distanceInterval=123 activationLevel=0");
    row("distance 500 accepted", "500 1", "", "distanceInterval=5000 activationLevel=0");
    row("distance 500.5", "500.5 1", kDistance, "");
    row("distance ten characters", "0000000001 1", kDistance, "");
    row("distance negative", "-5 1", kIllegal, "");
    row("distance empty interval", " 1", kMissing, "");
    row("distance power-on 5 -> 10", "50 2 5", "", "distanceInterval=500 powerOnDelay=10");
    row("distance power-on empty", "50 2 ", kMissing, "");
    row("distance manual 2 -> 5", "50 3 2", "", "distanceInterval=500 manualDelay=5");
    // The activation field is checked first, then the interval, then what is missing.
    row("distance delay before interval", "600 2 12345", kDelay, "");
    row("distance interval before empty delay", "600 2 ", kDistance, "");
    row("pwm 25.5 fits a byte", "40 25.5 25.5", "",
        "pulseDuration=40 pulseTime=255 pulsePeriod=255");
    row("pwm pulse time 25.6", "40 25.6 20", kPulseTime, "");
    row("pwm period 25.6", "40 12.5 25.6", "周期输入应小于25.5!", "");
    row("pwm duration 10000", "10000 1 2", kDuration, "");
    row("pwm empty before illegal", "40 1e1 ", kMissing, "");
    row("pwm illegal before length", "10000 1E1 2", kIllegal, "");
    row("pwm duration before pulse time", "10000 30 2", kDuration, "");
    row("pwm pulse time before period", "40 30 30", kPulseTime, "");
    row("io high 9999.9", "high 9999.9", "", "ioLevel=1 ioDuration=9999");
    row("io empty", "high ", kMissing, "");
    row("edge rising", "rising", "", "edgeRising=1");
}

void tst_Strategy::checks()
{
    QFETCH(int, mode);
    QFETCH(QStringList, texts);
    QFETCH(QString, written);
    const IntervalForm form = intervalForm(texts);
    texts << QString() << QString();
    const CheckResult r =
        mode == 2   ? TriggerChecks::timer(form, kCamera)
        : mode == 3 ? TriggerChecks::distance(form, kCamera)
        : mode == 4 ? TriggerChecks::pwm(PwmForm{texts[0], texts[1], texts[2]}, kCamera)
        : mode == 5
            ? TriggerChecks::io(IoForm{texts[0] == QLatin1String("high"), texts[1]}, kCamera)
            : TriggerChecks::edge(texts[0] == QLatin1String("rising"), kCamera);
    QTEST(r.message, "message");
    if (mode <= 3)
        written.prepend(QStringLiteral("activation=%1 ").arg(kCodeOfEntry[form.activationEntry]));
    if (r.ok())
        QCOMPARE(fieldsOf(r.record),
                 changed(kCamera, QStringLiteral("mode=%1 ").arg(mode) + written));
}

void tst_Strategy::initTestCase()
{
    QVERIFY(m_camera.start({"--work-param", kCameraHex, "--landing-gear", "1", "--camera-state",
                            "0x1b", "--self-test", "0"}));
    m_main = V7KAPP::instance();
    m_main->show();
}

void tst_Strategy::loadFillsEveryEditorOnce()
{
    QSignalSpy arrived(m_link, &CameraLink::workParamsArrived);
    qputenv("V7_WIFI_SSID", "V7K5-STRATEGY");
    QNetConfig::instance()->onClicked();
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, 10000);
    QVERIFY(m_prompts.texts().isEmpty());
    DistanceAutoOptUi *distance = page()->distanceEditor();
    TimerAutoOptUi *timer = page()->timerEditor();
    QCOMPARE(page()->stack()->currentIndex(), int(GatherStrategyOptUi::DistancePage));
    QStringList shown{distance->activationBox()->currentText(), distance->intervalEdit()->text(),
                      timer->intervalEdit()->text()};
    for (IntervalEditor *editor : std::initializer_list<IntervalEditor *>{timer, distance}) {
        shown << editor->powerOnEdit()->text() << editor->altitudeEdit()->text()
              << editor->manualEdit()->text();
        QVERIFY(editor->highButton()->isChecked());
        QVERIFY(editor->landingGearDown && editor->gearBox()->isChecked());
    }
    const PWMExternalOptUi *pwm = page()->pwmEditor();
    shown << pwm->pulseTimeEdit()->text() << pwm->periodEdit()->text()
          << pwm->pulseDurationEdit()->text() << page()->ioEditor()->durationEdit()->text();
    QCOMPARE(shown, (QStringList{"外部高低电平", "88.8", "99.9", "77", "4321", "66", "77", "4321",
                                 "66", "1.1", "2.2", "333", "444"}));
    QVERIFY(page()->ioEditor()->highButton()->isChecked());
    QVERIFY(page()->edgeEditor()->risingButton()->isChecked());

    // The operator's edit survives every later status refresh.
    distance->intervalEdit()->setText(QStringLiteral("77"));
    waitForRefreshes(3);
    QCOMPARE(distance->intervalEdit()->text(), QStringLiteral("77"));
    QCOMPARE(arrived.count(), 1);
}

void tst_Strategy::editorsSendTheirRecord_data()
{
    // What the operator types (as in checks()) and the fields that change: each row's mode
    // differs from the one before, so every send shows.
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("texts");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("prompts");
    QTest::addColumn<bool>("answer"); // to whether the mode is to change
    const QStringList sent{"是否切换工作模式？", "设置完成"};
    const auto row = [](const char *tag, int page, const char *texts, const char *written,
                        const QString &label, const QStringList &prompts, bool answer = true) {
        QTest::newRow(tag) << page << texts << written << label << prompts << answer;
    };
    row("timer", GatherStrategyOptUi::TimerPage, "5 2 3",
        "mode=2 activation=3 timeInterval=50 powerOnDelay=5", "定时5.00s", sent);
    row("distance", GatherStrategyOptUi::DistancePage, "12.34 4 1234.5",
        "mode=3 activation=4 distanceInterval=123 activationAltitude=1234", "定距12.3m", sent);
    row("pwm", GatherStrategyOptUi::PwmPage, "9999.9 12.5 20",
        "mode=4 pulseDuration=9999 pulseTime=125 pulsePeriod=200", "PWM触发", sent);
    row("io", GatherStrategyOptUi::IoPage, "low 35", "mode=5 ioLevel=0 ioDuration=35", "IO触发",
        sent);
    row("edge", GatherStrategyOptUi::EdgePage, "falling", "mode=6 edgeRising=0", "沿触发", sent);
    // Nothing sent, the typed text kept. Only a record that passes every check is worth the
    // question (which check says what is the checks table's).
    row("distance, answered no", GatherStrategyOptUi::DistancePage, "40 2 8", "", "沿触发",
        {"是否切换工作模式？"}, false);
    row("distance, empty delay: not asked", GatherStrategyOptUi::DistancePage, "40 2 ", "",
        "沿触发", {kMissing});
}

void tst_Strategy::editorsSendTheirRecord()
{
    QFETCH(int, page);
    QFETCH(QString, texts);
    QFETCH(QString, written);
    const QStringList t = texts.split(QLatin1Char(' '));
    GatherStrategyOptUi *strategy = this->page();
    click(strategy->modeButton(GatherStrategyOptUi::Page(page)));
    QCOMPARE(strategy->stack()->currentIndex(), page);
    QWidget *editor = strategy->stack()->currentWidget();
    QLineEdit *typed = nullptr;
    if (auto *interval = qobject_cast<IntervalEditor *>(editor)) {
        interval->intervalEdit()->setText(t[0]);
        interval->activationBox()->setCurrentIndex(t[1].toInt());
        typed = t[1] == "4" ? interval->altitudeEdit() : interval->powerOnEdit();
        typed->setText(t[2]);
    } else if (page == GatherStrategyOptUi::PwmPage) {
        strategy->pwmEditor()->setForm(PwmForm{t[0], t[1], t[2]});
    } else if (page == GatherStrategyOptUi::IoPage) {
        strategy->ioEditor()->setForm(IoForm{t[0] == QLatin1String("high"), t[1]});
    } else {
        strategy->edgeEditor()->setRising(t[0] == QLatin1String("rising"));
    }
    const Fields expected = changed(cameraNow(), written);
    m_prompts.clear();
    QFETCH(bool, answer);
    m_prompts.answerQuestionsWith(answer);
    click(editor->findChild<Mylabel *>());
    QTEST(m_prompts.texts(), "prompts");
    if (written.isEmpty())
        waitForRefreshes(3); // that nothing was sent shows only in time
    QTRY_COMPARE(fieldsOf(cameraNow()), expected);
    QFETCH(QString, label);
    QTRY_COMPARE(m_main->panelLabel("label_18")->text(), label);
    if (typed)
        QCOMPARE(typed->text(), t[2]);
}

// The simulator's camera state 0x1b: the back camera (3) is faulty and does not follow the trigger.
void tst_Strategy::shutterRaisesCounts()
{
    DeviceDebugOpt *debug = DeviceDebugOpt::instance();
    click(m_main->navigationEntry(1));
    ConfigTesUi *config = m_main->pages.configTest;
    QCOMPARE(m_main->contentArea()->currentWidget(), config);
    click(config->debugTab());
    QCOMPARE(config->stack()->currentWidget(), debug);
    waitForRefreshes(2);
    QCOMPARE(rowPictures(), QStringLiteral("11011"));
    const v7k_context &d = *m_link->deviceHandle();
    const quint32 triggers = d.photoCount;
    const std::vector<quint16> photos(std::begin(d.cameraPhotos), std::end(d.cameraPhotos));
    QCOMPARE(debug->row(0).triggerCount->text(), QString::number(triggers));
    QTest::mousePress(debug->shutterButton(), Qt::LeftButton);
    QCOMPARE(debug->shutterButton()->pixmap().toImage(), resourceImage("photograph_click.png"));
    QTest::mouseRelease(debug->shutterButton(), Qt::LeftButton);
    QCOMPARE(debug->shutterButton()->pixmap().toImage(), resourceImage("photograph_normal.png"));
    QTRY_VERIFY(debug->row(2).triggerCount->text().toUInt() > triggers);
    for (int camera = 0; camera < 5; ++camera) {
        QCOMPARE(debug->row(camera).triggerCount->text(), debug->row(0).triggerCount->text());
        const uint shown = debug->row(camera).photoCount->text().toUInt();
        QVERIFY(shown >= photos[camera]);
        QCOMPARE(shown > photos[camera], camera != 2);
    }
}

// v7tool strategy, the page's link down, on the camera restarted with its first record and without
// the landing gear. A refusal (exit 1) or bad arguments (exit 2) send nothing.
void tst_Strategy::tool_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected"); // the mode and a field read back, or the message
    const auto row = [](const char *tag, const char *args, int exitCode, const QString &expected) {
        QTest::newRow(tag) << QString::fromLatin1(args) << exitCode << expected;
    };
    row("time", "--mode time --interval 2.5 --activation power-on --delay 3", 0,
        "time powerOnDelay=5");
    // The camera's activation is now the power-on delay: --delay fills it.
    row("distance, kept activation", "--mode distance --interval 60 --delay 12", 0,
        "distance powerOnDelay=12");
    row("distance", "--mode distance --interval 12.34 --activation level --level high", 0,
        "distance distanceInterval=123");
    row("pwm", "--mode pwm --pulse-duration 40 --pulse-time 12.5 --period 20", 0,
        "pwm pulseTime=125");
    row("io", "--mode io --level low --duration 9999.9", 0, "io ioDuration=9999");
    row("edge", "--mode edge --edge falling", 0, "edge edgeRising=0");
    row("gear not down", "--mode time --interval 5 --activation gear", 1, kGear);
    row("silent camera", "--mode edge --edge rising --seconds 1", 1, "相机未连接！");
    row("no interval", "--mode time", 2, "usage:");
    row("edge option for time", "--mode time --interval 5 --edge rising", 2, "usage:");
    row("level without level activation",
        "--mode time --interval 5 --activation altitude --level high", 2, "usage:");
}

void tst_Strategy::tool()
{
    QFETCH(QString, args);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    if (QTest::currentDataTag() == QByteArrayLiteral("time")) {
        m_link->disconnectCamera();
        QVERIFY(m_camera.restart({"--work-param", kCameraHex, "--landing-gear", "0"}));
        QVERIFY(::tool("show").out.startsWith("mode                distance (3)\n"
                                              "time interval       99.9 s\n"));
    }
    const QString before = ::tool("show --json").json().value("bytes").toString();
    QVERIFY(before.mid(4, 4) + before.mid(10, 2) == QLatin1String("a55ac3"));
    const bool silent = expected == QStringLiteral("相机未连接！");
    if (silent)
        QVERIFY(m_camera.toggleSilence(true));
    const ToolRun r = ::tool("set --json " + args);
    if (silent)
        QVERIFY(m_camera.toggleSilence(false));
    QCOMPARE(r.exitCode, exitCode);
    const QJsonObject shown = ::tool("show --json").json();
    if (exitCode == 0) { // the set is read back, the camera's own bytes kept
        QCOMPARE(r.json(), shown);
        const QString field = expected.section(' ', 1).section('=', 0, 0);
        QCOMPARE(shown.value("modeName").toString() + ' ' + field + '=' +
                     QString::number(shown.value(field).toInt()),
                 expected);
    } else {
        const QString err = QString::fromUtf8(r.err).trimmed();
        QVERIFY2(exitCode == 1 ? err == expected : err.contains(expected), qPrintable(err));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(shown.value("bytes").toString(), before);
    }
}

// The tool set the camera while the window was away: the next connect shows the camera's strategy
// in the editors and the panel, not what the operator left typed before.
void tst_Strategy::reconnectShowsWhatTheCameraRuns()
{
    QCOMPARE(::tool("set --mode time --interval 2.5 --activation power-on --delay 8").exitCode, 0);
    page()->distanceEditor()->intervalEdit()->setText(QStringLiteral("600"));
    QSignalSpy arrived(m_link, &CameraLink::workParamsArrived);
    QNetConfig::instance()->onClicked();
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, 10000);
    QCOMPARE(page()->stack()->currentIndex(), int(GatherStrategyOptUi::TimerPage));
    const IntervalForm timer = page()->timerEditor()->form();
    QCOMPARE(timer.interval + ' ' + timer.powerOnDelay, QStringLiteral("2.5 8"));
    QCOMPARE(page()->distanceEditor()->intervalEdit()->text(),
             QString::number(cameraNow().distanceInterval / 10.0, 'f', 1));
    QTRY_COMPARE(m_main->panelLabel("label_18")->text(), QStringLiteral("定时2.50s"));
}

QTEST_MAIN(tst_Strategy)
#include "tst_strategy.moc"
