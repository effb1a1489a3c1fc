// v7tool plan: the planning page's calculation without the window: flying height, exposure and
// line spacing, the centre lens's footprint and the time between exposures.
#include "toolcommand.h"

#include "flightplan.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: v7tool plan --gsd CM --focal MM --overlap PCT --sidelap PCT\n"
    "                   [--speed MPS] [--json]\n"
    "  The planning page's figures for the VestraneV7 camera. --speed is the ground\n"
    "  speed (default 20 m/s; 0 leaves the exposure interval out). Overlaps of 100\n"
    "  or more count as 100. Exit 1 when the page would refuse the values (its\n"
    "  message is printed), 2 for bad arguments.\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

int run(const QStringList &arguments)
{
    QHash<QString, QString> options;
    bool json = false;
    const QStringList known = {"gsd", "focal", "overlap", "sidelap", "speed"};
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--json")) {
            json = true;
            continue;
        }
        const QString name = a.mid(2);
        if (!a.startsWith(QLatin1String("--")) || !known.contains(name) || options.contains(name) ||
            i + 1 >= arguments.size())
            return usage();
        options.insert(name, arguments[++i]);
    }
    for (const char *name : {"gsd", "focal", "overlap", "sidelap"}) {
        if (!options.contains(QLatin1String(name)))
            return usage();
    }

    PlanInput input;
    input.gsd = options.value("gsd");
    input.focal = options.value("focal");
    input.forwardOverlap = FlightPlan::clampOverlap(options.value("overlap"));
    input.sideOverlap = FlightPlan::clampOverlap(options.value("sidelap"));
    input.speed = options.value("speed", input.speed);
    const PlanResult plan = FlightPlan::calculate(input);
    if (!plan.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(plan.message));
        return 1;
    }

    if (json) {
        const QJsonObject o{
            {"flyingHeight", plan.flyingHeight},
            {"exposureSpacing", plan.exposureSpacing},
            {"lineSpacing", plan.lineSpacing},
            {"footprintAcross", plan.footprintAcross},
            {"footprintAlong", plan.footprintAlong},
            {"shortestInterval",
             plan.shortestInterval < 0 ? QJsonValue() : QJsonValue(plan.shortestInterval)},
            {"fastestTrigger", FlightPlan::kFastestTriggerSeconds},
            {"tooFast", plan.tooFast},
        };
        std::printf("%s", QJsonDocument(o).toJson(QJsonDocument::Indented).constData());
        return 0;
    }
    std::printf("飞行高度：%s\n", qPrintable(FlightPlan::metresText(plan.flyingHeight)));
    std::printf("航向间隔：%s\n", qPrintable(FlightPlan::metresText(plan.exposureSpacing)));
    std::printf("航线间隔：%s\n", qPrintable(FlightPlan::metresText(plan.lineSpacing)));
    std::printf("旁向覆盖：%s\n", qPrintable(FlightPlan::footprintText(plan.footprintAcross)));
    std::printf("航向覆盖：%s\n", qPrintable(FlightPlan::footprintText(plan.footprintAlong)));
    if (plan.shortestInterval >= 0)
        std::printf("拍照间隔：%s\n", qPrintable(FlightPlan::intervalText(plan.shortestInterval)));
    if (plan.tooFast)
        std::printf("%s\n", qPrintable(FlightPlan::warningText()));
    return 0;
}

} // namespace

static ToolCommand command("plan", "flying height and spacing for a GSD and overlaps", kUsage,
                           &run);
