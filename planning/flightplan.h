#pragma once

#include <QString>

// The planning page's fields as typed.
struct PlanInput
{
    QString gsd = QStringLiteral("5");             // cm
    QString focal = QStringLiteral("25");          // mm
    QString forwardOverlap = QStringLiteral("80"); // %
    QString sideOverlap = QStringLiteral("80");    // %
    QString speed = QStringLiteral("20");          // ground speed, m/s; empty: no interval
};

// What one calculation gives: the library's three figures, truncated to whole metres, and the
// centre lens's footprint and the time between exposures at the ground speed.
struct PlanResult
{
    QString message; // the refusal; empty when the figures hold
    int flyingHeight = 0;
    int exposureSpacing = 0;
    int lineSpacing = 0;
    double footprintAcross = 0;   // m
    double footprintAlong = 0;    // m
    double shortestInterval = -1; // s; negative without a ground speed
    bool tooFast = false;         // the camera cannot fire that often

    bool ok() const { return message.isEmpty(); }
};

// The planning calculator without widgets: the scale table, the overlap clamp, the checks and
// the library's planning calls, shared by the planning page and `v7tool plan`.
namespace FlightPlan {

// The shortest time the camera needs between two exposures: the five cameras store their
// pictures before the trigger controller fires them again.
constexpr double kFastestTriggerSeconds = 1.0;

// "1:500" -> "5", "1:1000" -> "10", "1:2000" -> "20", "1:5000" -> "50"; empty for other texts.
QString gsdForScale(const QString &scale);
// The scale entry a typed GSD selects: 1..5 -> 0, 6..10 -> 1, 11..20 -> 2, 21 and more -> 3;
// -1 (leave the drop-down) for 0 and for a text that is not a whole number.
int scaleEntryForGsd(const QString &gsd);
// An overlap of 100 % or more reads as "100"; any other text stays as it is.
QString clampOverlap(const QString &text);

PlanResult calculate(const PlanInput &input);

QString metresText(int metres);       // "300m"
QString footprintText(double metres); // "282.0m"
QString intervalText(double seconds); // "1.50s"; empty without a ground speed
QString warningText();

} // namespace FlightPlan
