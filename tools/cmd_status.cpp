// v7tool status: connects to the camera and prints its device context as JSON, once or, with
// --watch, a line per second. A crew scripts its pre-flight check on the exit status.
#include "toolcommand.h"

#include "v7k.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <cstdio>
#include <cstring>

namespace {
const char kCameraAddress[] = "192.168.123.123";
const int kCameraPort = 8899;

bool filled(const v7k_context &c)
{
    return c.statusCount > 0 && c.firmwareMajor != 0 && c.serial[0] != 0 &&
           std::strlen(c.buildDate) >= 5 && c.workParam.mode != 0;
}

QJsonObject describe(const v7k_context &c)
{
    const QString serial = QString::fromLatin1(c.serial, int(strnlen(c.serial, sizeof c.serial)));
    const bool current = c.firmwareMajor == 4 && c.firmwareMinor >= 41;
    QJsonArray photos, good;
    for (int i = 0; i < 5; ++i) {
        photos.append(int(c.cameraPhotos[i]));
        // Current firmware sets the bit of a camera in order, older firmware that of a fault.
        const bool bit = c.cameraState & (1u << i);
        good.append(current ? bit : !bit);
    }
    return QJsonObject{
        {"model", serial.left(4)},
        {"serial", serial},
        {"hardwareVersion", int(c.hardwareVersion)},
        {"firmware", c.firmwareMajor || c.firmwareMinor
                         ? QStringLiteral("%1.%2").arg(c.firmwareMajor).arg(c.firmwareMinor)
                         : QString()},
        {"buildDate",
         QString::fromLatin1(c.buildDate, int(strnlen(c.buildDate, sizeof c.buildDate)))},
        {"workParamValid", v7k_get_valid(const_cast<v7k_context *>(&c)) == 1},
        {"workParam", describeWorkParam(c.workParam)},
        {"photoCount", qint64(c.photoCount)},
        {"cameraPhotos", photos},
        {"cameraState", int(c.cameraState)},
        {"camerasGood", good},
        {"gps", QJsonObject{{"hardwareGood", bool(c.state & V7K_STATE_GPS_GOOD)},
                            {"satellites", int(c.satellites)}}},
        {"selfTest", c.selfTest == 2   ? QStringLiteral("done")
                     : c.selfTest == 0 ? QStringLiteral("testing")
                                       : QString::number(c.selfTest)},
        {"landingGear", int(c.landingGear)},
        {"posBytes", qint64(c.posValue)},
        {"receiveCounter", qint64(c.receiveCounter)},
    };
}

const char kUsage[] =
    "usage: v7tool status [--seconds N] [--watch]\n"
    "  Connects to the camera (V7_CAMERA_ADDRESS=host:port overrides the\n"
    "  camera's own address), waits until its status is complete or N\n"
    "  seconds (default 5) pass and prints it as JSON. --watch prints a line\n"
    "  per second, for N seconds when given, else until interrupted.\n"
    "  Exit 0 when the camera answered, 1 when nothing valid arrived, 3 when\n"
    "  another program (the window) holds the camera.\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

int run(const QStringList &arguments)
{
    int seconds = -1;
    bool watch = false;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--watch")) {
            watch = true;
        } else if (arguments[i] == QLatin1String("--seconds") && i + 1 < arguments.size()) {
            bool ok = false;
            seconds = arguments[++i].toInt(&ok);
            if (!ok || seconds < 0)
                return usage();
        } else {
            return usage();
        }
    }
    if (seconds < 0)
        seconds = watch ? 0 : 5;

    aktele_module_init();
    AkTele *tele = aktele_alloc(AKTELE_KIND_UDP, kCameraAddress, kCameraPort, 4096);
    v7k_context *device = tele ? v7k_alloc(tele) : nullptr;
    if (!device) {
        std::fprintf(stderr, "v7tool status: cannot open the camera link\n");
        return 1;
    }
    aktele_start(tele);
    QElapsedTimer clock;
    clock.start();
    qint64 nextAsk = 0, nextLine = 1000;
    const qint64 limit = qint64(seconds) * 1000;
    for (;;) {
        const qint64 now = clock.elapsed();
        if (now >= nextAsk) {
            // The library asks once on start; ask again until the answers are in.
            if (device->firmwareMajor == 0)
                v7k_get_version(device);
            if (std::strlen(device->buildDate) < 5)
                v7k_get_builddate(device);
            nextAsk = now + 500;
        }
        if (watch && now >= nextLine) {
            std::printf(
                "%s\n",
                QJsonDocument(describe(*device)).toJson(QJsonDocument::Compact).constData());
            // Watching is all it does: once nobody reads the lines, it is done.
            if (std::fflush(stdout) != 0)
                break;
            nextLine += 1000;
        }
        if (!watch && filled(*device))
            break;
        if (limit > 0 && now >= limit)
            break;
        QThread::msleep(20);
    }
    const bool answered = device->receiveCounter > 0;
    if (!watch)
        std::printf("%s",
                    QJsonDocument(describe(*device)).toJson(QJsonDocument::Indented).constData());
    aktele_stop(tele);
    aktele_free(tele);
    v7k_free(device);
    aktele_module_exit();
    if (!answered)
        std::fprintf(stderr, "v7tool status: the camera did not answer\n");
    return answered ? 0 : 1;
}

} // namespace

static ToolCommand command("status", "print the camera's state as JSON", kUsage, &run,
                           [](const QStringList &) { return true; });
