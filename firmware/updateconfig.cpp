#include "updateconfig.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>

#include "datafolders.h"

UpdateConfig UpdateConfig::read(const QString &path)
{
    UpdateConfig config;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return config;
    QDomDocument document;
    if (!document.setContent(&file))
        return config;
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("config"))
        return config;
    for (QDomElement child = root.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        if (child.tagName() == QLatin1String("num"))
            config.version = child.attribute(QStringLiteral("value"));
    }
    const QDomElement first = root.firstChildElement();
    if (first.tagName() == QLatin1String("filename"))
        config.fileName = first.attribute(QStringLiteral("value"));
    return config;
}

QString UpdateConfig::defaultPath()
{
    return DataFolders::shippedFile(QStringLiteral("UpdateConfig.xml"));
}

bool UpdateConfig::offersNewerThan(const QString &cameraVersion) const
{
    // A missing or unreadable version counts as 0: nothing is ever proposed from it.
    return version.toDouble() > cameraVersion.toDouble();
}
