#include "datafolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace DataFolders {

QString applicationDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString perUserDataFolder()
{
    const QString state = qEnvironmentVariable("V7_STATE_DIR");
    if (!state.isEmpty())
        return QDir::cleanPath(state);
    return QDir(applicationDataFolder()).filePath(QStringLiteral("V7Assistant"));
}

QString dumpFolder()
{
    return QDir(perUserDataFolder()).filePath(QStringLiteral("dump"));
}

QString shippedFilesFolder()
{
    const QString shipped = qEnvironmentVariable("V7_SHIPPED_DIR");
    if (!shipped.isEmpty())
        return QDir::cleanPath(shipped);
    const QString appDir = QCoreApplication::applicationDirPath();
    // An installed program keeps its data apart from the binary; a build tree keeps both together.
    const QString shared = QDir::cleanPath(appDir + QStringLiteral("/../share/v7kapp"));
    if (QFileInfo::exists(QDir(appDir).filePath(QStringLiteral("UpdateConfig.xml"))))
        return appDir;
    if (QFileInfo(shared).isDir())
        return shared;
    return appDir;
}

} // namespace DataFolders
