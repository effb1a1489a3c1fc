#include "photoreplacer.h"

#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

PhotoReplacer::PhotoReplacer(const QString &path, QFileDevice::Permissions permissions)
    : m_path(path)
    , m_permissions(permissions)
    // Hidden, so a half-written leftover of a killed run is no photo to the offload's file scan.
    , m_temp(QFileInfo(path).absolutePath() + QStringLiteral("/.") + QFileInfo(path).fileName() +
             QStringLiteral(".XXXXXX"))
{
    if (!m_temp.open())
        failed(QStringLiteral("cannot create a temporary file beside %1: %2")
                   .arg(path, m_temp.errorString()));
}

bool PhotoReplacer::failed(const QString &what)
{
    if (m_error.isEmpty())
        m_error = what;
    return false;
}

bool PhotoReplacer::write(const char *data, qint64 size)
{
    if (!m_error.isEmpty())
        return false;
    if (m_temp.write(data, size) != size)
        return failed(QStringLiteral("cannot write %1: %2").arg(m_path, m_temp.errorString()));
    return true;
}

bool PhotoReplacer::commit()
{
    if (!m_error.isEmpty())
        return false;
    if (!m_temp.flush())
        return failed(QStringLiteral("cannot write %1: %2").arg(m_path, m_temp.errorString()));
    m_temp.setPermissions(m_permissions);
    // Root tagging an operator's photo must leave it owned by the operator.
    struct stat original;
    if (::stat(QFile::encodeName(m_path).constData(), &original) == 0)
        (void)::fchown(m_temp.handle(), original.st_uid, original.st_gid);
    // The data reaches the disk with the kernel's own writeback, as for the offload's copies;
    // the rename alone makes the swap all-or-nothing for every reader.
    if (std::rename(QFile::encodeName(m_temp.fileName()).constData(),
                    QFile::encodeName(m_path).constData()) != 0)
        return failed(QStringLiteral("cannot replace %1").arg(m_path));
    m_temp.setAutoRemove(false);
    return true;
}
