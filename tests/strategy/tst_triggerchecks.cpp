// The trigger editors' checks and the work-parameter record, without widgets: what each editor
// sends for the texts an operator types, which message refuses what, and in which order.
#include <QtTest>

#include "triggerchecks.h"
#include "triggerforms.h"
#include "workparam.h"

namespace {

// Offsets and widths of the record's fields as the camera defines them, written out here
// independently of the library's encoder.
struct FieldSpot
{
    const char *name;
    int offset;
    int width;
};
constexpr FieldSpot kFields[] = {
    {"mode", 0, 1},          {"activation", 1, 1},         {"byte2", 2, 1},
    {"byte3", 3, 1},         {"activationLevel", 4, 1},    {"byte5", 5, 1},
    {"powerOnDelay", 6, 2},  {"activationAltitude", 8, 2}, {"manualDelay", 10, 2},
    {"pulseTime", 12, 1},    {"pulsePeriod", 13, 1},       {"pulseDuration", 14, 2},
    {"ioLevel", 16, 1},      {"edgeRising", 17, 1},        {"ioDuration", 18, 2},
    {"timeInterval", 20, 2}, {"distanceInterval", 22, 2},
};

using Fields = QMap<QString, int>;

Fields fieldsOf(const WorkParam &p)
{
    const QByteArray bytes = WorkParamRecord::toBytes(p);
    Fields fields;
    for (const FieldSpot &f : kFields) {
        int v = quint8(bytes[f.offset]);
        if (f.width == 2)
            v |= quint8(bytes[f.offset + 1]) << 8;
        fields.insert(QString::fromLatin1(f.name), v);
    }
    return fields;
}

// The camera's record before an editor writes: every field distinct, the camera's own bytes
// 2, 3 and 5 set, so that any field an editor should not touch shows when it changes.
WorkParam cameraRecord()
{
    WorkParam p{};
    p.mode = 1;
    p.activation = 2;
    p.reserved2[0] = 0xa5;
    p.reserved2[1] = 0x5a;
    p.activationLevel = 0;
    p.reserved5 = 0xc3;
    p.powerOnDelay = 77;
    p.activationAltitude = 4321;
    p.manualDelay = 66;
    p.pulseTime = 11;
    p.pulsePeriod = 22;
    p.pulseDuration = 333;
    p.ioLevel = 0;
    p.edgeRising = 0;
    p.ioDuration = 444;
    p.timeInterval = 999;
    p.distanceInterval = 888;
    return p;
}

IntervalForm intervalForm(const QString &interval, int entry = 0, const QString &value = QString())
{
    IntervalForm form;
    form.interval = interval;
    form.activationEntry = entry;
    form.landingGearDown = true;
    form.powerOnDelay = entry == 2 ? value : QStringLiteral("9");
    form.manualDelay = entry == 3 ? value : QStringLiteral("9");
    form.altitude = entry == 4 ? value : QStringLiteral("9");
    return form;
}

// A refused check must carry no record worth sending; an accepted one changes exactly the
// fields the row names and carries every other one over from the camera's record.
void verify(const CheckResult &result, const QString &message, const Fields &written)
{
    QCOMPARE(result.message, message);
    if (!message.isEmpty())
        return;
    Fields expected = fieldsOf(cameraRecord());
    for (auto it = written.begin(); it != written.end(); ++it)
        expected[it.key()] = it.value();
    QCOMPARE(fieldsOf(result.record), expected);
}

const QString kIllegal = QStringLiteral("输入值非法");
const QString kMissing = QStringLiteral("有参数未输入!");
const QString kGear = QStringLiteral("请检查是否连接起落架！");
const QString kDelay = QStringLiteral("延时时间输入应小于10000!");
const QString kAltitude = QStringLiteral("高度输入应小于10000!");
const QString kDuration = QStringLiteral("持续时间输入应小于10000!");
const QString kDistance = QStringLiteral("间隔应该输入小于500!");

} // namespace

