#include "triggerchecks.h"

#include "inputcheck.h"
#include "workparam.h"

using namespace InputCheck;

namespace TriggerChecks {

namespace {
const QString kDelayLimit = QStringLiteral("延时时间输入应小于10000!");
const QString kAltitudeLimit = QStringLiteral("高度输入应小于10000!");
const QString kDurationLimit = QStringLiteral("持续时间输入应小于10000!");
const QString kDistanceLimit = QStringLiteral("间隔应该输入小于500!");
// The record's 16 bits of tenths end at 6553.5 s; a longer interval would wrap.
const QString kTimeLimit = QStringLiteral("间隔时间输入应小于6553.5!");
const QString kTimeFloor = QStringLiteral("间隔时间输入应不小于0.1!");
const QString kPulseTimeLimit = QStringLiteral("脉冲时间输入应小于25.5!");
const QString kPeriodLimit = QStringLiteral("周期输入应小于25.5!");

constexpr int kFieldDigits = 5; // a value field's integer part stays below 10000
constexpr qint64 kU16 = 65535;
constexpr qint64 kU8 = 255;

CheckResult refuse(const QString &message)
{
    CheckResult result;
    result.message = message;
    return result;
}

// An activation value field: a legal text whose integer part stays below five digits. An
// empty text passes here as 0; the callers decide when it counts as missing.
QString checkValueField(const QString &text, const QString &limitMessage, quint16 &value)
{
    if (isIllegal(text))
        return illegalText();
    if (integerPart(text).size() >= kFieldDigits)
        return limitMessage;
    value = quint16(truncatedWhole(text, kU16));
    return QString();
}
} // namespace

QString landingGearText()
{
    return QStringLiteral("请检查是否连接起落架！");
}

QString missingText()
{
    return QStringLiteral("有参数未输入!");
}

namespace {
// How the two interval editors differ in their activation fields: the timer calls an empty
// value missing before it checks it, and each editor raises short delays to its own floor.
struct ActivationRules
{
    bool emptyIsMissing;
    quint16 powerOnFloor; // a power-on delay of 5 s or less becomes this
    quint16 manualFloor;  // likewise the manual delay; 0 keeps the value as typed
};
constexpr ActivationRules TimerActivation{true, 5, 0};
constexpr ActivationRules DistanceActivation{false, 10, 5};

// Fills the activation of r from the form's chosen entry; the refusal, or empty.
QString activationFields(const IntervalForm &form, const ActivationRules &rules, WorkParam &r)
{
    const auto field = [&rules](const QString &text, const QString &limit, quint16 &value) {
        return rules.emptyIsMissing && text.isEmpty() ? missingText()
                                                      : checkValueField(text, limit, value);
    };
    const auto floored = [](quint16 value, quint16 floor) {
        return floor != 0 && value <= 5 ? floor : value;
    };
    QString message;
    quint16 v = 0;
    switch (form.activationEntry) {
    case 0:
        if (!form.landingGearDown)
            return landingGearText();
        break;
    case 1:
        r.activationLevel = form.highLevel ? 1 : 0;
        break;
    case 2:
        message = field(form.powerOnDelay, kDelayLimit, v);
        r.powerOnDelay = floored(v, rules.powerOnFloor);
        break;
    case 3:
        message = field(form.manualDelay, kDelayLimit, v);
        r.manualDelay = floored(v, rules.manualFloor);
        break;
    case 4:
        message = field(form.altitude, kAltitudeLimit, v);
        r.activationAltitude = v;
        break;
    default:
        return illegalText();
    }
    r.activation = quint8(WorkParamRecord::activationForEntry(form.activationEntry));
    return message;
}
} // namespace

CheckResult timer(const IntervalForm &form, const WorkParam &current)
{
    CheckResult result;
    WorkParam &r = result.record;
    r = current;
    r.mode = quint8(WorkMode::FixedTime);
    if (isIllegal(form.interval))
        return refuse(illegalText());
    if (form.interval.isEmpty())
        return refuse(missingText());
    const qint64 tenths = truncatedTenths(form.interval, kU16);
    if (tenths < 0)
        return refuse(kTimeLimit);
    if (tenths == 0)
        return refuse(kTimeFloor);
    r.timeInterval = quint16(tenths);

    const QString message = activationFields(form, TimerActivation, r);
    if (!message.isEmpty())
        return refuse(message);
    return result;
}

namespace {
// The distance editor's two steps, in the order its refusals come: the activation field first,
// then the interval and the missing fields.
CheckResult distanceFields(const IntervalForm &form, const WorkParam &current)
{
    CheckResult result;
    WorkParam &r = result.record;
    r = current;
    r.mode = quint8(WorkMode::FixedDistance);
    // Checked in the second step; until then any value will do.
    const qint64 tenths = isIllegal(form.interval) ? 0 : truncatedTenths(form.interval, kU16);
    r.distanceInterval = quint16(tenths < 0 ? 0 : tenths);

    const QString message = activationFields(form, DistanceActivation, r);
    if (!message.isEmpty())
        return refuse(message);
    return result;
}

QString distanceInterval(const IntervalForm &form, int activationCode)
{
    const QString &text = form.interval;
    if (isIllegal(text))
        return illegalText();
    if (text.size() >= 10 || value(text) > 500)
        return kDistanceLimit;
    const bool noInterval = text.isEmpty();
    switch (activationCode) {
    case int(Activation::PowerOnDelay):
        return noInterval || form.powerOnDelay.isEmpty() ? missingText() : QString();
    case int(Activation::ManualDelay):
        return noInterval || form.manualDelay.isEmpty() ? missingText() : QString();
    case int(Activation::Altitude):
        return noInterval || form.altitude.isEmpty() ? missingText() : QString();
    default:
        return noInterval ? missingText() : QString();
    }
}
} // namespace

CheckResult distance(const IntervalForm &form, const WorkParam &current)
{
    CheckResult result = distanceFields(form, current);
    if (result.ok())
        result.message = distanceInterval(form, result.record.activation);
    return result;
}

CheckResult pwm(const PwmForm &form, const WorkParam &current)
{
    if (form.pulseTime.isEmpty() || form.pulseDuration.isEmpty() || form.period.isEmpty())
        return refuse(missingText());
    for (const QString *text : {&form.pulseTime, &form.pulseDuration, &form.period}) {
        if (isIllegal(*text))
            return refuse(illegalText());
    }
    if (integerPart(form.pulseDuration).size() >= kFieldDigits)
        return refuse(kDurationLimit);
    if (value(form.pulseTime) > 25.5)
        return refuse(kPulseTimeLimit);
    if (value(form.period) > 25.5)
        return refuse(kPeriodLimit);
    CheckResult result;
    WorkParam &r = result.record;
    r = current;
    r.mode = quint8(WorkMode::Pwm);
    r.pulseTime = quint8(truncatedTenths(form.pulseTime, kU8));
    r.pulseDuration = quint16(truncatedWhole(form.pulseDuration, kU16));
    r.pulsePeriod = quint8(truncatedTenths(form.period, kU8));
    return result;
}

CheckResult io(const IoForm &form, const WorkParam &current)
{
    if (form.duration.isEmpty())
        return refuse(missingText());
    if (isIllegal(form.duration))
        return refuse(illegalText());
    if (integerPart(form.duration).size() >= kFieldDigits)
        return refuse(kDurationLimit);
    CheckResult result;
    WorkParam &r = result.record;
    r = current;
    r.mode = quint8(WorkMode::Io);
    r.ioLevel = form.highLevel ? 1 : 0;
    r.ioDuration = quint16(truncatedWhole(form.duration, kU16));
    return result;
}

CheckResult edge(bool rising, const WorkParam &current)
{
    CheckResult result;
    result.record = current;
    result.record.mode = quint8(WorkMode::Edge);
    result.record.edgeRising = rising ? 1 : 0;
    return result;
}

} // namespace TriggerChecks
