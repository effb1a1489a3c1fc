#pragma once

#include <QMutex>

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
