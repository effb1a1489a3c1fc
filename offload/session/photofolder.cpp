#include "photofolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <string>
#include <vector>

#include <sys/stat.h>

#include "cardfiles.h"

namespace PhotoFolder {

Listing list(const QString &folder)
{
    Listing listing;
    std::vector<std::string> paths;
    std::vector<std::string> skipped;
    const std::string base = QFile::encodeName(folder).toStdString();
    if (folder.isEmpty() || CardFiles::listCopyable(base, &paths, &skipped) != 0)
        return listing;
    for (const std::string &relative : skipped)
        listing.skipped << QFile::decodeName(relative.c_str());
    listing.readable = true;
    listing.files = int(paths.size());
    for (const std::string &relative : paths) {
        const QString suffix = QFileInfo(QFile::decodeName(relative.c_str())).suffix().toLower();
        if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
            ++listing.photos;
        struct stat st = {};
        if (::stat((base + '/' + relative).c_str(), &st) == 0)
            listing.bytes += quint64(st.st_size);
    }
    return listing;
}

QString photoRoot(const QString &cardRoot)
{
    if (cardRoot.isEmpty())
        return QString();
    const QString dcim = QDir(cardRoot).filePath(QStringLiteral("DCIM"));
    return QFileInfo(dcim).isDir() ? dcim : QString();
}

} // namespace PhotoFolder
