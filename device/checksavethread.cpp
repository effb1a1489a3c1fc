#include "checksavethread.h"

#include "checkv7thread.h"
#include "workerthread.h"

CheckSaveThread::CheckSaveThread(const QString &destination, QObject *parent)
    : QThread(parent)
    , m_destination(destination)
{}

double CheckSaveThread::diskSpaceGiB(const QString &path, bool total)
{
    return CheckV7Thread::diskSpaceGiB(path, total);
}

void CheckSaveThread::run()
{
    WorkerThread::prepare("target space");
    const qint64 mib = qint64(diskSpaceGiB(m_destination, false) * 1024.0);
    m_freeMiB = mib;
    emit freeSpace(mib);
}
