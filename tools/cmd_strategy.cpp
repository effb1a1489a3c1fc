// v7tool strategy: shows the camera's trigger configuration, or sets it through the same checks
// as the strategy page's editors, for crews that script their pre-flight set-up.
#include "toolcommand.h"

#include "toolcamera.h"
#include "triggerchecks.h"
#include "workparam.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: v7tool strategy show [--json] [--seconds N]\n"
    "       v7tool strategy set --mode time|distance --interval N\n"
    "                [--activation gear|level|power-on|manual|altitude] [--level high|low]\n"
    "                [--delay S] [--altitude M] [--json] [--seconds N]\n"
    "       v7tool strategy set --mode pwm --pulse-duration MS --pulse-time MS --period MS\n"
    "       v7tool strategy set --mode io --level high|low --duration MS\n"
    "       v7tool strategy set --mode edge --edge rising|falling\n"
    "  show prints the camera's work parameters. set checks the values as the strategy\n"
    "  page does, sends them without asking, reads them back and prints them; a field the\n"
    "  options leave out keeps the camera's value. Exit 1 when the camera does not answer\n"
    "  or the values are refused (the page's message is printed), 2 for bad arguments,\n"
    "  3 when another program (the window) holds the camera.\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

QJsonObject describeWorkParam(const WorkParam &p)
{
    return QJsonObject{{"mode", int(p.mode)},
                       {"modeName", WorkParamRecord::modeName(p.mode)},
                       {"activation", int(p.activation)},
                       {"activationName", WorkParamRecord::activationName(p.activation)},
                       {"activationLevel", int(p.activationLevel)},
                       {"powerOnDelay", int(p.powerOnDelay)},
                       {"activationAltitude", int(p.activationAltitude)},
                       {"manualDelay", int(p.manualDelay)},
                       {"pulseTime", int(p.pulseTime)},
                       {"pulsePeriod", int(p.pulsePeriod)},
                       {"pulseDuration", int(p.pulseDuration)},
                       {"ioLevel", int(p.ioLevel)},
                       {"edgeRising", int(p.edgeRising)},
                       {"ioDuration", int(p.ioDuration)},
                       {"timeInterval", int(p.timeInterval)},
                       {"distanceInterval", int(p.distanceInterval)},
                       {"bytes", QString::fromLatin1(WorkParamRecord::toBytes(p).toHex())}};
}

namespace {

void print(const WorkParam &p, bool json)
{
    if (json) {
        std::printf(
            "%s", QJsonDocument(describeWorkParam(p)).toJson(QJsonDocument::Indented).constData());
        return;
    }
    const char *level = p.activationLevel ? "high" : "low";
    std::printf("mode                %s (%d)\n", qPrintable(WorkParamRecord::modeName(p.mode)),
                p.mode);
    std::printf("time interval       %.1f s\n", p.timeInterval / 10.0);
    std::printf("distance interval   %.1f m\n", p.distanceInterval / 10.0);
    std::printf("activation          %s (%d)\n",
                qPrintable(WorkParamRecord::activationName(p.activation)), p.activation);
    std::printf("activation level    %s\n", level);
    std::printf("power-on delay      %d s\n", p.powerOnDelay);
    std::printf("manual delay        %d s\n", p.manualDelay);
    std::printf("activation altitude %d m\n", p.activationAltitude);
    std::printf("pulse duration      %d ms\n", p.pulseDuration);
    std::printf("pulse time          %.1f ms\n", p.pulseTime / 10.0);
    std::printf("pulse period        %.1f ms\n", p.pulsePeriod / 10.0);
    std::printf("io level            %s\n", p.ioLevel ? "high" : "low");
    std::printf("io duration         %d ms\n", p.ioDuration);
    std::printf("edge                %s\n", p.edgeRising ? "rising" : "falling");
    std::printf("bytes               %s\n", WorkParamRecord::toBytes(p).toHex(' ').constData());
}

// Options as --name value pairs, each at most once; false for anything else.
bool parseOptions(const QStringList &arguments, QHash<QString, QString> &options, bool &json)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--json")) {
            json = true;
            continue;
        }
        if (!a.startsWith(QLatin1String("--")) || i + 1 >= arguments.size() ||
            options.contains(a.mid(2)))
            return false;
        options.insert(a.mid(2), arguments[++i]);
    }
    return true;
}

// Which options each mode takes, and which it needs.
bool optionsFit(const QHash<QString, QString> &options, const QStringList &allowed,
                const QStringList &required)
{
    for (auto it = options.begin(); it != options.end(); ++it) {
        if (!allowed.contains(it.key()) && it.key() != QLatin1String("mode") &&
            it.key() != QLatin1String("seconds"))
            return false;
    }
    for (const QString &name : required) {
        if (!options.contains(name))
            return false;
    }
    return true;
}

bool levelOption(const QString &text, bool &high)
{
    if (text != QLatin1String("high") && text != QLatin1String("low"))
        return false;
    high = text == QLatin1String("high");
    return true;
}

