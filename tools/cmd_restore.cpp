// v7tool restore: lists the camera cards a restore would format, with the refusals and the
// photos that have no verified copy; formats them and writes the camera's structure files only
// when told --yes (and never with --dry-run).
#include <QJsonDocument>
#include <QDir>
#include <QJsonObject>

#include <cstdio>

#include "cameracards.h"
#include "cardformatter.h"
#include "cardtemplate.h"
#include "clearthread.h"
#include "restorecards.h"
#include "appsettings.h"
#include "restoreplan.h"
#include "taskconfig.h"
#include "toolcommand.h"

namespace {

const char kUsage[] =
    "usage: v7tool restore [--center ROOT] [--left ROOT] [--right ROOT] [--back ROOT]\n"
    "                      [--front ROOT] [--dry-run] [--yes] [--unsaved-ok]\n"
    "                      [--require-copies 1|2]\n"
    "The cards are the cameras' cards by volume label, or only those named by options.\n"
    "One JSON line per camera: its card (mount root, device, label), why it would not be\n"
    "formatted, and how many of its files have no verified copy off the formatted cards\n"
    "(hidden files and photos whose copies lie on those cards counted apart too). --yes\n"
    "formats the cards and writes the structure files; with files unsaved it also needs\n"
    "--unsaved-ok.\n"
    "Each card's photos with a verified copy on one disk only are counted (\"oneCopy\",\n"
    "and \"N 张照片只有一份备份\" / \"N 张照片没有备份\" per camera); --require-copies 2 (the\n"
    "default when the settings file asks for two copies) holds those as unsaved.\n"
    "exit 0 when done, 1 when a card was refused or failed, 2 for bad arguments,\n"
    "3 when unsaved photos stopped the restore before anything was formatted\n";

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "v7tool restore: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

void printLine(const QJsonObject &object)
{
    std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

QJsonObject describe(const RestoreCard &card)
{
    return {{QStringLiteral("camera"), RestoreCards::label(card.position)},
            {QStringLiteral("present"), card.present()},
            {QStringLiteral("root"), card.root},
            {QStringLiteral("device"), card.device},
            {QStringLiteral("label"), RestoreCards::label(card.position)},
            {QStringLiteral("format"), card.willFormat()},
            {QStringLiteral("refusal"), card.refusal},
            {QStringLiteral("photos"), card.photos},
            {QStringLiteral("unsaved"), card.unsaved},
            {QStringLiteral("hiddenUnsaved"), card.hiddenUnsaved},
            {QStringLiteral("copiesOnFormattedCards"), card.copiesErased},
            {QStringLiteral("oneCopy"), card.oneCopy}};
}

int run(const QStringList &arguments)
{
    QStringList roots(RestoreCards::Count, QString());
    bool named = false;
    bool dryRun = false;
    bool yes = false;
    bool unsavedOk = false;
    int required =
        AppSettings::value(QLatin1String(AppSettings::kRequireTwoCopies), false).toBool() ? 2 : 1;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        int position = -1;
        for (int p = 0; p < RestoreCards::Count; ++p) {
            if (a == QStringLiteral("--") + RestoreCards::label(p).toLower())
                position = p;
        }
        if (position >= 0) {
            if (i + 1 >= arguments.size())
                return usage("a camera option needs a mount root");
            roots[position] = arguments.at(++i);
            named = true;
        } else if (a == QLatin1String("--dry-run")) {
            dryRun = true;
        } else if (a == QLatin1String("--yes")) {
            yes = true;
        } else if (a == QLatin1String("--unsaved-ok")) {
            unsavedOk = true;
        } else if (a == QLatin1String("--require-copies")) {
            const QString count = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            if (count != QLatin1String("1") && count != QLatin1String("2"))
                return usage("--require-copies is 1 or 2");
            required = count.toInt();
        } else {
            return usage(qPrintable(QStringLiteral("unknown argument '%1'").arg(a)));
        }
    }

    if (!named)
        roots = CameraCards::instance()->checkPaths();
    const std::unique_ptr<CardFormatter> formatter = CardFormatter::create();
    const QList<RestoreCard> cards =
        RestorePlan::inspect(roots, *formatter, TaskConfig::defaultPath());
    bool refused = false;
    QStringList toFormat(RestoreCards::Count, QString());
    int unsaved = 0;
    for (const RestoreCard &card : cards) {
        printLine(describe(card));
        refused = refused || (card.present() && !card.willFormat());
        if (card.willFormat()) {
            toFormat[card.position] = card.root;
            unsaved += RestorePlan::held(card, required);
        }
    }
    for (const QString &line : RestorePlan::copyCounts(cards))
        std::fprintf(stderr, "v7tool restore: %s\n", qPrintable(line));
    if (dryRun || !yes) {
        std::fprintf(stderr, "v7tool restore: %s\n",
                     dryRun ? "dry run, nothing formatted" : "nothing formatted without --yes");
        return refused ? 1 : 0;
    }
    if (unsaved > 0 && !unsavedOk) {
        for (const RestoreCard &card : cards) {
            const QByteArray camera = RestoreCards::label(card.position).toUtf8();
            if (card.willFormat() && card.copiesErased > 0)
                std::fprintf(stderr,
                             "v7tool restore: %s: %d photos have their only copies on a card "
                             "this restore formats\n",
                             camera.constData(), card.copiesErased);
            if (card.willFormat() && card.hiddenUnsaved > 0)
                std::fprintf(stderr, "v7tool restore: %s: %d hidden files have no copy\n",
                             camera.constData(), card.hiddenUnsaved);
        }
        std::fprintf(stderr,
                     "v7tool restore: %d photos have %s, nothing formatted "
                     "(--unsaved-ok formats anyway)\n",
                     unsaved, required >= 2 ? "fewer than two verified copies" : "no verified copy");
        return 3;
    }
    const QString missing = CardTemplate::missingFile(CardTemplate::folder());
    if (!missing.isEmpty()) {
        std::fprintf(stderr, "v7tool restore: the card template lacks %s, nothing formatted\n",
                     qPrintable(QDir(CardTemplate::folder()).filePath(missing)));
        return 1;
    }
    ClearThread clear;
    clear.setCardRoots(toFormat);
    clear.start();
    clear.wait();
    bool failed = refused;
    for (int position = 0; position < RestoreCards::Count; ++position) {
        if (toFormat.at(position).isEmpty())
            continue;
        failed = failed || clear.result(position) == 0;
        printLine({{QStringLiteral("camera"), RestoreCards::label(position)},
                   {QStringLiteral("formatted"), clear.formatted(position)},
                   {QStringLiteral("structure"), clear.result(position) != 0},
                   {QStringLiteral("root"), clear.cardRoots().at(position)},
                   {QStringLiteral("error"), clear.error(position)}});
    }
    return failed ? 1 : 0;
}

const ToolCommand command("restore", "format the camera cards and write their structure files",
                          kUsage, run);

} // namespace
