// v7tool offload: copies the five camera cards into a target folder with the offload engine,
// the same task files and "Taskconfig.xml" as the offload page; pause with SIGINT or SIGTERM,
// continue with --resume.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>

#include <malloc.h>
#include <unistd.h>

#include "offloadrun.h"
#include "offloadstate.h"
#include "phototagstep.h"
#include "postablecheck.h"
#include "taskconfig.h"
#include "toolcommand.h"

namespace {

volatile std::sig_atomic_t pauseSignal = 0;

void onSignal(int signal)
{
    pauseSignal = signal;
}

const char kUsage[] =
    "usage: v7tool offload --center DIR --front DIR --right DIR --left DIR --back DIR\n"
    "                      --target DIR [--backup DIR] [--pos TABLE.xls]...\n"
    "                      [--split-sorties]\n"
    "                      [--volume-size N --unit GB|MB] [--password TEXT]\n"
    "                      [--no-verify] [--match time|index] [--offset SECONDS]\n"
    "                      [--camera-prefix] [--no-look]\n"
    "       v7tool offload --resume [--no-verify] [--match time|index] [--center DIR ...]\n"
    "with POS tables each photo gets the record its capture time and order match\n"
    "(--match index: photo i of a card is record i); --offset SECONDS gives the\n"
    "camera clock minus the POS clock when the photos cannot tell it.\n"
    "--camera-prefix names every copy with its camera first (Center_DSC00001.JPG),\n"
    "unique within the camera; a resume keeps what the start chose.\n"
    "Each plain copy is looked at once verified (dark, bright, blurred, repeated\n"
    "frames; see v7tool check) beside the copy, and the report gets its quality\n"
    "section; the cards may be removed once the copies are verified. --no-look\n"
    "leaves the look out.\n"
    "--resume takes what is done from the target; a card found elsewhere (or named\n"
    "by its photo folder or mount root) is checked to be the same card.\n"
    "--backup DIR (on another disk than the target) gets a second verified copy of\n"
    "every file from the same read of the card, with its own checksum lists and\n"
    "report; a backup that fails, fills or is missing at --resume never stops the\n"
    "target, and the run then ends with exit 1 saying the backup is incomplete.\n"
    "exit codes: 0 complete and verified; 1 finished with files that failed (listed)\n"
    "or the task state could not be saved; 2 bad arguments or refused input (a\n"
    "--pos table that is not a POS table, a different card, no target, nothing to\n"
    "resume, a target and card folders that overlap or a target on a card, a clock\n"
    "offset the photos cannot tell and no --offset);\n"
    "3 another run holds the lock;\n"
    "128 + signal when paused by SIGINT or SIGTERM (continue with --resume)\n";

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "v7tool offload: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

struct Arguments
{
    OffloadSession::Setup setup;
    QStringList posTables;
    bool resume = false;
    ExposureMatcher::Method method = ExposureMatcher::Method::Time;
    bool hasOffset = false;
    double offset = 0;
    bool haveVolume = false;
    bool haveUnit = false;
    bool look = true;
};

// 0 when the arguments are usable, else the exit code of usage().
int parse(const QStringList &arguments, Arguments *out)
{
    static const char *const cameraOptions[Cameras::Count] = {"--center", "--left", "--right",
                                                              "--front", "--back"};
    double volume = 0;
    QString unit = QStringLiteral("GB");
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        int camera = -1;
        for (int c = 0; c < Cameras::Count; ++c) {
            if (a == QLatin1String(cameraOptions[c]))
                camera = c;
        }
        if (a == QLatin1String("--resume")) {
            out->resume = true;
        } else if (a == QLatin1String("--no-verify")) {
            out->setup.verify = false;
        } else if (a == QLatin1String("--split-sorties")) {
            out->setup.splitSorties = true;
        } else if (a == QLatin1String("--camera-prefix")) {
            out->setup.cameraPrefix = true;
        } else if (a == QLatin1String("--no-look")) {
            out->look = false;
        } else if (!hasValue && a.startsWith(QLatin1String("--"))) {
            return usage(qPrintable(QStringLiteral("%1 needs a value or is unknown").arg(a)));
        } else if (camera >= 0) {
            out->setup.sources[camera] = QFileInfo(arguments.at(++i)).absoluteFilePath();
        } else if (a == QLatin1String("--target")) {
            out->setup.target = QFileInfo(arguments.at(++i)).absoluteFilePath();
        } else if (a == QLatin1String("--backup")) {
            out->setup.backup = QFileInfo(arguments.at(++i)).absoluteFilePath();
        } else if (a == QLatin1String("--pos")) {
            out->posTables << arguments.at(++i);
        } else if (a == QLatin1String("--match")) {
            const QString method = arguments.at(++i);
            if (method != QLatin1String("time") && method != QLatin1String("index"))
                return usage("--match is time or index");
            out->method = method == QLatin1String("index") ? ExposureMatcher::Method::Index
                                                           : ExposureMatcher::Method::Time;
        } else if (a == QLatin1String("--offset")) {
            out->offset = arguments.at(++i).toDouble(&out->hasOffset);
            if (!out->hasOffset || !std::isfinite(out->offset))
                return usage("--offset needs a number of seconds");
        } else if (a == QLatin1String("--volume-size")) {
            bool ok = false;
            out->setup.volumeText = arguments.at(++i);
            volume = out->setup.volumeText.toDouble(&ok);
            // "nan" and "inf" read as numbers; a volume holds at least something.
            if (!ok || !std::isfinite(volume) || volume <= 0)
                return usage("--volume-size needs a number above 0");
            out->haveVolume = true;
        } else if (a == QLatin1String("--unit")) {
            unit = arguments.at(++i);
            if (unit != QLatin1String("GB") && unit != QLatin1String("MB"))
                return usage("--unit is GB or MB");
            out->haveUnit = true;
        } else if (a == QLatin1String("--password")) {
            out->setup.password = true;
            out->setup.passwordText = arguments.at(++i);
        } else {
            return usage(qPrintable(QStringLiteral("unknown argument %1").arg(a)));
        }
    }
    if (out->resume && (!out->setup.target.isEmpty() || !out->setup.backup.isEmpty()))
        return usage("--resume takes the target and the backup from the saved offload");
    if (out->resume)
        return 0;
    bool anyCamera = false;
    for (const QString &source : out->setup.sources) {
        if (source.isEmpty())
            continue;
        anyCamera = true;
        if (!QFileInfo(source).isDir())
            return usage(qPrintable(QStringLiteral("%1 is not a folder").arg(source)));
    }
    if (!anyCamera)
        return usage("no camera folder given");
    if (out->setup.target.isEmpty())
        return usage("no --target given");
    if (out->haveUnit && !out->haveVolume)
        return usage("--unit needs --volume-size");
    if (out->setup.password && !out->haveVolume)
        return usage("--password applies to volumes: give --volume-size");
    out->setup.volumes = out->haveVolume;
    out->setup.volumeGb = unit == QLatin1String("MB") ? volume / 1024.0 : volume;
    out->setup.volumeUnit = unit;
    return 0;
}

