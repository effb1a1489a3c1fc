#pragma once

#include <QString>

#include "v7k.h"

// What the operator has entered in the timer or the distance editor.
struct IntervalForm
{
    QString interval;
    int activationEntry = 0; // entry of the "激活方式" drop-down, 0..4
    bool highLevel = false;  // "高电平" checked
    QString powerOnDelay;    // group 2
    QString manualDelay;     // group 3
    QString altitude;        // group 4
    bool landingGearDown = false;
};

// What the operator has entered in the PWM editor (milliseconds).
struct PwmForm
{
    QString pulseDuration;
    QString pulseTime;
    QString period;
};

// What the operator has entered in the IO editor.
struct IoForm
{
    bool highLevel = false;
    QString duration;
};

// The texts the five editors show for one record of the camera: what the one-time load writes
// into them, and where the command line starts before it applies its options.
struct TriggerForms
{
    IntervalForm timer;
    IntervalForm distance;
    PwmForm pwm;
    IoForm io;
    bool edgeRising = false;
    int activationEntry = -1; // -1: the record's code is none of the drop-down's

    static TriggerForms fromRecord(const WorkParam &record, bool landingGearDown);
    // The timer field's text for a record interval in tenths: whole seconds as a whole number,
    // else with its one decimal, so that loading and sending again keeps the camera's value.
    static QString timerIntervalText(int tenths);
};
