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
    return shippedFilesFolderFor(QCoreApplication::applicationDirPath());
}

QString shippedFilesFolderFor(const QString &programFolder)
{
    // An installed program keeps its data apart from the binary (bin/ holds other programs'
    // binaries too, so it is never searched for single files); a build tree keeps both together.
    const QDir beside(programFolder);
    for (const QString &name : {QStringLiteral("UpdateConfig.xml"), QString::fromUtf8(manualFileName()),
                                QStringLiteral("R9相机替换文件")}) {
        if (QFileInfo::exists(beside.filePath(name)))
            return QDir::cleanPath(programFolder);
    }
    const QString shared = QDir::cleanPath(beside.filePath(QStringLiteral("../share/v7kapp")));
    if (QFileInfo(shared).isDir())
        return shared;
    return QDir::cleanPath(programFolder);
}

QString shippedFile(const QString &name)
{
    return QDir(shippedFilesFolder()).filePath(name);
}

} // namespace DataFolders