// The interval editors' form: the camera's values as the page would show them, then the options.
bool intervalForm(const QHash<QString, QString> &options, IntervalForm &form)
{
    form.interval = options.value(QStringLiteral("interval"));
    if (options.contains(QStringLiteral("activation"))) {
        const int code =
            WorkParamRecord::activationFromName(options.value(QStringLiteral("activation")));
        if (code == 0)
            return false;
        form.activationEntry = WorkParamRecord::entryForActivation(code);
    }
    const int code = WorkParamRecord::activationForEntry(form.activationEntry);
    if (options.contains(QStringLiteral("level")) &&
        (code != int(Activation::ExternalLevel) ||
         !levelOption(options.value(QStringLiteral("level")), form.highLevel)))
        return false;
    if (options.contains(QStringLiteral("delay"))) {
        if (code == int(Activation::PowerOnDelay))
            form.powerOnDelay = options.value(QStringLiteral("delay"));
        else if (code == int(Activation::ManualDelay))
            form.manualDelay = options.value(QStringLiteral("delay"));
        else
            return false;
    }
    if (options.contains(QStringLiteral("altitude"))) {
        if (code != int(Activation::Altitude))
            return false;
        form.altitude = options.value(QStringLiteral("altitude"));
    }
    return true;
}

int secondsOption(const QHash<QString, QString> &options)
{
    bool ok = true;
    const int seconds = options.value(QStringLiteral("seconds"), QStringLiteral("5")).toInt(&ok);
    return ok && seconds > 0 ? seconds : -1;
}

bool openCamera(ToolCamera &camera, int seconds)
{
    const bool ready =
        camera.open() && camera.waitFor(
                             [](const v7k_context &c) {
                                 return c.statusCount > 0 &&
                                        v7k_get_valid(const_cast<v7k_context *>(&c)) == 1;
                             },
                             seconds * 1000);
    if (!ready)
        std::fprintf(stderr, "%s\n", "相机未连接！");
    return ready;
}

int show(const QStringList &arguments)
{
    QHash<QString, QString> options;
    bool json = false;
    if (!parseOptions(arguments, options, json) || !optionsFit(options, {}, {}))
        return usage();
    const int seconds = secondsOption(options);
    if (seconds < 0)
        return usage();
    ToolCamera camera;
    if (!openCamera(camera, seconds))
        return 1;
    print(v7k_get_work_param(camera.device()), json);
    return 0;
}

int set(const QStringList &arguments)
{
    QHash<QString, QString> options;
    bool json = false;
    if (!parseOptions(arguments, options, json))
        return usage();
    const QString mode = options.value(QStringLiteral("mode"));
    const int seconds = secondsOption(options);
    bool fits = false;
    if (mode == QLatin1String("time") || mode == QLatin1String("distance"))
        fits = optionsFit(options, {"interval", "activation", "level", "delay", "altitude"},
                          {"interval"});
    else if (mode == QLatin1String("pwm"))
        fits = optionsFit(options, {"pulse-duration", "pulse-time", "period"},
                          {"pulse-duration", "pulse-time", "period"});
    else if (mode == QLatin1String("io"))
        fits = optionsFit(options, {"level", "duration"}, {"level", "duration"});
    else if (mode == QLatin1String("edge"))
        fits = optionsFit(options, {"edge"}, {"edge"});
    bool high = false;
    const QString edge = options.value(QStringLiteral("edge"));
    if (!fits || seconds < 0 ||
        (mode == QLatin1String("io") && !levelOption(options.value("level"), high)) ||
        (mode == QLatin1String("edge") && edge != QLatin1String("rising") &&
         edge != QLatin1String("falling")))
        return usage();

    ToolCamera camera;
    if (!openCamera(camera, seconds))
        return 1;
    v7k_context *device = camera.device();
    const WorkParam current = v7k_get_work_param(device);
    TriggerForms forms = TriggerForms::fromRecord(current, device->landingGear != 0);
    if (forms.activationEntry < 0)
        forms.activationEntry = 0;

    CheckResult result;
    if (mode == QLatin1String("time") || mode == QLatin1String("distance")) {
        IntervalForm &form = mode == QLatin1String("time") ? forms.timer : forms.distance;
        if (!intervalForm(options, form))
            return usage();
        result = mode == QLatin1String("time") ? TriggerChecks::timer(form, current)
                                               : TriggerChecks::distance(form, current);
    } else if (mode == QLatin1String("pwm")) {
        const PwmForm form{options.value("pulse-duration"), options.value("pulse-time"),
                           options.value("period")};
        result = TriggerChecks::pwm(form, current);
    } else if (mode == QLatin1String("io")) {
        result = TriggerChecks::io(IoForm{high, options.value("duration")}, current);
    } else {
        result = TriggerChecks::edge(edge == QLatin1String("rising"), current);
    }
    if (!result.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(result.message));
        return 1;
    }

    const WorkParam sent = result.record;
    v7k_set_work_param(device, &sent);
    const bool taken = camera.waitFor(
        [&sent](const v7k_context &c) { return WorkParamRecord::equal(c.workParam, sent); },
        seconds * 1000);
    if (!taken) {
        std::fprintf(stderr, "v7tool strategy: the camera did not take the work parameters\n");
        return 1;
    }
    print(v7k_get_work_param(device), json);
    return 0;
}

int run(const QStringList &arguments)
{
    // Alone it lists every mode and option, as asked.
    if (arguments.isEmpty()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (arguments.first() == QLatin1String("show"))
        return show(arguments.mid(1));
    if (arguments.first() == QLatin1String("set"))
        return set(arguments.mid(1));
    return usage();
}

} // namespace

static ToolCommand command("strategy", "show or set the camera's trigger strategy", kUsage, &run,
                           [](const QStringList &arguments) {
                               return !arguments.isEmpty() &&
                                      (arguments.first() == QLatin1String("show") ||
                                       arguments.first() == QLatin1String("set"));
                           });