// The exit code of a start or resume that did not run, with its reason.
int refused(OffloadRun::Failure failure, const QString &error)
{
    std::fprintf(stderr, "v7tool offload: %s\n", qPrintable(error));
    switch (failure) {
    case OffloadRun::Failure::Locked:
        return 3;
    case OffloadRun::Failure::Refused:
        return 2;
    default:
        return 1;
    }
}

// One progress line: files done of total and speed per camera, and the time left.
void printProgress(const OffloadRun::Progress &p, quint64 lastBytes[Cameras::Count], double seconds)
{
    QString line;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const OffloadRun::Camera &c = p.cameras[camera];
        if (!c.takesPart)
            continue;
        const double rate =
            seconds > 0 ? double(c.bytesDone - lastBytes[camera]) / seconds / 1e6 : 0;
        lastBytes[camera] = c.bytesDone;
        line += QStringLiteral("%1 %2/%3 %4 MB/s%5  ")
                    .arg(QString::fromLatin1(Cameras::folderName(camera)))
                    .arg(c.filesDone)
                    .arg(c.fileCount)
                    .arg(rate, 0, 'f', 1)
                    .arg(c.failed ? QStringLiteral(" (error)") : QString());
    }
    if (p.secondsLeft >= 0) {
        line += QStringLiteral("| about %1:%2 left")
                    .arg(p.secondsLeft / 60)
                    .arg(p.secondsLeft % 60, 2, 10, QLatin1Char('0'));
    } else {
        line += QStringLiteral("| estimating");
    }
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// The files passed over, each on a line of its own; the number of them.
int reportFiles(const OffloadSession &session)
{
    const QStringList lines = session.fileProblemLines();
    for (const QString &line : lines)
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return int(lines.size());
}

