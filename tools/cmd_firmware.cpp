// v7tool firmware: builds a firmware image in the camera's format, plain or encrypted, so that an
// upgrade can be tried end to end against the simulator.
#include <QFile>

#include <cstdio>

#include "firmwareimage.h"
#include "toolcommand.h"

namespace {

const char kUsage[] = "usage: v7tool firmware --version M.N --out FILE [--model WORD]\n"
                      "                        [--build-date TEXT] [--size BYTES] [--encrypt]\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

int run(const QStringList &arguments)
{
    vived::FirmwareHeader header;
    header.buildDate = "2026-11-20";
    QString out;
    qsizetype size = 256 * 1024;
    bool encrypt = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (a == QLatin1String("--encrypt")) {
            encrypt = true;
        } else if (!hasValue) {
            return usage();
        } else if (a == QLatin1String("--version")) {
            const QStringList parts = arguments.at(++i).split(QLatin1Char('.'));
            bool okMajor = false, okMinor = false;
            const int major = parts.value(0).toInt(&okMajor);
            const int minor = parts.value(1).toInt(&okMinor);
            if (parts.size() != 2 || !okMajor || !okMinor || major < 0 || major > 255 || minor < 0
                || minor > 255)
                return usage();
            header.major = uint8_t(major);
            header.minor = uint8_t(minor);
        } else if (a == QLatin1String("--out")) {
            out = arguments.at(++i);
        } else if (a == QLatin1String("--model")) {
            header.model = arguments.at(++i).toStdString();
        } else if (a == QLatin1String("--build-date")) {
            header.buildDate = arguments.at(++i).toStdString();
        } else if (a == QLatin1String("--size")) {
            size = arguments.at(++i).toLongLong();
        } else {
            return usage();
        }
    }
    if (out.isEmpty() || (header.major == 0 && header.minor == 0) || size <= 0
        || size > (32 << 20) || header.model.size() > 8 || header.buildDate.size() > 20)
        return usage();

    // A deterministic body, so that two runs give the same image.
    std::vector<uint8_t> body(static_cast<size_t>(size));
    uint32_t x = 0x2545F491u;
    for (uint8_t &b : body) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    std::vector<uint8_t> image = vived::FirmwareImage::build(header, body);
    if (encrypt) {
        std::vector<uint8_t> sealed;
        if (!vived::FirmwareImage::encrypt(image, sealed)) {
            std::fprintf(stderr, "v7tool firmware: encryption failed\n");
            return 1;
        }
        image.swap(sealed);
    }
    if (!vived::FirmwareImage::writeFile(QFile::encodeName(out).constData(), image)) {
        std::fprintf(stderr, "v7tool firmware: cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s: firmware %d.%d%s, %zu bytes\n", qPrintable(out), header.major, header.minor,
                encrypt ? " (encrypted)" : "", image.size());
    return 0;
}

const ToolCommand command("firmware", "build a firmware image (plain or encrypted)", kUsage,
                          &run);

} // namespace
