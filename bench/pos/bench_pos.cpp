// Decodes 14 raw POS files of 20,000 five-lens records each and writes their tables (main, and
// main with the five lens tables) through the code the page and v7tool use, and prints records
// per second beside the peer in the same run: Python's struct unpacking the same records and
// writing the same main table. The peer's tables are checked to be byte-identical to ours.
#include "byteorder.h"
#include "posrawtables.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {
constexpr int kFiles = 14;
constexpr int kRecordSize = 52;

// A survey flight: lines 30 m apart in time steps of 2 s, attitude noise, Unix or calendar time,
// lens offsets as the trigger controller reports them (a back lens that misses now and then).
QByteArray flight(int file, int records)
{
    QByteArray raw(records * kRecordSize, 0);
    uint32_t state = 2654435761u * uint32_t(file + 1);
    auto next = [&state](int lo, int hi) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return lo + int(state % uint32_t(hi - lo + 1));
    };
    double lat = 22.9 + 0.01 * file, lon = 113.2 + 0.02 * file;
    for (int i = 0; i < records; ++i) {
        uint8_t *r = reinterpret_cast<uint8_t *>(raw.data()) + i * kRecordSize;
        const double heading = (i / 40) % 2 ? 215.0 : 35.0;
        ByteOrder::putBe16(r, uint16_t(i + 1));
        ByteOrder::putBe16(r + 2, uint16_t(next(0, 500)));
        ByteOrder::putBe16(r + 4, uint16_t(next(0, 500)));
        ByteOrder::putBe16(r + 6, uint16_t(std::lround(heading * 100)));
        ByteOrder::putBe32(r + 8, uint32_t(std::lround(lon * 1e7)));
        ByteOrder::putBe32(r + 12, uint32_t(std::lround(lat * 1e7)));
        ByteOrder::putBe32(r + 16, uint32_t(300000 + next(-2500, 2500)));
        ByteOrder::putBe16(r + 20, uint16_t(25 + next(-3, 3)));
        ByteOrder::putBe16(r + 22, uint16_t(std::lround(heading * 100) + next(0, 150)));
        const uint32_t seconds = 1553738400u + uint32_t(86400 * file + 2 * i);
        if (file % 2 == 0) {
            ByteOrder::putBe32(r + 24, seconds);
            ByteOrder::putBe16(r + 28, uint16_t(next(0, 1999)));
            r[30] = 2;
        } else {
            const time_t t = time_t(seconds);
            tm u = {};
            gmtime_r(&t, &u);
            const uint8_t calendar[6] = {uint8_t(u.tm_year - 100), uint8_t(u.tm_mon + 1),
                                         uint8_t(u.tm_mday),       uint8_t(u.tm_hour),
                                         uint8_t(u.tm_min),        uint8_t(u.tm_sec)};
            memcpy(r + 24, calendar, 6);
            r[30] = 1;
        }
        const int offsets[5] = {next(800, 3000), 0, i % 10 == 9 ? -1 : next(0, 2500),
                                next(500, 2000), next(1, 900)};
        for (int lens = 0; lens < 5; ++lens)
            ByteOrder::putBe32(r + 31 + 4 * lens, uint32_t(offsets[lens]));
        const double rad = heading * M_PI / 180;
        lat += 30 * std::cos(rad) / 111320.0;
        lon += 30 * std::sin(rad) / (111320.0 * std::cos(lat * M_PI / 180));
    }
    return raw;
}

// Writes every file's tables; the seconds taken, or a negative value on failure.
double ours(const QDir &raw, const QDir &out, bool perLens)
{
    QElapsedTimer clock;
    clock.start();
    for (int f = 0; f < kFiles; ++f) {
        const QString name = QStringLiteral("flight%1").arg(f + 1, 2, 10, QLatin1Char('0'));
        const PosRawTables::Result r = PosRawTables::write(raw.filePath(name + ".raw"), kRecordSize,
                                                           out.filePath(name + ".xls"), perLens);
        if (!r.ok) {
            std::fprintf(stderr, "bench_pos: %s\n", qPrintable(r.error));
            return -1;
        }
    }
    return double(clock.nsecsElapsed()) / 1e9;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    QTemporaryDir dir;
    const QDir raw(dir.filePath("raw")), mine(dir.filePath("ours")), lens(dir.filePath("lens")),
        peer(dir.filePath("peer"));
    for (const QDir &d : {raw, mine, lens, peer})
        QDir().mkpath(d.path());
    for (int f = 0; f < kFiles; ++f) {
        QFile file(
            raw.filePath(QStringLiteral("flight%1.raw").arg(f + 1, 2, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly) || file.write(flight(f, records)) < 0)
            return 1;
    }
    const qint64 total = qint64(kFiles) * records;
    std::printf("%d files x %d records of %d bytes (%lld records)\n", kFiles, records, kRecordSize,
                total);

    const double mainSeconds = ours(raw, mine, false);
    const double lensSeconds = ours(raw, lens, true);
    if (mainSeconds < 0 || lensSeconds < 0)
        return 1;

    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral(V7_BENCH_PEER), raw.path(), peer.path()});
    QElapsedTimer wall;
    wall.start();
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        std::fprintf(stderr, "bench_pos: the Python peer failed: %s\n",
                     python.readAllStandardError().constData());
        return 1;
    }
    const double peerWall = double(wall.nsecsElapsed()) / 1e9;
    const QList<QByteArray> answer = python.readAllStandardOutput().trimmed().split(' ');
    const double peerSeconds = answer.value(1).toDouble();
    bool identical = answer.value(0).toLongLong() == total;
    for (int f = 0; f < kFiles && identical; ++f) {
        const QString name = QStringLiteral("flight%1.xls").arg(f + 1, 2, 10, QLatin1Char('0'));
        QFile a(mine.filePath(name)), b(peer.filePath(name));
        identical = a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) &&
                    a.readAll() == b.readAll();
    }

    std::printf("main table, ours:           %10.0f records/s (%.3f s)\n", total / mainSeconds,
                mainSeconds);
    std::printf("main table, Python struct:  %10.0f records/s (%.3f s in its loop, %.3f s wall)\n",
                total / peerSeconds, peerSeconds, peerWall);
    std::printf("ratio ours / Python:        %10.2f\n", peerSeconds / mainSeconds);
    std::printf("main + five lens tables:    %10.0f records/s (%.3f s)\n", total / lensSeconds,
                lensSeconds);
    std::printf("peer's tables identical to ours: %s\n", identical ? "yes" : "NO");
    return identical ? 0 : 1;
}
