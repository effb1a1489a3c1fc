#include "cardtemplate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include "datafolders.h"

namespace CardTemplate {

QString folderName()
{
    return QStringLiteral("R9相机替换文件");
}

QString folder()
{
    return DataFolders::shippedFile(folderName());
}

QStringList files()
{
    return {QStringLiteral("PRIVATE/SONY/SONYCARD.IND"), QStringLiteral("AVF_INFO/AVIN0001.BNP"),
            QStringLiteral("AVF_INFO/AVIN0001.INP"), QStringLiteral("AVF_INFO/AVIN0001.INT"),
            QStringLiteral("AVF_INFO/PRV00001.BIN")};
}

QString missingFile(const QString &templateFolder)
{
    for (const QString &file : files()) {
        if (!QFileInfo(QDir(templateFolder).filePath(file)).isFile())
            return file;
    }
    return QString();
}

bool copyDirectory(const QString &source, const QString &destination, bool overwrite)
{
    QDir target(destination);
    if (!target.exists() && !QDir().mkpath(destination))
        return false;
    const QFileInfoList entries =
        QDir(source).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString to = target.filePath(entry.fileName());
        if (entry.isDir()) {
            if (!copyDirectory(entry.absoluteFilePath(), to, overwrite))
                return false;
            continue;
        }
        if (overwrite && QFileInfo::exists(to))
            QFile::remove(to);
        if (!QFile::copy(entry.absoluteFilePath(), to))
            return false;
    }
    return true;
}

bool write(const QString &templateFolder, const QString &cardRoot)
{
    if (!copyDirectory(templateFolder, cardRoot, false))
        qWarning("card template: copying %s onto %s stopped early", qPrintable(templateFolder),
                 qPrintable(cardRoot));
    // The explicit copies put back a structure file the folder copy could not (a name that
    // already stood there as something else is left for the check below to find).
    for (const QString &file : files()) {
        const QString to = QDir(cardRoot).filePath(file);
        QDir().mkpath(QFileInfo(to).path());
        QFile::copy(QDir(templateFolder).filePath(file), to);
    }
    // The operator pulls the card next: what was written must be on it, not in the cache.
    const int fd = ::open(QFile::encodeName(cardRoot).constData(), O_RDONLY | O_DIRECTORY |
                                                                      O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
    return holds(templateFolder, cardRoot);
}

bool holds(const QString &templateFolder, const QString &cardRoot)
{
    for (const QString &file : files()) {
        QFile expected(QDir(templateFolder).filePath(file));
        QFile written(QDir(cardRoot).filePath(file));
        if (!expected.open(QIODevice::ReadOnly) || !written.open(QIODevice::ReadOnly))
            return false;
        // Read what the card returns, not the pages that were just written.
        ::posix_fadvise(written.handle(), 0, 0, POSIX_FADV_DONTNEED);
        if (expected.size() != written.size() || expected.readAll() != written.readAll())
            return false;
    }
    return true;
}

} // namespace CardTemplate