Q_DECLARE_METATYPE(IntervalForm)
Q_DECLARE_METATYPE(PwmForm)

class tst_TriggerChecks : public QObject
{
    Q_OBJECT
private slots:
    void recordBytes();
    void dropDownOrder_data();
    void dropDownOrder();
    void timer_data();
    void timer();
    void distance_data();
    void distance();
    void distanceAsksBeforeIntervalChecks();
    void pwm_data();
    void pwm();
    void ioAndEdge();
    void loadedTextsSendTheSameRecord_data();
    void loadedTextsSendTheSameRecord();
};

void tst_TriggerChecks::recordBytes()
{
    const QByteArray bytes = WorkParamRecord::toBytes(cameraRecord());
    QCOMPARE(bytes.toHex(), QByteArray("0102a55a00c34d00e11042000b164d010000bc01e7037803"));
    WorkParam back{};
    QVERIFY(WorkParamRecord::fromBytes(bytes, back));
    QVERIFY(WorkParamRecord::equal(back, cameraRecord()));
    QVERIFY(!WorkParamRecord::fromBytes(bytes.left(23), back));
    QVERIFY(!WorkParamRecord::fromBytes(bytes + '\0', back));
}

void tst_TriggerChecks::dropDownOrder_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << 1 << "起落架信号"
                       << "gear";
    QTest::newRow("1") << 1 << 2 << "外部高低电平"
                       << "level";
    QTest::newRow("2") << 2 << 3 << "上电延时触发"
                       << "power-on";
    QTest::newRow("3 is code 5") << 3 << 5 << "手动延时触发"
                                 << "manual";
    QTest::newRow("4 is code 4") << 4 << 4 << "高度触发"
                                 << "altitude";
}

void tst_TriggerChecks::dropDownOrder()
{
    QFETCH(int, entry);
    QFETCH(int, code);
    QCOMPARE(WorkParamRecord::activationForEntry(entry), code);
    QCOMPARE(WorkParamRecord::entryForActivation(code), entry);
    QTEST(WorkParamRecord::activationEntries().value(entry), "text");
    QTEST(WorkParamRecord::activationName(code), "name");
    QCOMPARE(WorkParamRecord::activationFromName(WorkParamRecord::activationName(code)), code);
    QCOMPARE(WorkParamRecord::activationForEntry(5), 0);
    QCOMPARE(WorkParamRecord::entryForActivation(6), -1);
}

