#include "caltulatethread.h"

#include "workerthread.h"

#include <QDir>
#include <QFileInfo>

CaltulateThread::CaltulateThread(const QString &source, FolderSizeTotal *total, QObject *parent)
    : QThread(parent)
    , m_source(source)
    , m_total(total)
{}

qint64 CaltulateThread::folderSizeMiB(const QString &path)
{
    if (path.isEmpty())
        return 0;
    const QFileInfoList files = QDir(path).entryInfoList(QDir::Files, QDir::NoSort);
    qint64 bytes = 0;
    for (const QFileInfo &file : files)
        bytes += file.size();
    return bytes / 1024 / 1024;
}

void CaltulateThread::run()
{
    WorkerThread::prepare("folder size");
    m_total->add(folderSizeMiB(m_source));
}
