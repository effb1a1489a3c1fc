#include "offloadlock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "uniquefd.h"

namespace {

// Process id, host and start time; empty while the holder has not written them yet.
QStringList holderLines(int fd)
{
    char text[512] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    const QStringList lines =
        QString::fromUtf8(text, got > 0 ? int(got) : 0).split(QLatin1Char('\n'));
    if (lines.size() < 3 || lines.at(0).isEmpty())
        return QStringList();
    return lines.mid(0, 3);
}

QString holderText(const QStringList &lines)
{
    if (lines.isEmpty())
        return QStringLiteral("a run that has not written its name yet");
    return QStringLiteral("process %1 on %2, started %3")
        .arg(lines.at(0), lines.at(1), lines.at(2));
}

QByteArray hostName()
{
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return QByteArray(name);
}

} // namespace

QString OffloadLock::stateLockPath(const QString &stateFolder)
{
    return QDir(stateFolder).filePath(QStringLiteral("offload.lock"));
}

QString OffloadLock::targetLockPath(const QString &target)
{
    return QDir(target).filePath(QStringLiteral(".v7offload.lock"));
}

OffloadLock::Result OffloadLock::acquire(const QString &path, QString *message)
{
    release();
    m_holder.clear();
    const QByteArray name = QFile::encodeName(path);
    // The holder unlinks the file as it lets go: a lock taken on an unlinked file is retried.
    for (int attempt = 0; attempt < 5; ++attempt) {
        UniqueFd fd(::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd.valid()) {
            *message = QStringLiteral("cannot create the lock file %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return Failed;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK)
                m_holder = holderLines(fd.get());
            *message =
                error == EWOULDBLOCK
                    ? QStringLiteral("another offload holds %1: %2").arg(path, holderText(m_holder))
                    : QStringLiteral("cannot lock %1: %2")
                          .arg(path, QString::fromLocal8Bit(std::strerror(error)));
            return error == EWOULDBLOCK ? Held : Failed;
        }
        struct stat opened = {};
        struct stat named = {};
        if (::fstat(fd.get(), &opened) != 0 || ::stat(name.constData(), &named) != 0 ||
            opened.st_ino != named.st_ino || opened.st_dev != named.st_dev)
            continue;
        const QByteArray text = QByteArray::number(qint64(::getpid())) + '\n' + hostName() + '\n' +
                                QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() +
                                '\n';
        if (::ftruncate(fd.get(), 0) != 0 ||
            ::pwrite(fd.get(), text.constData(), size_t(text.size()), 0) != ssize_t(text.size())) {
            *message = QStringLiteral("cannot write the lock file %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            ::unlink(name.constData());
            return Failed;
        }
        m_fd = fd.release();
        m_path = path;
        return Acquired;
    }
    *message = QStringLiteral("cannot lock %1: it keeps being replaced").arg(path);
    return Failed;
}

void OffloadLock::release()
{
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}