void tst_TriggerChecks::timer_data()
{
    QTest::addColumn<IntervalForm>("form");
    QTest::addColumn<QString>("message");
    QTest::addColumn<Fields>("written");
    const Fields gear{{"mode", 2}, {"activation", 1}};
    auto with = [](Fields f, const char *key, int v) {
        f.insert(QString::fromLatin1(key), v);
        return f;
    };
    QTest::newRow("5 s") << intervalForm("5") << "" << with(gear, "timeInterval", 50);
    QTest::newRow("one decimal carried")
        << intervalForm("2.5") << "" << with(gear, "timeInterval", 25);
    QTest::newRow("2.3 exactly") << intervalForm("2.3") << "" << with(gear, "timeInterval", 23);
    QTest::newRow("second decimal cut")
        << intervalForm("2.59") << "" << with(gear, "timeInterval", 25);
    QTest::newRow("largest that fits")
        << intervalForm("6553.5") << "" << with(gear, "timeInterval", 65535);
    QTest::newRow("would wrap") << intervalForm("6553.6") << "间隔时间输入应小于6553.5!"
                                << Fields();
    QTest::newRow("below a tenth")
        << intervalForm("0.05") << "间隔时间输入应不小于0.1!" << Fields();
    QTest::newRow("empty") << intervalForm("") << kMissing << Fields();
    QTest::newRow("exponent") << intervalForm("1e2") << kIllegal << Fields();
    QTest::newRow("leading point") << intervalForm(".5") << kIllegal << Fields();
    QTest::newRow("trailing point") << intervalForm("5.") << kIllegal << Fields();
    QTest::newRow("validator's wildcard") << intervalForm("2x5") << kIllegal << Fields();
    IntervalForm noGear = intervalForm("5");
    noGear.landingGearDown = false;
    QTest::newRow("gear not down") << noGear << kGear << Fields();
    IntervalForm high = intervalForm("5", 1);
    high.highLevel = true;
    QTest::newRow("high level") << high << ""
                                << Fields{{"mode", 2},
                                          {"activation", 2},
                                          {"timeInterval", 50},
                                          {"activationLevel", 1}};
    const Fields powerOn{{"mode", 2}, {"activation", 3}, {"timeInterval", 50}};
    QTest::newRow("power-on 3 -> 5")
        << intervalForm("5", 2, "3") << "" << with(powerOn, "powerOnDelay", 5);
    QTest::newRow("power-on 6") << intervalForm("5", 2, "6") << ""
                                << with(powerOn, "powerOnDelay", 6);
    QTest::newRow("power-on 7.9 cut")
        << intervalForm("5", 2, "7.9") << "" << with(powerOn, "powerOnDelay", 7);
    QTest::newRow("power-on missing") << intervalForm("5", 2, "") << kMissing << Fields();
    QTest::newRow("power-on 10000") << intervalForm("5", 2, "10000") << kDelay << Fields();
    const Fields manual{{"mode", 2}, {"activation", 5}, {"timeInterval", 50}};
    QTest::newRow("manual 2 kept")
        << intervalForm("5", 3, "2") << "" << with(manual, "manualDelay", 2);
    QTest::newRow("manual exponent") << intervalForm("5", 3, "2E1") << kIllegal << Fields();
    const Fields altitude{{"mode", 2}, {"activation", 4}, {"timeInterval", 50}};
    QTest::newRow("altitude 1234.5")
        << intervalForm("5", 4, "1234.5") << "" << with(altitude, "activationAltitude", 1234);
    QTest::newRow("altitude 12345") << intervalForm("5", 4, "12345") << kAltitude << Fields();
    QTest::newRow("interval before delay") << intervalForm("5.", 2, "") << kIllegal << Fields();
}

void tst_TriggerChecks::timer()
{
    QFETCH(IntervalForm, form);
    QFETCH(QString, message);
    QFETCH(Fields, written);
    verify(TriggerChecks::timer(form, cameraRecord()), message, written);
}

void tst_TriggerChecks::distance_data()
{
    QTest::addColumn<IntervalForm>("form");
    QTest::addColumn<QString>("message");
    QTest::addColumn<Fields>("written");
    const Fields level{{"mode", 3}, {"activation", 2}, {"activationLevel", 0}};
    auto with = [](Fields f, const char *key, int v) {
        f.insert(QString::fromLatin1(key), v);
        return f;
    };
    QTest::newRow("12.34 -> 123") << intervalForm("12.34", 1) << ""
                                  << with(level, "distanceInterval", 123);
    QTest::newRow("500 accepted") << intervalForm("500", 1) << ""
                                  << with(level, "distanceInterval", 5000);
    QTest::newRow("500.5 refused") << intervalForm("500.5", 1) << kDistance << Fields();
    QTest::newRow("ten characters") << intervalForm("0000000001", 1) << kDistance << Fields();
    QTest::newRow("exponent") << intervalForm("5e1", 1) << kIllegal << Fields();
    QTest::newRow("trailing point") << intervalForm("5.", 1) << kIllegal << Fields();
    QTest::newRow("negative") << intervalForm("-5", 1) << kIllegal << Fields();
    QTest::newRow("empty interval") << intervalForm("", 1) << kMissing << Fields();
    const Fields powerOn{{"mode", 3}, {"activation", 3}, {"distanceInterval", 500}};
    QTest::newRow("power-on 3 -> 10")
        << intervalForm("50", 2, "3") << "" << with(powerOn, "powerOnDelay", 10);
    QTest::newRow("power-on 5 -> 10")
        << intervalForm("50", 2, "5") << "" << with(powerOn, "powerOnDelay", 10);
    QTest::newRow("power-on 6") << intervalForm("50", 2, "6") << ""
                                << with(powerOn, "powerOnDelay", 6);
    QTest::newRow("power-on empty") << intervalForm("50", 2, "") << kMissing << Fields();
    QTest::newRow("power-on 10000") << intervalForm("50", 2, "10000") << kDelay << Fields();
    const Fields manual{{"mode", 3}, {"activation", 5}, {"distanceInterval", 500}};
    QTest::newRow("manual 2 -> 5")
        << intervalForm("50", 3, "2") << "" << with(manual, "manualDelay", 5);
    QTest::newRow("manual 9999.9")
        << intervalForm("50", 3, "9999.9") << "" << with(manual, "manualDelay", 9999);
    const Fields altitude{{"mode", 3}, {"activation", 4}, {"distanceInterval", 500}};
    QTest::newRow("altitude 1234.5")
        << intervalForm("50", 4, "1234.5") << "" << with(altitude, "activationAltitude", 1234);
    QTest::newRow("altitude 12345") << intervalForm("50", 4, "12345") << kAltitude << Fields();
    IntervalForm noGear = intervalForm("50");
    noGear.landingGearDown = false;
    QTest::newRow("gear not down") << noGear << kGear << Fields();
    // The activation field is checked before the question, the interval after it.
    QTest::newRow("delay before interval") << intervalForm("600", 2, "12345") << kDelay << Fields();
    QTest::newRow("interval before empty delay")
        << intervalForm("600", 2, "") << kDistance << Fields();
}

