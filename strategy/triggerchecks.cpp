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

    // Unlike the distance editor, the timer checks a missing value before it asks.
    auto valueField = [](const QString &text, const QString &limit, quint16 &field) {
        return text.isEmpty() ? missingText() : checkValueField(text, limit, field);
    };
    QString message;
    quint16 v = 0;
    switch (form.activationEntry) {
    case 0:
        if (!form.landingGearDown)
            return refuse(landingGearText());
        break;
    case 1:
        r.activationLevel = form.highLevel ? 1 : 0;
        break;
    case 2:
        message = valueField(form.powerOnDelay, kDelayLimit, v);
        // The timer never arms sooner than five seconds after power-on.
        r.powerOnDelay = v <= 5 ? 5 : v;
        break;
    case 3:
        message = valueField(form.manualDelay, kDelayLimit, v);
        r.manualDelay = v;
        break;
    case 4:
        message = valueField(form.altitude, kAltitudeLimit, v);
        r.activationAltitude = v;
        break;
    default:
        return refuse(illegalText());
    }
    if (!message.isEmpty())
        return refuse(message);
    r.activation = quint8(WorkParamRecord::activationForEntry(form.activationEntry));
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

    QString message;
    quint16 v = 0;
    r.activation = quint8(WorkParamRecord::activationForEntry(form.activationEntry));
    switch (form.activationEntry) {
    case 0:
        if (!form.landingGearDown)
            return refuse(landingGearText());
        break;
    case 1:
        r.activationLevel = form.highLevel ? 1 : 0;
        break;
    case 2:
        message = checkValueField(form.powerOnDelay, kDelayLimit, v);
        r.powerOnDelay = v <= 5 ? 10 : v;
        break;
    case 3:
        message = checkValueField(form.manualDelay, kDelayLimit, v);
        r.manualDelay = v <= 5 ? 5 : v;
        break;
    case 4:
        message = checkValueField(form.altitude, kAltitudeLimit, v);
        r.activationAltitude = v;
        break;
    default:
        return refuse(illegalText());
    }
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
