// The exposure match of five cards against one POS table: `v7tool match` (every header read
// and the match) beside exiftool reading the same capture times with -fast, in one run; then
// the reading and the matching alone, in process. Photos: V7_BENCH_PHOTOS per card (default
// 2000), small JPEGs whose EXIF holds DateTimeOriginal, one camera per card with its own clock;
// the table holds V7_BENCH_RECORDS records (default as many), e.g. 100000 for a long one.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include <sys/resource.h>
#include <unistd.h>

#include "exposurephotos.h"

namespace {

// A little-endian EXIF block with DateTimeOriginal alone, after SOI.
QByteArray withCaptureTime(const QByteArray &jpeg, const QByteArray &dateTime)
{
    QByteArray tiff("II\x2a\x00\x08\x00\x00\x00", 8);
    auto u16 = [&tiff](quint16 v) { tiff.append(char(v & 0xff)).append(char(v >> 8)); };
    auto u32 = [&u16](quint32 v) { u16(quint16(v & 0xffff)), u16(quint16(v >> 16)); };
    u16(1), u16(0x8769), u16(4), u32(1), u32(26), u32(0);
    u16(1), u16(0x9003), u16(2), u32(20), u32(44), u32(0);
    tiff.append(dateTime).append('\0');
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xff\xe1", 2);
    app1.append(char((body.size() + 2) >> 8)).append(char((body.size() + 2) & 0xff));
    return jpeg.left(2) + app1 + body + jpeg.mid(2);
}

double timed(const QString &program, const QStringList &arguments, QByteArray *output)
{
    ::sync();
    QProcess p;
    QElapsedTimer timer;
    timer.start();
    p.start(program, arguments);
    if (!p.waitForStarted() || !p.waitForFinished(-1))
        return -1;
    const double seconds = timer.nsecsElapsed() / 1e9;
    *output = p.readAllStandardOutput();
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = qEnvironmentVariableIsSet("V7_BENCH_PHOTOS")
                          ? qEnvironmentVariableIntValue("V7_BENCH_PHOTOS")
                          : 2000;
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    QFile base(QStringLiteral(V7_TESTDATA_DIR "/no_exif.jpg"));
    if (count <= 0 || exiftool.isEmpty() || !base.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "bench_match: needs exiftool and tests/data/no_exif.jpg\n");
        return 2;
    }
    // The POS table may hold more records than the cards (a merged table of a week): the cards
    // then hold its first records. V7_BENCH_RECORDS, default the photos per card.
    const int records = std::max(count, qEnvironmentVariableIsSet("V7_BENCH_RECORDS")
                                            ? qEnvironmentVariableIntValue("V7_BENCH_RECORDS")
                                            : count);
    const QByteArray jpeg = base.readAll();
    QTemporaryDir dir;
    // The flight: lines of 100 exposures 2 s apart with turns of their own lengths (so that no
    // two stretches of a long table look alike); each camera misses every 97th record and took
    // three test shots on the ground; two clocks.
    const QDateTime startTime(QDate(2024, 5, 1), QTime(9, 0));
    const double start = double(startTime.toSecsSinceEpoch()) + 0.3;
    std::mt19937 turns(7);
    std::vector<double> exposures;
    double turnsSoFar = 0;
    for (int k = 0; k < records; ++k) {
        if (k > 0 && k % 100 == 0)
            turnsSoFar += 15 + double(turns() % 450) / 10;
        exposures.push_back(start + 2.0 * k + turnsSoFar);
    }
    QFile table(dir.filePath(QStringLiteral("flight.xls")));
    if (!table.open(QIODevice::WriteOnly))
        return 1;
    table.write("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\n");
    // Local clock text by arithmetic from the start: asking the time zone per row would take
    // longer than the match.
    const qint64 zone = startTime.offsetFromUtc();
    char row[160];
    for (int k = 0; k < records; ++k) {
        const qint64 local = qint64(std::floor(exposures[size_t(k)])) + zone;
        const QDate day = QDate(1970, 1, 1).addDays(local / 86400);
        const int n = std::snprintf(row, sizeof row,
                                    "%d\t%.6f\t%.6f\t500\t90\t0\t0\t90\t20\t%04d/%02d/%02d "
                                    "%02d:%02d:%02d\n",
                                    k + 1, 113.0 + (k % 100) * 1e-4, 23.5 + (k / 100) * 1e-4,
                                    day.year(), day.month(), day.day(), int(local % 86400 / 3600),
                                    int(local % 3600 / 60), int(local % 60));
        table.write(row, n);
    }
    table.close();
    const double offsets[Cameras::Count] = {-8 * 3600 + 0.4, 3.7, 3.7, -8 * 3600 + 0.4, 3.7};
    QStringList arguments = {QStringLiteral("match"), QStringLiteral("--json"),
                             QStringLiteral("--pos"), table.fileName()};
    QString folders[Cameras::Count];
    int photos = 0;
    for (int c = 0; c < Cameras::Count; ++c) {
        folders[c] = dir.filePath(
            QStringLiteral("cards/%1/DCIM/100MSDCF").arg(QLatin1String(Cameras::folderName(c))));
        QDir().mkpath(folders[c]);
        std::vector<double> shots = {start - 900, start - 890, start - 880};
        for (int k = 0; k < count; ++k) {
            if ((k + 13 * c) % 97 != 0)
                shots.push_back(exposures[size_t(k)]);
        }
        for (size_t n = 0; n < shots.size(); ++n, ++photos) {
            QFile photo(
                QStringLiteral("%1/DSC%2.JPG").arg(folders[c]).arg(n + 1, 5, 10, QLatin1Char('0')));
            const QByteArray when =
                QDateTime::fromSecsSinceEpoch(qint64(std::floor(shots[n] + offsets[c])))
                    .toString(QStringLiteral("yyyy:MM:dd hh:mm:ss"))
                    .toLatin1();
            if (!photo.open(QIODevice::WriteOnly) || photo.write(withCaptureTime(jpeg, when)) < 0)
                return 1;
        }
        arguments << QStringLiteral("--") + QLatin1String(Cameras::lowerName(c)) << folders[c];
    }
    std::printf("%d cards x %d photos, %d records, %d photos\n", Cameras::Count, count, records,
                photos);
    std::fflush(stdout);