void tst_TriggerChecks::distance()
{
    QFETCH(IntervalForm, form);
    QFETCH(QString, message);
    QFETCH(Fields, written);
    verify(TriggerChecks::distance(form, cameraRecord()), message, written);
}

// An empty delay passes the first step, so the operator is asked before being told it is missing.
void tst_TriggerChecks::distanceAsksBeforeIntervalChecks()
{
    const IntervalForm form = intervalForm("50", 2, "");
    const CheckResult fields = TriggerChecks::distanceFields(form, cameraRecord());
    QVERIFY(fields.ok());
    QCOMPARE(fields.record.powerOnDelay, quint16(10));
    QCOMPARE(TriggerChecks::distanceInterval(form, fields.record.activation), kMissing);
    QCOMPARE(TriggerChecks::distanceInterval(intervalForm("50", 2, "8"), 3), QString());
}

void tst_TriggerChecks::pwm_data()
{
    QTest::addColumn<PwmForm>("form");
    QTest::addColumn<QString>("message");
    QTest::addColumn<Fields>("written");
    auto sent = [](int duration, int time, int period) {
        return Fields{
            {"mode", 4}, {"pulseDuration", duration}, {"pulseTime", time}, {"pulsePeriod", period}};
    };
    QTest::newRow("12.5 and 20") << PwmForm{"40", "12.5", "20"} << "" << sent(40, 125, 200);
    QTest::newRow("25.5 fits a byte") << PwmForm{"40", "25.5", "25.5"} << "" << sent(40, 255, 255);
    QTest::newRow("pulse time 25.6")
        << PwmForm{"40", "25.6", "20"} << "脉冲时间输入应小于25.5!" << Fields();
    QTest::newRow("period 25.6") << PwmForm{"40", "12.5", "25.6"} << "周期输入应小于25.5!"
                                 << Fields();
    QTest::newRow("duration 9999.9") << PwmForm{"9999.9", "1", "2"} << "" << sent(9999, 10, 20);
    QTest::newRow("duration 10000") << PwmForm{"10000", "1", "2"} << kDuration << Fields();
    QTest::newRow("pulse time illegal") << PwmForm{"40", "+1", "2"} << kIllegal << Fields();
    // The order of the messages.
    QTest::newRow("empty before illegal") << PwmForm{"40", "1e1", ""} << kMissing << Fields();
    QTest::newRow("illegal before length") << PwmForm{"10000", "1E1", "2"} << kIllegal << Fields();
    QTest::newRow("duration before pulse time")
        << PwmForm{"10000", "30", "2"} << kDuration << Fields();
    QTest::newRow("pulse time before period")
        << PwmForm{"40", "30", "30"} << "脉冲时间输入应小于25.5!" << Fields();
}

