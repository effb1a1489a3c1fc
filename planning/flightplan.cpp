#include "flightplan.h"

#include "inputcheck.h"
#include "v7k.h"

using namespace InputCheck;

namespace FlightPlan {

namespace {
struct Scale
{
    const char *text;
    const char *gsd;
};
constexpr Scale kScales[] = {{"1:500", "5"}, {"1:1000", "10"}, {"1:2000", "20"}, {"1:5000", "50"}};

PlanResult refuse(const QString &message)
{
    PlanResult result;
    result.message = message;
    return result;
}
} // namespace

QString gsdForScale(const QString &scale)
{
    for (const Scale &s : kScales) {
        if (scale == QLatin1String(s.text))
            return QString::fromLatin1(s.gsd);
    }
    return QString();
}

int scaleEntryForGsd(const QString &gsd)
{
    bool whole = false;
    const int g = gsd.toInt(&whole);
    if (!whole || g <= 0)
        return -1;
    return g <= 5 ? 0 : g <= 10 ? 1 : g <= 20 ? 2 : 3;
}

QString clampOverlap(const QString &text)
{
    bool whole = false;
    const int overlap = text.toInt(&whole);
    return whole && overlap >= 100 ? QStringLiteral("100") : text;
}

PlanResult calculate(const PlanInput &input)
{
    if (isIllegal(input.gsd))
        return refuse(illegalText());
    if (integerPart(input.gsd).size() >= 4)
        return refuse(QStringLiteral("GSD输入应小于1000!"));
    if (integerPart(input.focal).size() >= 3)
        return refuse(QStringLiteral("焦距输入应小于100!"));
    for (const QString *text : {&input.forwardOverlap, &input.sideOverlap, &input.focal}) {
        if (isIllegal(*text))
            return refuse(illegalText());
    }
    if (isIllegal(input.speed))
        return refuse(illegalText());
    // At full overlap the next photo is the same photo: the spacing comes out as 0 m and the
    // interval as 0 s, which a crew would fly as given.
    if (value(input.forwardOverlap) >= 100)
        return refuse(QStringLiteral("重叠度应小于100%!"));
    if (value(input.sideOverlap) >= 100)
        return refuse(QStringLiteral("旁向重叠度应小于100%!"));

    // The library takes floats made from double-precision conversions.
    const double gsdMetres = value(input.gsd) / 100;
    const float gsd = float(gsdMetres);
    PlanResult result;
    result.flyingHeight = int(v7k_calc_alt_by_GSD(gsd, value(input.focal)));
    result.exposureSpacing = int(v7k_calc_baseline(gsd, float(value(input.forwardOverlap) / 100)));
    result.lineSpacing = int(v7k_calc_sidelap(gsd, float(value(input.sideOverlap) / 100)));
    result.footprintAcross = gsdMetres * V7K_SENSOR_PIXELS_ACROSS;
    result.footprintAlong = gsdMetres * V7K_SENSOR_PIXELS_ALONG;

    // The crew sets the spacing it is shown, in whole metres; that is what the camera must keep.
    const double speed = value(input.speed);
    if (speed > 0) {
        result.shortestInterval = result.exposureSpacing / speed;
        result.tooFast = result.shortestInterval < kFastestTriggerSeconds;
    }
    return result;
}

QString metresText(int metres)
{
    return QStringLiteral("%1m").arg(metres);
}

QString footprintText(double metres)
{
    return QStringLiteral("%1m").arg(metres, 0, 'f', 1);
}

QString intervalText(double seconds)
{
    return seconds < 0 ? QString() : QStringLiteral("%1s").arg(seconds, 0, 'f', 2);
}

QString warningText()
{
    return QStringLiteral("拍照间隔短于相机最短触发间隔%1s，\n请降低地速或航向重叠度！")
        .arg(kFastestTriggerSeconds, 0, 'f', 1);
}

} // namespace FlightPlan
