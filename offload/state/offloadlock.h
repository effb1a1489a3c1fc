#pragma once

#include <QString>
#include <QStringList>

// One offload at a time per state folder and per target: an exclusive lock on a small file that
// names its holder (process id, host, start time). The kernel drops the lock with the process,
// so the lock file a killed run leaves behind is simply taken over by the next run.
class OffloadLock
{
public:
    enum Result { Acquired, Held, Failed };

    OffloadLock() = default;
    ~OffloadLock() { release(); }
    OffloadLock(const OffloadLock &) = delete;
    OffloadLock &operator=(const OffloadLock &) = delete;

    // Held: *message names the holder; Failed: why the lock file cannot be made.
    Result acquire(const QString &path, QString *message);
    void release();
    bool held() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    // Of the last Held: the holder's process id, host and start time (empty: not written yet).
    QStringList holder() const { return m_holder; }

    static QString stateLockPath(const QString &stateFolder);
    static QString targetLockPath(const QString &target);

private:
    int m_fd = -1;
    QString m_path;
    QStringList m_holder;
};
