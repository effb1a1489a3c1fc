#include "posrawtables.h"

#include "postable.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
// Records decoded per read: large enough to keep the disk streaming, small enough for a
// progress step a crew can watch on a 20,000-record file.
constexpr qint64 kBatch = 2000;

bool closeChecked(FILE *file)
{
    if (!file)
        return true;
    const bool clean = !std::ferror(file);
    return std::fclose(file) == 0 && clean;
}
} // namespace

PosRawTables::Result PosRawTables::write(const QString &rawPath, int recordSize,
                                         const QString &mainPath, bool perLens,
                                         const Progress &progress)
{
    Result result;
    if (recordSize != 32 && recordSize != 52) {
        result.error = QStringLiteral("record size %1 is neither 32 nor 52").arg(recordSize);
        return result;
    }
    QFile raw(rawPath);
    if (!raw.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("cannot read %1: %2").arg(rawPath, raw.errorString());
        return result;
    }
    const QByteArray mainName = QFile::encodeName(mainPath);
    FILE *main = std::fopen(mainName.constData(), "w");
    if (!main) {
        result.error = QStringLiteral("cannot write %1: %2")
                           .arg(mainPath, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    FILE *lens[5] = {};
    if (perLens && recordSize == 52)
        vived::PosTable::openLensTables(mainName.toStdString(), lens);

    bool written = vived::PosTable::writeMainHeader(main, recordSize);
    const qint64 total = raw.size() / recordSize;
    std::vector<uint8_t> buffer(size_t(kBatch * recordSize));
    while (written && result.records < total) {
        const qint64 count = std::min(kBatch, total - result.records);
        const qint64 bytes = count * recordSize;
        if (raw.read(reinterpret_cast<char *>(buffer.data()), bytes) != bytes) {
            result.error = QStringLiteral("cannot read %1: %2").arg(rawPath, raw.errorString());
            break;
        }
        written = vived::PosTable::writeRows(buffer.data(), size_t(count), recordSize, main, lens);
        result.records += count;
        if (progress)
            progress(100.0 * double(result.records) / double(total));
    }
    result.leftover = raw.size() - total * recordSize;
    if (total == 0 && progress)
        progress(100.0);
    written = closeChecked(main) && written;
    for (FILE *f : lens)
        closeChecked(f);
    if (!written && result.error.isEmpty())
        result.error = QStringLiteral("cannot write %1").arg(mainPath);
    result.ok = written && result.error.isEmpty();
    return result;
}
