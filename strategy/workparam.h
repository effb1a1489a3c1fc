#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>

#include "v7k.h"

// The camera's trigger configuration is the library's WorkParam (v7k.h); this module gives its
// codes their names and its 24 bytes their order, so pages, tool and tests share one reading.

// Pinned here as well as in the library: the pages and the tool depend on every one of them.
static_assert(sizeof(WorkParam) == 24, "WorkParam is 24 bytes on the wire");
static_assert(offsetof(WorkParam, mode) == 0, "mode");
static_assert(offsetof(WorkParam, activation) == 1, "activation");
static_assert(offsetof(WorkParam, reserved2) == 2, "bytes 2 and 3 are the camera's own");
static_assert(offsetof(WorkParam, activationLevel) == 4, "activationLevel");
static_assert(offsetof(WorkParam, reserved5) == 5, "byte 5 is the camera's own");
static_assert(offsetof(WorkParam, powerOnDelay) == 6, "powerOnDelay");
static_assert(offsetof(WorkParam, activationAltitude) == 8, "activationAltitude");
static_assert(offsetof(WorkParam, manualDelay) == 10, "manualDelay");
static_assert(offsetof(WorkParam, pulseTime) == 12, "pulseTime");
static_assert(offsetof(WorkParam, pulsePeriod) == 13, "pulsePeriod");
static_assert(offsetof(WorkParam, pulseDuration) == 14, "pulseDuration");
static_assert(offsetof(WorkParam, ioLevel) == 16, "ioLevel");
static_assert(offsetof(WorkParam, edgeRising) == 17, "edgeRising");
static_assert(offsetof(WorkParam, ioDuration) == 18, "ioDuration");
static_assert(offsetof(WorkParam, timeInterval) == 20, "timeInterval");
static_assert(offsetof(WorkParam, distanceInterval) == 22, "distanceInterval");

enum class WorkMode : quint8 {
    Debug = 1,
    FixedTime = 2,
    FixedDistance = 3,
    Pwm = 4,
    Io = 5,
    Edge = 6
};

enum class Activation : quint8 {
    LandingGear = 1,
    ExternalLevel = 2,
    PowerOnDelay = 3,
    Altitude = 4,
    ManualDelay = 5,
};

// Codes, names and bytes of the work-parameter record.
namespace WorkParamRecord {

constexpr int kSize = 24;
constexpr int kActivationEntries = 5;

// The "激活方式" drop-down lists the manual delay before the altitude although its code is
// higher: entry 3 is code 5 and entry 4 is code 4. Both return 0 / -1 outside the table.
int activationForEntry(int entry);
int entryForActivation(int code);
QStringList activationEntries(); // the drop-down's texts, in entry order

// Command-line names: debug, time, distance, pwm, io, edge; gear, level, power-on, manual,
// altitude. Unknown codes name as "unknown", unknown names give 0.
QString modeName(int mode);
QString activationName(int code);
int activationFromName(const QString &name);

// The 24 bytes, little-endian, field by field through the library's own encoder.
QByteArray toBytes(const WorkParam &param);
// False (and the record untouched) unless exactly 24 bytes are given.
bool fromBytes(const QByteArray &bytes, WorkParam &param);

bool equal(const WorkParam &a, const WorkParam &b);

} // namespace WorkParamRecord
