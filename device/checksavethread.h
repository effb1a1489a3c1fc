#pragma once

#include <QString>
#include <QThread>

#include <atomic>

// One-shot worker started before an offload: the free space of the target folder's volume,
// for the offload page's free-space figure.
class CheckSaveThread : public QThread
{
    Q_OBJECT
public:
    explicit CheckSaveThread(const QString &destination, QObject *parent = nullptr);

    // Free (total = false) or total size of the volume holding path, in GiB; 0 when it fails.
    static double diskSpaceGiB(const QString &path, bool total);
    // The figure once the thread has finished: free GiB × 1024, truncated (MiB).
    qint64 freeMiB() const { return m_freeMiB.load(); }

signals:
    void freeSpace(qint64 mib);

protected:
    void run() override;

private:
    QString m_destination;
    std::atomic<qint64> m_freeMiB{0};
};
