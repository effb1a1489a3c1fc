#include "posrawtables.h"

#include "postable.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Records decoded per read: large enough to keep the disk streaming, small enough for a
// progress step a crew can watch on a 20,000-record file.
constexpr qint64 kBatch = 2000;

// One table on its way into place: the library's writer fills a C stream on a temporary file
// beside the table, and only a whole table is renamed over it. Dropped uncommitted, the
// temporary file goes and whatever stood at the table's name stays.
class TableFile
{
public:
    explicit TableFile(const QString &path)
        : m_file(path)
    {}
    ~TableFile()
    {
        if (m_stream)
            std::fclose(m_stream);
    }

    bool open()
    {
        if (!m_file.open(QIODevice::WriteOnly))
            return false;
        const int fd = ::dup(m_file.handle());
        m_stream = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
        if (m_stream)
            return true;
        if (fd >= 0)
            ::close(fd);
        m_file.cancelWriting();
        return false;
    }
    FILE *stream() const { return m_stream; }
    // Closes the stream: true when every row reached the temporary file.
    bool finish()
    {
        const bool clean = !std::ferror(m_stream);
        const bool closed = std::fclose(m_stream) == 0;
        m_stream = nullptr;
        return clean && closed;
    }
    bool commit() { return m_file.commit(); }
    QString why() const { return m_file.errorString(); }

private:
    QSaveFile m_file;
    FILE *m_stream = nullptr;
};

// The table's name already leads to the raw file (the same path, a link or a second name).
bool isFile(const QString &path, const struct stat &file)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_dev == file.st_dev &&
           st.st_ino == file.st_ino;
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
    struct stat rawStat = {};
    if (!raw.open(QIODevice::ReadOnly) || ::fstat(raw.handle(), &rawStat) != 0) {
        result.error = QStringLiteral("cannot read %1: %2").arg(rawPath, raw.errorString());
        return result;
    }
    const bool lenses = perLens && recordSize == 52;
    QStringList tables{mainPath};
    for (int lens = 0; lenses && lens < 5; ++lens)
        tables << QFile::decodeName(
            vived::PosTable::lensPath(QFile::encodeName(mainPath).toStdString(), lens).c_str());
    for (const QString &table : tables) {
        if (isFile(table, rawStat)) {
            result.error = QStringLiteral("%1 is the raw file %2 itself; write the tables "
                                          "elsewhere")
                               .arg(table, rawPath);
            return result;
        }
    }
    TableFile main(mainPath);
    if (!main.open()) {
        result.error = QStringLiteral("cannot write %1: %2").arg(mainPath, main.why());
        return result;
    }
    std::unique_ptr<TableFile> lensFiles[5];
    FILE *lens[5] = {};
    for (int l = 0; lenses && l < 5; ++l) {
        lensFiles[l] = std::make_unique<TableFile>(tables[l + 1]);
        if (!lensFiles[l]->open()) {
            result.lensError =
                QStringLiteral("cannot write %1: %2").arg(tables[l + 1], lensFiles[l]->why());
            for (auto &file : lensFiles)
                file.reset();
            break;
        }
    }
    const std::string lensHeader = vived::PosTable::lensHeader();
    bool written = vived::PosTable::writeMainHeader(main.stream(), recordSize);
    for (int l = 0; l < 5; ++l) {
        lens[l] = lensFiles[l] ? lensFiles[l]->stream() : nullptr;
        if (lens[l])
            written = std::fwrite(lensHeader.data(), 1, lensHeader.size(), lens[l]) ==
                          lensHeader.size() &&
                      written;
    }
    const qint64 total = raw.size() / recordSize;
    std::vector<uint8_t> buffer(size_t(kBatch * recordSize));
    while (written && result.records < total) {
        const qint64 count = std::min(kBatch, total - result.records);
        const qint64 bytes = count * recordSize;
        if (raw.read(reinterpret_cast<char *>(buffer.data()), bytes) != bytes) {
            result.error = QStringLiteral("cannot read %1: %2").arg(rawPath, raw.errorString());
            break;
        }
        written = vived::PosTable::writeRows(buffer.data(), size_t(count), recordSize,
                                             main.stream(), lens);
        result.records += count;
        if (progress)
            progress(100.0 * double(result.records) / double(total));
    }
    result.leftover = raw.size() - total * recordSize;
    if (total == 0 && progress)
        progress(100.0);
    written = main.finish() && written;
    for (auto &file : lensFiles)
        written = (!file || file->finish()) && written;
    if (!written && result.error.isEmpty())
        result.error = QStringLiteral("cannot write %1").arg(mainPath);
    if (result.error.isEmpty() && !main.commit())
        result.error = QStringLiteral("cannot write %1: %2").arg(mainPath, main.why());
    result.ok = result.error.isEmpty();
    for (int l = 0; result.ok && l < 5; ++l) {
        if (lensFiles[l] && !lensFiles[l]->commit() && result.lensError.isEmpty())
            result.lensError =
                QStringLiteral("cannot write %1: %2").arg(tables[l + 1], lensFiles[l]->why());
    }
    return result;
}
