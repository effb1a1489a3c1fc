#include "crashdump.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "datafolders.h"

namespace CrashDump {

namespace {
QString g_folder;
QString g_application;
} // namespace

bool createDirectoryTree(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(QDir::cleanPath(path)).path();
    if (parent == path || !createDirectoryTree(parent))
        return false;
    return QDir().mkdir(path) || QFileInfo(path).isDir();
}

bool prepareDumpFolder(const QString &applicationName, const QString &baseFolder,
                       const QString &subFolder)
{
    const QString base = baseFolder.isEmpty() ? DataFolders::applicationDataFolder() : baseFolder;
    const QString folder = QDir::cleanPath(base + QLatin1Char('/') + subFolder);
    if (!createDirectoryTree(folder))
        return false;
    g_folder = folder;
    g_application = applicationName.isEmpty()
                        ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
                        : applicationName;
    return QFileInfo(g_folder).isDir();
}

QString dumpFolder()
{
    return g_folder;
}

QString applicationName()
{
    return g_application;
}

} // namespace CrashDump
