// Downloads every POS file of a 14-slot simulated camera over loopback, with the five per-lens
// tables, and prints records per second and seconds per slot. The peer in the same run writes
// the same tables from the same raw files read from disk (the USB way, no link), so the ratio
// shows what the link costs.
#include "postable.h"
#include "v7k.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstring>

namespace {
const char *const kLens[] = {"Front", "Right", "Back", "Left", "Center"};

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QThread::usleep(500);
    }
    return true;
}

void openLensTables(PosFileManager *m, const QString &path)
{
    const QString base = path.left(path.indexOf(".xls"));
    for (int i = 0; i < 5; ++i) {
        m->lensFile[i] = std::fopen(QString(base + kLens[i] + ".xls").toUtf8(), "w+");
        _ofrm_initexcelheadoffsetsingle(m->lensFile[i]);
    }
    m->independentPos = 1;
}

void closeTables(PosFileManager *m)
{
    if (m->file)
        std::fclose(m->file);
    m->file = nullptr;
    for (int i = 0; i < 5; ++i) {
        if (m->lensFile[i])
            std::fclose(m->lensFile[i]);
        m->lensFile[i] = nullptr;
    }
}

// The peer: the same tables from the raw file on disk, through the same row writers.
void writeLocally(const QByteArray &raw, const QString &path)
{
    FILE *main = std::fopen(path.toUtf8(), "w");
    const std::string header = vived::PosTable::mainHeader(52);
    std::fwrite(header.data(), 1, header.size(), main);
    FILE *lens[5];
    const QString base = path.left(path.indexOf(".xls"));
    for (int i = 0; i < 5; ++i) {
        lens[i] = std::fopen(QString(base + kLens[i] + ".xls").toUtf8(), "w+");
        _ofrm_initexcelheadoffsetsingle(lens[i]);
    }
    for (int at = 0; at + 52 <= raw.size(); at += 52) {
        vived::PosRecord r;
        vived::PosTable::decode(reinterpret_cast<const uint8_t *>(raw.constData()) + at, 52, r);
        const std::string row = vived::PosTable::mainRow(r, 52);
        std::fwrite(row.data(), 1, row.size(), main);
        std::string lensRow;
        for (int i = 0; i < 5; ++i) {
            if (vived::PosTable::lensRow(r, i, lensRow))
                std::fwrite(lensRow.data(), 1, lensRow.size(), lens[i]);
        }
    }
    std::fclose(main);
    for (FILE *f : lens)
        std::fclose(f);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString records = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("3000");
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("raw"));
    QProcess sim;
    sim.start(QStringLiteral(V7_CAMSIM), {"--listen", "127.0.0.1:0", "--quiet", "--records",
                                          records, "--export-dir", dir.filePath("raw")});
    QByteArray line;
    while (sim.waitForReadyRead(5000) && !line.startsWith("listening on")) {
        if (sim.canReadLine())
            line = sim.readLine().trimmed();
    }
    if (!line.startsWith("listening on ")) {
        std::fprintf(stderr, "bench_posfile: the simulator did not start\n");
        return 1;
    }
    const QByteArray address = line.mid(13);
    qputenv("V7_CAMERA_ADDRESS", address);

    const QByteArray host = address.left(address.indexOf(':'));
    const int port = address.mid(address.indexOf(':') + 1).toInt();
    AkTele *tele = aktele_alloc(AKTELE_KIND_UDP, host.constData(), port, 4096);
    v7k_context *device = v7k_alloc(tele);
    aktele_start(tele);
    PosFileManager *m = posfile_manager_init(device->posfileArg);
    PosFileInfo info[14];
    for (int slot = 1; slot <= 14; ++slot) {
        posfile_info_request(m, slot);
        if (!waitFor([&] { return posfile_info_get(m, slot, &info[slot - 1]) == 0; }, 5000)) {
            std::fprintf(stderr, "bench_posfile: slot %d not listed\n", slot);
            return 1;
        }
    }

    qint64 totalRecords = 0, totalBytes = 0;
    QElapsedTimer clock;
    clock.start();
    for (int slot = 1; slot <= 14; ++slot) {
        const PosFileInfo &f = info[slot - 1];
        const int size = int(f.endAddress - f.startAddress);
        const QString path = dir.filePath(QStringLiteral("link%1.xls").arg(slot));
        m->received = 0;
        m->completion = 0;
        openLensTables(m, path);
        posfile_file_request_offset(m, f.fileNumber, path.toUtf8(), size, 52);
        if (!waitFor([&] { return posfile_process(m) == uint32_t(size); }, 120000)) {
            std::fprintf(stderr, "bench_posfile: slot %d stalled at %u of %d\n", slot,
                         posfile_process(m), size);
            return 1;
        }
        posfile_file_success(m, f.fileNumber);
        waitFor([&] { return m->state == POSFILE_STATE_COMPLETE; }, 10000);
        closeTables(m);
        totalRecords += size / 52;
        totalBytes += size;
    }
    const double linkSeconds = double(clock.nsecsElapsed()) / 1e9;

    clock.restart();
    for (int slot = 1; slot <= 14; ++slot) {
        QFile raw(dir.filePath(QStringLiteral("raw/slot%1.bin").arg(slot, 2, 10, QChar('0'))));
        raw.open(QIODevice::ReadOnly);
        writeLocally(raw.readAll(), dir.filePath(QStringLiteral("disk%1.xls").arg(slot)));
    }
    const double diskSeconds = double(clock.nsecsElapsed()) / 1e9;
    // Both ways must have written the same tables.
    for (int slot = 1; slot <= 14; ++slot) {
        QFile a(dir.filePath(QStringLiteral("link%1.xls").arg(slot)));
        QFile b(dir.filePath(QStringLiteral("disk%1.xls").arg(slot)));
        a.open(QIODevice::ReadOnly);
        b.open(QIODevice::ReadOnly);
        if (a.readAll() != b.readAll()) {
            std::fprintf(stderr, "bench_posfile: slot %d tables differ\n", slot);
            return 1;
        }
    }
    const AkTeleStats before = {};
    AkTeleStats s = before;
    aktele_get_stats(tele, &s);
    std::printf("posfile download, 14 slots, %lld records (%.1f MB), main + 5 lens tables\n",
                totalRecords, double(totalBytes) / 1e6);
    std::printf("  over loopback:   %.3f s, %.0f records/s, %.3f s/slot (%u retransmissions)\n",
                linkSeconds, double(totalRecords) / linkSeconds, linkSeconds / 14,
                s.retransmissions);
    std::printf("  peer, from disk: %.3f s, %.0f records/s, %.3f s/slot\n", diskSeconds,
                double(totalRecords) / diskSeconds, diskSeconds / 14);
    std::printf("  ratio link/disk: %.2f\n", linkSeconds / diskSeconds);
    aktele_stop(tele);
    aktele_free(tele);
    v7k_free(device);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