// One line per camera: how its photos found their records.
void printMatch(const QJsonObject &match)
{
    for (const QJsonValue &v : match.value(QLatin1String("cameras")).toArray()) {
        const QJsonObject c = v.toObject();
        const QJsonValue offset = c.value(QLatin1String("offsetSeconds"));
        std::printf("%s: %d photos, %d with a POS record by %s, %d missed, %d extra%s\n",
                    qPrintable(c.value(QLatin1String("camera")).toString()),
                    c.value(QLatin1String("photos")).toInt(),
                    c.value(QLatin1String("matched")).toInt(),
                    qPrintable(c.value(QLatin1String("method")).toString()),
                    c.value(QLatin1String("missedCount")).toInt(),
                    int(c.value(QLatin1String("extra")).toArray().size()),
                    offset.isNull() ? ""
                                    : qPrintable(QStringLiteral(", camera clock %1 s from POS")
                                                     .arg(offset.toDouble(), 0, 'f', 1)));
    }
}

int run(const QStringList &arguments)
{
    Arguments args;
    if (const int code = parse(arguments, &args))
        return code;
    // Photo buffers are mapped and unmapped as they come and go, instead of raising the heap
    // for good each time one is freed (five cameras, two photos each in hand).
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // Before any engine runs: a signal from now on pauses, never kills.
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    QElapsedTimer clock;
    clock.start();
    OffloadRun offload;
    offload.setLook(args.look);
    offload.setMatchMethod(args.method);
    offload.setMatchOffset(args.hasOffset, args.offset);
    QString error;
    if (args.resume) {
        if (const OffloadRun::Failure failure = offload.lockState(&error);
            failure != OffloadRun::Failure::None)
            return refused(failure, error);
        const OffloadState::Offer offer = OffloadState::inspect(offload.stateFolder());
        for (const QString &problem : offer.problems)
            std::fprintf(stderr, "v7tool offload: %s\n", qPrintable(problem));
        if (offer.kind == OffloadState::Offer::Nothing) {
            std::fprintf(stderr, "v7tool offload: no unfinished offload to resume in %s\n",
                         qPrintable(offload.configPath()));
            return 2;
        }
        if (offer.kind == OffloadState::Offer::Damaged)
            return 2;
        for (int camera = 0; camera < Cameras::Count; ++camera)
            offload.session().setGivenCard(camera, args.setup.sources[camera]);
        const bool ok = offload.resumeNow(offer.config, args.setup.verify, &error);
        for (const QString &note : offload.session().notes())
            std::fprintf(stderr, "v7tool offload: %s\n", qPrintable(note));
        if (!ok)
            return refused(offload.failure(), error);
    } else {
        // Every table is read before anything is copied: photos tagged from a table that is
        // not one cannot be told apart from correctly tagged ones afterwards.
        for (const QString &table : args.posTables) {
            MyExcelObject object;
            const PosTableCheck check = PosSpreadsheet::readChecked(table, &object);
            if (!check.accepted()) {
                std::fprintf(stderr, "v7tool offload: refused input: %s\n",
                             qPrintable(check.message(table)));
                return 2;
            }
            std::printf("%s: %d POS records\n", qPrintable(table), int(object.posList.size()));
            args.setup.pos.append(PhotoTagStep::posSet(object));
        }
        if (!offload.startNow(args.setup, &error))
            return refused(offload.failure(), error);
    }
    if (!error.isEmpty())
        std::fprintf(stderr, "v7tool offload: %s\n", qPrintable(error));
    printMatch(offload.matchJson());
    if (const int found = offload.session().verifiedFound(); found > 0)
        std::printf("skipped %d already verified\n", found);

    quint64 lastBytes[Cameras::Count] = {};
    OffloadRun::Progress progress = offload.progress();
    for (int camera = 0; camera < Cameras::Count; ++camera)
        lastBytes[camera] = progress.cameras[camera].bytesDone;
    QElapsedTimer tick;
    tick.start();
    // A short beat: the end of the copies is seen within 10 ms (the tool's run is timed against
    // the plain tools, where a 50 ms beat cost 2-3 % of a gigabyte's copy).
    while (offload.session().running() && !pauseSignal) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (tick.elapsed() >= 1000) {
            const double seconds = double(tick.restart()) / 1000.0;
            printProgress(offload.reading(), lastBytes, seconds);
        }
    }
    if (pauseSignal) {
        offload.pauseNow();
        if (!offload.saveConfig(false, &error)) {
            std::fprintf(stderr, "v7tool offload: the task state cannot be saved: %s\n",
                         qPrintable(error));
            return 1;
        }
        std::printf("paused: %d of %d files done; continue with: v7tool offload --resume\n",
                    offload.session().filesDone(), offload.session().fileCount());
        return 128 + int(pauseSignal);
    }
    printProgress(offload.reading(), lastBytes, double(tick.elapsed()) / 1000.0);
    offload.pauseNow();
    const int passedOver = reportFiles(offload.session());
    const QStringList errors = offload.session().errors();
    if (!errors.isEmpty() || !offload.session().complete()) {
        if (!offload.saveConfig(false, &error))
            std::fprintf(stderr, "v7tool offload: the task state cannot be saved: %s\n",
                         qPrintable(error));
        for (const QString &e : errors)
            std::fprintf(stderr, "v7tool offload: %s\n", qPrintable(e));
        std::fprintf(stderr,
                     "v7tool offload: %d of %d files done; after fixing, continue with --resume\n",
                     offload.session().filesDone(), offload.session().fileCount());
        return 1;
    }
    const OffloadSession::Setup &setup = offload.session().setup();
    const bool blocksWanted = setup.splitSorties && !setup.pos.isEmpty();
    // What is left reads only the target.
    std::printf("copies verified after %.2f s: the cards may be removed\n",
                double(clock.nsecsElapsed()) / 1e9);
    std::fflush(stdout);
    QStringList messages;
    const int blocks = offload.finishNow(&messages);
    if (const OffloadRun::LookProgress look = offload.lookProgress(); look.added > 0) {
        const double processor = offload.lookProcessorSeconds();
        std::printf("quality look: %d photos, %.1f photos/s per processor, ended %.2f s after "
                    "the copies\n",
                    look.added, processor > 0 ? look.added / processor : 0.0,
                    offload.lookCatchUpSeconds());
        for (const QString &line : offload.qualitySummary())
            std::printf("%s\n", qPrintable(line));
    }
    for (const QString &m : messages)
        std::fprintf(stderr, "v7tool offload: %s\n", qPrintable(m));
    if (blocksWanted)
        std::printf("%d block files written\n", blocks);
    if (!offload.reportPath().isEmpty())
        std::printf("report: %s\n", qPrintable(offload.reportPath()));
    if (!offload.outputsWritten() || TaskConfig::resumePending(offload.configPath()))
        return 1; // an output or the completion could not be written (told above)
    std::printf("complete: %d files\n", offload.session().filesDone());
    if (offload.backupIncomplete()) {
        std::printf("backup incomplete: %s\n", qPrintable(setup.backup));
        return 1; // why was told with the messages
    }
    if (!setup.backup.isEmpty())
        std::printf("backup complete: %s\n", qPrintable(setup.backup));
    // Only skipped files are left: nothing a resume could do, but they are not on the target.
    return passedOver > 0 ? 1 : 0;
}

const ToolCommand command("offload", "copy the camera cards into a target folder", kUsage, run);

} // namespace
