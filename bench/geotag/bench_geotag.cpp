// Geotagging and header reading with v7tool against exiftool on the same large photos, in one
// run. Photos: V7_BENCH_PHOTOS (default 200) copies of one 6000 x 4000 JPEG made with ImageMagick.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "geotag.h"

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {
bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(output ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    p.start(program, arguments);
    if (!p.waitForStarted() || !p.waitForFinished(-1)) {
        std::fprintf(stderr, "bench_geotag: %s did not run\n", qPrintable(program));
        return false;
    }
    const QByteArray out = p.readAllStandardOutput();
    if (output)
        *output = out;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "bench_geotag: %s failed (%d)\n", qPrintable(program), p.exitCode());
        return false;
    }
    return true;
}

// Seconds for one timed command. Dirty pages of the previous step are written out first, so
// neither tool pays for the other's (or the copies') writeback.
double timed(const QString &program, const QStringList &arguments)
{
    ::sync();
    QElapsedTimer timer;
    timer.start();
    if (!run(program, arguments, nullptr))
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

struct Position
{
    double lat, lon, alt;
};

Position positionOf(int i)
{
    return {23.1 + i * 1e-4, 113.2 + i * 1.5e-4, 150.0 + i * 0.25};
}

QStringList copies(const QString &master, const QString &folder, int count)
{
    QDir().mkpath(folder);
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString path =
            QStringLiteral("%1/IMG_%2.jpg").arg(folder).arg(i, 4, 10, QLatin1Char('0'));
        QFile::copy(master, path);
        files << path;
    }
    return files;
}

void report(const char *what, int count, double ours, double theirs)
{
    const double oursRate = count / ours;
    const double theirsRate = count / theirs;
    std::printf("%s: v7tool %.1f photos/s, exiftool %.1f photos/s, ratio %.2f\n", what, oursRate,
                theirsRate, oursRate / theirsRate);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = qEnvironmentVariableIsSet("V7_BENCH_PHOTOS")
                          ? qEnvironmentVariableIntValue("V7_BENCH_PHOTOS")
                          : 200;
    const QString v7tool = QStringLiteral(V7TOOL_PATH);
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (count <= 0 || exiftool.isEmpty() || convert.isEmpty()) {
        std::fprintf(stderr, "bench_geotag: needs exiftool and ImageMagick's convert\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString master = dir.filePath(QStringLiteral("master.jpg"));
    std::printf("making a 6000 x 4000 photo with ImageMagick, %d copies per tool...\n", count);
    std::fflush(stdout);
    // Noise keeps the JPEG at the size of a real aerial photo (about 10 MB).
    if (!run(convert, {QStringLiteral("-size"), QStringLiteral("6000x4000"),
                       QStringLiteral("gradient:#3a6b35-#c9b38a"), QStringLiteral("-attenuate"),
                       QStringLiteral("0.4"), QStringLiteral("+noise"), QStringLiteral("Gaussian"),
                       QStringLiteral("-quality"), QStringLiteral("90"), master}) ||
        !run(exiftool, {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                        QStringLiteral("-Make=Bench"), QStringLiteral("-Model=V7 Center"),
                        QStringLiteral("-DateTimeOriginal=2019:03:28 10:00:00"),
                        QStringLiteral("-FocalLength=20"), master}))
        return 1;
    std::printf("photo size %.1f MB\n", QFile(master).size() / 1e6);

    const QStringList ours = copies(master, dir.filePath(QStringLiteral("v7tool")), count);
    const QStringList theirs = copies(master, dir.filePath(QStringLiteral("exiftool")), count);

    QFile table(dir.filePath(QStringLiteral("pos.xls")));
    QFile args(dir.filePath(QStringLiteral("exiftool.args")));
    if (!table.open(QIODevice::WriteOnly) || !args.open(QIODevice::WriteOnly))
        return 1;
    table.write("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \n");
    for (int i = 0; i < count; ++i) {
        const Position p = positionOf(i);
        table.write(
            QStringLiteral(
                "%1 \t%2 \t%3 \t%4 \t90.00 \t1.0 \t2.0 \t90.00 \t25.0 \t2019-03-28 10-%5-%6 \t \n")
                .arg(i + 1)
                .arg(p.lon, 0, 'f', 7)
                .arg(p.lat, 0, 'f', 7)
                .arg(p.alt, 0, 'f', 3)
                .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                .arg(i % 60, 2, 10, QLatin1Char('0'))
                .toUtf8());
        // exiftool gets the same tags and values, all photos in one process (its fastest way).
        args.write(
            QStringLiteral("-overwrite_original\n-n\n-FocalLength=20\n-GPSVersionID=2 2 0 0\n"
                           "-GPSLatitudeRef=N\n-GPSLatitude=%1\n-GPSLongitudeRef=E\n"
                           "-GPSLongitude=%2\n-GPSAltitudeRef=0\n-GPSAltitude=%3\n%4\n-execute\n")
                .arg(p.lat, 0, 'f', 7)
                .arg(p.lon, 0, 'f', 7)
                .arg(p.alt, 0, 'f', 3)
                .arg(theirs.at(i))
                .toUtf8());
    }
    table.close();
    args.close();

    const double tagOurs = timed(
        v7tool, QStringList{QStringLiteral("geotag"), QStringLiteral("--pos"), table.fileName(),
                            QStringLiteral("--focal"), QStringLiteral("20")} +
                    ours);
    const double tagTheirs =
        timed(exiftool, {QStringLiteral("-q"), QStringLiteral("-@"), args.fileName()});
    if (tagOurs < 0 || tagTheirs < 0)
        return 1;

    // Both tools must have written the same position into the last photo.
    QByteArray check;
    const Position last = positionOf(count - 1);
    if (!run(exiftool,
             {QStringLiteral("-j"), QStringLiteral("-n"), QStringLiteral("-GPSLatitude"),
              QStringLiteral("-GPSLongitude"), QStringLiteral("-GPSAltitude"), ours.last(),
              theirs.last()},
             &check))
        return 1;
    for (const QJsonValue &v : QJsonDocument::fromJson(check).array()) {
        const QJsonObject o = v.toObject();
        if (std::fabs(o.value(QLatin1String("GPSLatitude")).toDouble() - last.lat) > 1e-6 ||
            std::fabs(o.value(QLatin1String("GPSLongitude")).toDouble() - last.lon) > 1e-6 ||
            std::fabs(o.value(QLatin1String("GPSAltitude")).toDouble() - last.alt) > 1e-3) {
            std::fprintf(stderr, "bench_geotag: wrong position in %s\n",
                         qPrintable(o.value(QLatin1String("SourceFile")).toString()));
            return 1;
        }
    }
    report("geotag", count, tagOurs, tagTheirs);

    const double readOurs = timed(v7tool, QStringList{QStringLiteral("exif")} + ours);
    const double readTheirs = timed(
        exiftool,
        QStringList{QStringLiteral("-fast"), QStringLiteral("-j"), QStringLiteral("-n")} + ours);
    if (readOurs < 0 || readTheirs < 0)
        return 1;
    report("exif reader", count, readOurs, readTheirs);

    // The offload's path: a photo tagged in memory while it is copied, no rewrite on disk.
    QFile photo(master);
    if (!photo.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = photo.readAll();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        const Position p = positionOf(i);
        QByteArray tagged;
        if (!Geotag::tagBuffer(bytes, 20, {p.lat, p.lon, p.alt}, &tagged, nullptr))
            return 1;
    }
    std::printf("geotag in memory (offload path, no peer): %.1f photos/s\n",
                count / (timer.nsecsElapsed() / 1e9));
    return 0;
}
