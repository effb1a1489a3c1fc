#include "triggerforms.h"

#include "workparam.h"

QString TriggerForms::timerIntervalText(int tenths)
{
    if (tenths % 10 == 0)
        return QString::number(tenths / 10);
    return QString::number(tenths / 10.0, 'f', 1);
}

TriggerForms TriggerForms::fromRecord(const WorkParam &record, bool landingGearDown)
{
    TriggerForms forms;
    forms.activationEntry = WorkParamRecord::entryForActivation(record.activation);
    for (IntervalForm *form : {&forms.timer, &forms.distance}) {
        form->activationEntry = forms.activationEntry < 0 ? 0 : forms.activationEntry;
        form->highLevel = record.activationLevel != 0;
        form->powerOnDelay = QString::number(record.powerOnDelay);
        form->manualDelay = QString::number(record.manualDelay);
        form->altitude = QString::number(record.activationAltitude);
        form->landingGearDown = landingGearDown;
    }
    forms.timer.interval = timerIntervalText(record.timeInterval);
    forms.distance.interval = QString::number(record.distanceInterval / 10.0, 'f', 1);

    forms.pwm.pulseTime = QString::number(record.pulseTime / 10.0, 'f', 1);
    forms.pwm.period = QString::number(record.pulsePeriod / 10.0, 'f', 1);
    forms.pwm.pulseDuration = QString::number(record.pulseDuration);
    forms.io.highLevel = record.ioLevel != 0;
    forms.io.duration = QString::number(record.ioDuration);
    forms.edgeRising = record.edgeRising != 0;
    return forms;
}
