#pragma once

#include <QMutex>
#include <QString>
#include <QThread>

// The offload page's needed size: the five source folder threads add into it at once.
class FolderSizeTotal
{
public:
    void add(qint64 mib)
    {
        QMutexLocker locker(&m_lock);
        m_total += mib;
    }
    qint64 value() const
    {
        QMutexLocker locker(&m_lock);
        return m_total;
    }
    void reset()
    {
        QMutexLocker locker(&m_lock);
        m_total = 0;
    }

private:
    mutable QMutex m_lock;
    qint64 m_total = 0;
};

// One-shot worker per camera source folder: adds the folder's size to the page's total.
class CaltulateThread : public QThread
{
    Q_OBJECT
public:
    CaltulateThread(const QString &source, FolderSizeTotal *total, QObject *parent = nullptr);

    // Sum of the plain, non-hidden files directly in path (no sub-folders), in whole MiB;
    // 0 for a folder that cannot be listed.
    static qint64 folderSizeMiB(const QString &path);

protected:
    void run() override;

private:
    QString m_source;
    FolderSizeTotal *m_total;
};
