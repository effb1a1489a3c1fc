#include "appsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "datafolders.h"

namespace AppSettings {

QString filePath()
{
    return QDir(DataFolders::perUserDataFolder()).filePath(QStringLiteral("settings.ini"));
}

QVariant value(const QString &key, const QVariant &fallback)
{
    return QSettings(filePath(), QSettings::IniFormat).value(key, fallback);
}

void setValue(const QString &key, const QVariant &value)
{
    // QSettings creates the state folder itself; a fresh machine has none yet.
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
}

QString lastFolder(const QString &key)
{
    const QString folder = value(key).toString();
    // A card or a stick that was pulled since: the chooser falls back rather than erroring.
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void setLastFolder(const QString &key, const QString &dirOrFile)
{
    if (dirOrFile.isEmpty())
        return;
    const QFileInfo info(dirOrFile);
    setValue(key, QDir::cleanPath(info.isDir() ? info.absoluteFilePath() : info.absolutePath()));
}

QString startFolder(const QString &key, const QString &orKey)
{
    QString last = lastFolder(key);
    if (last.isEmpty() && !orKey.isEmpty())
        last = lastFolder(orKey);
    return last.isEmpty() ? QDir::homePath() : last;
}

} // namespace AppSettings