    QByteArray output;
    const double ours = timed(QStringLiteral(V7TOOL_PATH), arguments, &output);
    // The first child that ended: its peak is v7tool's.
    struct rusage usage = {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const double oursMb = double(usage.ru_maxrss) / 1024;
    const QJsonArray cameras =
        QJsonDocument::fromJson(output).object().value(QLatin1String("cameras")).toArray();
    int matched = 0;
    for (const QJsonValue &v : cameras)
        matched += v.toObject().value(QLatin1String("matched")).toInt();
    const double theirs =
        timed(exiftool,
              {QStringLiteral("-fast"), QStringLiteral("-DateTimeOriginal"), QStringLiteral("-s3"),
               QStringLiteral("-r"), dir.filePath(QStringLiteral("cards"))},
              &output);
    if (ours < 0 || theirs < 0 || cameras.size() != Cameras::Count) {
        std::fprintf(stderr, "bench_match: a tool did not run\n");
        return 1;
    }
    int read = 0; // value lines, not the "======== file" lines between them
    for (const QByteArray &line : output.split('\n'))
        read += line.startsWith("20") ? 1 : 0;
    std::printf("v7tool match: %.2f s, %.0f photos/s, peak %.0f MB (%d photos matched)\n", ours,
                photos / ours, oursMb, matched);
    std::printf("exiftool -fast -DateTimeOriginal: %.2f s, %.0f photos/s (%d times read)\n", theirs,
                photos / theirs, read);
    std::printf("ratio (exiftool time / v7tool time): %.2f\n", theirs / ours);

    QElapsedTimer timer;
    timer.start();
    QList<MatchPhoto> lists[Cameras::Count];
    for (int c = 0; c < Cameras::Count; ++c)
        lists[c] = ExposurePhotos::read(folders[c]);
    const double reading = timer.nsecsElapsed() / 1e9;
    ExposureMatcher matcher;
    QList<OffloadPosSet> pos;
    OffloadPosSet set;
    for (int k = 0; k < records; ++k) {
        set.times << uint(std::floor(exposures[size_t(k)]));
        set.positions << OffloadPosPoint{113.0 + (k % 100) * 1e-4, 23.5 + (k / 100) * 1e-4, 500};
    }
    pos << set;
    matcher.setRecords(pos);
    for (int c = 0; c < Cameras::Count; ++c)
        matcher.setPhotos(c, lists[c]);
    timer.restart();
    const ExposureMatch match = matcher.run();
    const double matching = timer.nsecsElapsed() / 1e9;
    int missed = 0;
    for (const ExposureMatch::Camera &c : match.cameras)
        missed += int(c.missed.size());
    std::printf("in process: headers read one card after another %.2f s (%.0f photos/s), match "
                "alone %.3f s (%.0f photos/s), %d missed found\n",
                reading, photos / reading, matching, photos / matching, missed);
    return 0;
}