void tst_TriggerChecks::pwm()
{
    QFETCH(PwmForm, form);
    QFETCH(QString, message);
    QFETCH(Fields, written);
    verify(TriggerChecks::pwm(form, cameraRecord()), message, written);
}

void tst_TriggerChecks::ioAndEdge()
{
    verify(TriggerChecks::io(IoForm{true, "20"}, cameraRecord()), QString(),
           Fields{{"mode", 5}, {"ioLevel", 1}, {"ioDuration", 20}});
    verify(TriggerChecks::io(IoForm{false, "9999.9"}, cameraRecord()), QString(),
           Fields{{"mode", 5}, {"ioLevel", 0}, {"ioDuration", 9999}});
    verify(TriggerChecks::io(IoForm{true, ""}, cameraRecord()), kMissing, {});
    verify(TriggerChecks::io(IoForm{true, ".2"}, cameraRecord()), kIllegal, {});
    verify(TriggerChecks::io(IoForm{true, "10000"}, cameraRecord()), kDuration, {});
    verify(TriggerChecks::edge(true, cameraRecord()), QString(),
           Fields{{"mode", 6}, {"edgeRising", 1}});
    verify(TriggerChecks::edge(false, cameraRecord()), QString(),
           Fields{{"mode", 6}, {"edgeRising", 0}});
}

// What the one-time load writes into the editors must, sent back unchanged, give the camera's
// own values: a fractional timer interval must not lose its tenth.
void tst_TriggerChecks::loadedTextsSendTheSameRecord_data()
{
    QTest::addColumn<int>("timeInterval");
    QTest::addColumn<QString>("timerText");
    QTest::addColumn<int>("distanceInterval");
    QTest::addColumn<QString>("distanceText");
    QTest::newRow("whole seconds") << 50 << "5" << 500 << "50.0";
    QTest::newRow("a tenth") << 25 << "2.5" << 123 << "12.3";
    QTest::newRow("largest") << 65535 << "6553.5" << 5000 << "500.0";
}

void tst_TriggerChecks::loadedTextsSendTheSameRecord()
{
    QFETCH(int, timeInterval);
    QFETCH(int, distanceInterval);
    WorkParam camera = cameraRecord();
    camera.activation = 5; // manual delay: entry 3
    camera.timeInterval = quint16(timeInterval);
    camera.distanceInterval = quint16(distanceInterval);
    camera.pulseTime = 125;
    camera.pulsePeriod = 255;
    const TriggerForms forms = TriggerForms::fromRecord(camera, true);
    QTEST(forms.timer.interval, "timerText");
    QTEST(forms.distance.interval, "distanceText");
    QCOMPARE(forms.activationEntry, 3);
    QCOMPARE(forms.pwm.pulseTime, QStringLiteral("12.5"));

    const CheckResult timer = TriggerChecks::timer(forms.timer, camera);
    QVERIFY2(timer.ok(), qPrintable(timer.message));
    QCOMPARE(int(timer.record.timeInterval), timeInterval);
    QCOMPARE(int(timer.record.manualDelay), int(camera.manualDelay));
    const CheckResult distance = TriggerChecks::distance(forms.distance, camera);
    QVERIFY2(distance.ok(), qPrintable(distance.message));
    QCOMPARE(int(distance.record.distanceInterval), distanceInterval);
    const CheckResult pwm = TriggerChecks::pwm(forms.pwm, camera);
    QVERIFY2(pwm.ok(), qPrintable(pwm.message));
    QCOMPARE(pwm.record.pulsePeriod, camera.pulsePeriod);
}

QTEST_GUILESS_MAIN(tst_TriggerChecks)
#include "tst_triggerchecks.moc"
