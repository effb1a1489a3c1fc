#include "checkv7thread.h"

#include <QDir>
#include <QFileInfo>

#include <sys/statvfs.h>

#include "workerthread.h"

CheckV7Thread::CheckV7Thread(const QStringList &cardPaths, QObject *parent)
    : QThread(parent)
    , m_paths(cardPaths)
{}

double CheckV7Thread::diskSpaceGiB(const QString &path, bool total)
{
    struct statvfs fs = {};
    if (::statvfs(QFile::encodeName(path).constData(), &fs) != 0)
        return 0.0;
    // Free space of the volume, not the caller's quota: f_bfree, not f_bavail.
    const double blocks = total ? double(fs.f_blocks) : double(fs.f_bfree);
    return blocks * double(fs.f_frsize) / 1073741824.0;
}

void CheckV7Thread::run()
{
    WorkerThread::prepare("card check");
    bool anyCard = false;
    for (int position = 0; position < 5; ++position) {
        const QString path = m_paths.value(position);
        if (path.isEmpty()) {
            emit cardStorage(position, 0.0, 0.0);
            continue;
        }
        anyCard = true;
        if (!QFileInfo(path).isDir()) {
            emit cardStorage(position, 0.0, 0.0);
            continue;
        }
        emit cardStorage(position, diskSpaceGiB(path, false), diskSpaceGiB(path, true));
    }
    // An empty path is the port's "a:": no card. Only all five empty means no card at all.
    if (!anyCard) {
        emit popui();
        return;
    }
    emit storageRefresh();
    emit upgrade();
}
