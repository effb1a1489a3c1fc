#include "posusbdrive.h"

#include "poslog.h"
#include "postimes.h"

#include <QDir>
#include <QFile>

#include <ctime>
#include <sys/stat.h>

namespace {
// The file's modification time broken down in local time: the camera's file system stores its
// clock's fields, which the computer reads as local time, so these are the camera's UTC fields.
bool modificationClock(const QString &path, PosClock &clock)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return PosTimes::localClock(info.st_mtime, &clock);
}
} // namespace

namespace PosUsbDrive {

QVector<PosUsbFile> list(const QString &root, int recordSize, bool *stoppedEarly)
{
    QVector<PosUsbFile> files;
    if (stoppedEarly)
        *stoppedEarly = false;
    if (recordSize <= 0)
        return files;
    // The directory's own order: on the camera's exFAT drive that is the order it wrote them.
    const QFileInfoList entries = QDir(root).entryInfoList(
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            qCInfo(lcPosConsole).noquote() << QStringLiteral("读取文件出错") << entry.filePath();
            if (stoppedEarly)
                *stoppedEarly = true;
            break;
        }
        PosUsbFile f;
        f.number = int(files.size()) + 1;
        f.path = entry.filePath();
        f.points = file.size() / recordSize;
        PosClock clock;
        if (modificationClock(f.path, clock))
            clock = PosTimes::toLocal(clock);
        f.timeText = PosTimes::text(clock);
        f.compactTime = PosTimes::compact(clock);
        files.append(f);
    }
    return files;
}

} // namespace PosUsbDrive
