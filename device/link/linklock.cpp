#include "linklock.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "uniquefd.h"

namespace {

// The camera's own address on its WiFi network, as the program and the tool pass it.
const char kCameraAddress[] = "192.168.123.123:8899";

bool alive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString programOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll().trimmed()) : QString();
}

LinkLock::Holder holderIn(int fd)
{
    char text[256] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    const QList<QByteArray> lines = QByteArray(text, got > 0 ? int(got) : 0).split('\n');
    LinkLock::Holder holder;
    if (lines.size() >= 2) {
        holder.pid = lines.at(0).toLongLong();
        holder.program = QString::fromUtf8(lines.at(1));
    }
    return holder;
}

// "127.0.0.1:8899" as /proc/net/udp prints a remote address: the address's four bytes as the
// kernel holds them, then the port, in upper-case hex.
QByteArray procNetAddress(const QString &address)
{
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint port = address.mid(colon + 1).toUInt(&ok);
    if (colon <= 0 || !ok || port == 0 || port > 65535)
        return QByteArray();
    in_addr ip{};
    const QByteArray host = address.left(colon).toUtf8();
    if (::inet_pton(AF_INET, host.constData(), &ip) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo *found = nullptr;
        if (::getaddrinfo(host.constData(), nullptr, &hints, &found) != 0 || !found)
            return QByteArray();
        ip = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%08X:%04X", unsigned(ip.s_addr), port);
    return QByteArray(text);
}

} // namespace

QString LinkLock::Holder::describe() const
{
    const QString name = program.isEmpty() ? QStringLiteral("?") : program;
    return QStringLiteral("%1 (pid %2)").arg(name).arg(pid);
}

QString LinkLock::cameraAddress()
{
    const QByteArray overridden = qgetenv("V7_CAMERA_ADDRESS");
    return overridden.isEmpty() ? QString::fromLatin1(kCameraAddress)
                                : QString::fromLocal8Bit(overridden);
}

QString LinkLock::folder()
{
    const QByteArray state = qgetenv("V7_STATE_DIR");
    if (!state.isEmpty())
        return QFile::decodeName(state);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QFile::decodeName(runtime);
    return QDir::temp().filePath(QStringLiteral("v7kapp-%1").arg(::getuid()));
}

QString LinkLock::path()
{
    QString key = cameraAddress();
    for (QChar &c : key) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    }
    return QDir(folder()).filePath(QStringLiteral("v7link-%1.lock").arg(key));
}

LinkLock::Result LinkLock::acquire()
{
    if (held())
        return Acquired;
    const QString dir = folder();
    QDir().mkpath(dir);
    // In a shared temporary folder only a folder of our own may hold a lock that others trust.
    struct stat info = {};
    if (::stat(QFile::encodeName(dir).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        return Unavailable;
    UniqueFd fd(
        ::open(QFile::encodeName(path()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.valid())
        return Unavailable;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
        const QByteArray text = QByteArray::number(qint64(::getpid())) + '\n' +
                                QByteArray(program_invocation_short_name) + '\n';
        if (::ftruncate(fd.get(), 0) != 0 ||
            ::pwrite(fd.get(), text.constData(), size_t(text.size()), 0) != ssize_t(text.size()))
            return Unavailable;
        m_fd = fd.release();
        m_holder = Holder();
        return Acquired;
    }
    if (errno != EWOULDBLOCK)
        return Unavailable;
    // The holder writes its name right after it takes the lock: a name of a process that is
    // gone is an earlier holder's, and the new one goes unnamed rather than the window waiting
    // for it to write.
    m_holder = holderIn(fd.get());
    if (!alive(m_holder.pid))
        m_holder = Holder();
    return Held;
}

void LinkLock::release()
{
    if (m_fd < 0)
        return;
    // The file stays: unlinking it could let two programs lock two different files.
    ::ftruncate(m_fd, 0);
    ::close(m_fd);
    m_fd = -1;
}

LinkLock::Holder LinkLock::otherTalker()
{
    const QByteArray remote = procNetAddress(cameraAddress());
    QFile table(QStringLiteral("/proc/net/udp"));
    if (remote.isEmpty() || !table.open(QIODevice::ReadOnly))
        return Holder();
    QSet<QByteArray> sockets;
    const QList<QByteArray> rows = table.readAll().split('\n');
    for (const QByteArray &row : rows) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
        if (fields.size() > 9 && fields.at(2) == remote)
            sockets.insert("socket:[" + fields.at(9) + ']');
    }
    if (sockets.isEmpty())
        return Holder();
    const qint64 self = ::getpid();
    DIR *proc = ::opendir("/proc");
    Holder found;
    while (proc && !found.known()) {
        const dirent *process = ::readdir(proc);
        if (!process)
            break;
        char *end = nullptr;
        const qint64 pid = std::strtoll(process->d_name, &end, 10);
        if (*end || pid <= 0 || pid == self)
            continue;
        const std::string fdDir = "/proc/" + std::string(process->d_name) + "/fd/";
        DIR *fds = ::opendir(fdDir.c_str());
        while (fds && !found.known()) {
            const dirent *fd = ::readdir(fds);
            if (!fd)
                break;
            char target[64] = {};
            const ssize_t n = ::readlink((fdDir + fd->d_name).c_str(), target, sizeof target - 1);
            if (n > 0 && sockets.contains(QByteArray(target, int(n))))
                found = Holder{pid, programOf(pid)};
        }
        if (fds)
            ::closedir(fds);
    }
    if (proc)
        ::closedir(proc);
    return found;
}
