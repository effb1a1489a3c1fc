// The save gate against one plain read of the same card, both from a cold cache: the gate, which
// hashes every copy again beside the card, should take about as long as reading the card once
// (here the copies share the photos' inodes, so both passes read one disk). The card: V7_BENCH_PHOTOS (default 2000) JPEG-shaped
// photos of V7_BENCH_PHOTO_MB (default 1) MB in DCIM/100MSDCF under V7_BENCH_DIR (default the
// temporary folder); the offload's copies are hard links with their checksum list, so the disk
// holds the photos once.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "checksumlist.h"
#include "savegate.h"
#include "taskconfig.h"

namespace {

int envNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// Start of image, one metadata segment, start of scan, image data, end of image.
QByteArray photo(int bytes, quint32 seed)
{
    QByteArray data(bytes, '\0');
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32 *>(data.data()), bytes / 4);
    const char head[] = "\xFF\xD8\xFF\xE1\x00\x10" "Exif\0\0bench\0\0\0" "\xFF\xDA\x00\x08";
    std::copy(head, head + sizeof head - 1, data.begin());
    data[bytes - 2] = char(0xFF);
    data[bytes - 1] = char(0xD9);
    return data;
}

void dropCache(const QStringList &files)
{
    ::sync();
    for (const QString &file : files) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
}

// What `cat` does with the card: every byte read once, nothing computed.
double readOnce(const QStringList &files)
{
    std::vector<char> buffer(1 << 20);
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = envNumber("V7_BENCH_PHOTOS", 2000);
    const int megabytes = envNumber("V7_BENCH_PHOTO_MB", 1);
    QTemporaryDir work(qEnvironmentVariable("V7_BENCH_DIR", QDir::tempPath()) +
                       QStringLiteral("/bench_savegate-XXXXXX"));
    const QString card = work.filePath(QStringLiteral("card"));
    const QString source = card + QStringLiteral("/DCIM/100MSDCF");
    const QString camera = work.filePath(QStringLiteral("target/Center"));
    QDir().mkpath(source);
    QDir().mkpath(camera);
    QDir().mkpath(card + QStringLiteral("/AVF_INFO"));
    QStringList files;
    for (int i = 1; i <= count; ++i) {
        const QString name = QStringLiteral("DSC%1.JPG").arg(i, 5, 10, QLatin1Char('0'));
        const QString path = source + QLatin1Char('/') + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(photo(megabytes << 20, quint32(i))) < 0) {
            std::fprintf(stderr, "bench_savegate: cannot write %s\n", qPrintable(path));
            return 1;
        }
        file.close();
        uint64_t hash = 0;
        ChecksumList::hashFile(QFile::encodeName(path).toStdString(), &hash);
        ::link(QFile::encodeName(path).constData(),
               QFile::encodeName(camera + QLatin1Char('/') + name).constData());
        ChecksumList::append(QFile::encodeName(camera).toStdString(), name.toStdString(), hash);
        files << path;
    }
    TaskConfig config;
    config.cameras[0].path = source;
    config.savePath = work.filePath(QStringLiteral("target"));
    std::printf("card: %d photos of %d MB in %s\n", count, megabytes, qPrintable(card));

    dropCache(files);
    const double plain = readOnce(files);
    dropCache(files);
    QElapsedTimer timer;
    timer.start();
    const SaveGate::CardCheck saved = SaveGate::check(card, SavedCopies(config, 0));
    const double gate = timer.nsecsElapsed() / 1e9;
    timer.restart();
    const SaveGate::CardCheck none = SaveGate::check(card, SavedCopies());
    const double unsaved = timer.nsecsElapsed() / 1e9;

    const double mb = double(count) * megabytes;
    std::printf("read once:            %.2f s (%.0f MB/s)\n", plain, mb / plain);
    std::printf("save gate, offloaded: %.2f s (%.0f MB/s), %d of %d unsaved, ratio %.2f\n", gate,
                mb / gate, saved.unsaved, saved.photos, gate / plain);
    std::printf("save gate, no offload: %.3f s, %d of %d unsaved (nothing to read)\n", unsaved,
                none.unsaved, none.photos);
    return saved.unsaved == 0 && none.unsaved == count ? 0 : 1;
}
