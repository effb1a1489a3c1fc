#include "savegate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

#include <minizip/unzip.h>
#include <sys/stat.h>

#include "cameras.h"
#include "copycheck.h"
#include "copyreading.h"
#include "taskconfig.h"
#include "volumequery.h"

namespace {

QString fileNameOf(const QString &relative)
{
    return relative.mid(relative.lastIndexOf(QLatin1Char('/')) + 1);
}

// The engine's zip volumes "pack1.zip", "pack2.zip", ... stand in the camera folder itself.
bool isVolumeName(const QString &relative)
{
    static const QRegularExpression volume(QStringLiteral("^pack\\d+\\.zip$"));
    return volume.match(relative).hasMatch();
}

// A split offload puts each sortie's photos into "第N架次/"; the card has no such folder.
QString withoutSortie(const QString &relative)
{
    static const QRegularExpression sortie(QStringLiteral("^第\\d+架次/"));
    return QString(relative).remove(sortie);
}

// Operating systems' leftovers on a removable volume, not the operator's files: the Mac's
// resource forks and folder settings in any folder; at the top its trash and indexes, the
// Linux desktops' trash, Windows's volume information and recycle bin.
struct Leftover
{
    const char *name; // a trailing '*' takes any rest
    bool anyFolder;
};
constexpr Leftover kLeftovers[] = {
    {"._*", true},          {".DS_Store", true},      {".Trashes", false},
    {".Spotlight-V100", false}, {".fseventsd", false}, {".TemporaryItems", false},
    {".Trash-*", false},    {"System Volume Information", false}, {"$RECYCLE.BIN", false},
};

bool isLeftover(const QString &name, bool top)
{
    for (const Leftover &leftover : kLeftovers) {
        if (!top && !leftover.anyFolder)
            continue;
        const QString pattern = QString::fromLatin1(leftover.name);
        if (pattern.endsWith(QLatin1Char('*')) ? name.startsWith(pattern.chopped(1))
                                                : name == pattern)
            return true;
    }
    return false;
}

bool isHidden(const QString &relative)
{
    return relative.startsWith(QLatin1Char('.')) || relative.contains(QLatin1String("/."));
}

struct CardFile
{
    QString relative;
    qint64 size = 0;
};

void collectFiles(const QDir &folder, const QString &prefix, std::vector<CardFile> *files)
{
    // Hidden entries too: the format erases them as well.
    const QFileInfoList entries =
        folder.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot |
                                 QDir::NoSymLinks,
                             QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (isLeftover(entry.fileName(), prefix.isEmpty()))
            continue;
        const QString relative = prefix + entry.fileName();
        if (!entry.isDir())
            files->push_back({relative, entry.size()});
        else if (relative != QLatin1String("AVF_INFO") && relative != QLatin1String("PRIVATE/SONY"))
            collectFiles(QDir(entry.absoluteFilePath()), relative + QLatin1Char('/'), files);
    }
}

} // namespace

SavedCopies::SavedCopies(const TaskConfig &config, int engineCamera,
                         const QHash<QString, QString> &renamed, const QString &backup)
{
    if (engineCamera < 0 || engineCamera >= Cameras::Count || config.savePath.isEmpty() ||
        config.cameras[engineCamera].path.isEmpty())
        return;
    const QString name = QString::fromLatin1(Cameras::folderName(engineCamera));
    m_password = config.password ? config.passwordValue : QString();
    for (auto it = renamed.cbegin(); it != renamed.cend(); ++it)
        m_cardNameOf.insert(it.value(), it.key());
    addFolder(QDir(config.savePath).filePath(name), 0);
    if (!backup.isEmpty())
        addFolder(QDir(backup).filePath(name), 1);
}

void SavedCopies::addFolder(const QString &folder, int target)
{
    // A path listed twice was copied again: its last line is the one that counts.
    QHash<QString, QString> lines;
    for (const auto &line : CopyReading::checksumLines(QFile::encodeName(folder).toStdString()))
        lines.insert(QString::fromStdString(line.first), QString::fromStdString(line.second));
    for (auto it = lines.cbegin(); it != lines.cend(); ++it) {
        if (isVolumeName(it.key())) {
            addZipVolume(QDir(folder).filePath(it.key()), target);
            continue;
        }
        Copy copy;
        copy.relative = withoutSortie(it.key());
        copy.path = QDir(folder).filePath(it.key());
        copy.hash = it.value().toULongLong(nullptr, 16);
        copy.target = target;
        add(copy);
    }
}

void SavedCopies::add(Copy copy)
{
    // A renamed copy stands for the card file it was made from, and for no other.
    copy.relative = m_cardNameOf.value(copy.relative, copy.relative);
    copy.id = int(m_copies.size());
    m_byName[fileNameOf(copy.relative)].append(copy.id);
    m_copies.push_back(copy);
}

void SavedCopies::addZipVolume(const QString &archive, int target)
{
    unzFile zip = unzOpen64(QFile::encodeName(archive).constData());
    if (!zip)
        return;
    int index = 0;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip), ++index) {
        unz_file_info64 info = {};
        char name[4096];
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            break;
        Copy copy;
        copy.relative = QString::fromUtf8(name);
        copy.path = archive;
        copy.entry = copy.relative;
        copy.entryIndex = index;
        copy.size = qint64(info.uncompressed_size);
        copy.crc = quint32(info.crc);
        copy.target = target;
        add(copy);
    }
    unzClose(zip);
}

QList<SavedCopies::Copy> SavedCopies::candidates(const QString &cardRelative) const
{
    QList<Copy> found;
    for (const int id : m_byName.value(fileNameOf(cardRelative))) {
        const Copy &copy = m_copies[size_t(id)];
        if (cardRelative == copy.relative ||
            cardRelative.endsWith(QLatin1Char('/') + copy.relative))
            found.append(copy);
    }
    return found;
}

ErasedCards::ErasedCards(const QStringList &roots)
{
    // Folder cards of V7_MEDIA_ROOT share their disk with everything else: only their folders.
    const bool folders = VolumeQuery::backendName() == QLatin1String("media root");
    const QList<MountedVolume> volumes = folders ? QList<MountedVolume>()
                                                 : VolumeQuery::mountedVolumes();
    for (const QString &root : roots) {
        if (root.isEmpty())
            continue;
        if (folders) {
            const QString resolved = QFileInfo(root).canonicalFilePath();
            m_roots << (resolved.isEmpty() ? QDir::cleanPath(QDir(root).absolutePath()) : resolved);
            continue;
        }
        struct stat info = {};
        if (::stat(QFile::encodeName(root).constData(), &info) == 0)
            m_devices.push_back(info.st_dev);
        // The same volume mounted a second time has a device number of its own.
        const MountedVolume card = VolumeQuery::volumeAt(root);
        for (const MountedVolume &volume : volumes) {
            const bool same = (!card.uuid.isEmpty() && volume.uuid == card.uuid) ||
                              (!card.device.isEmpty() && volume.device == card.device);
            if (same && ::stat(QFile::encodeName(volume.mountRoot).constData(), &info) == 0)
                m_devices.push_back(info.st_dev);
        }
    }
}

bool ErasedCards::holds(const QString &path, dev_t device) const
{
    if (std::find(m_devices.begin(), m_devices.end(), device) != m_devices.end())
        return true;
    if (m_roots.isEmpty())
        return false;
    const QString resolved = QFileInfo(path).canonicalFilePath();
    for (const QString &root : m_roots) {
        if (!resolved.isEmpty() &&
            (resolved == root || resolved.startsWith(root + QLatin1Char('/'))))
            return true;
    }
    return false;
}

namespace SaveGate {

QStringList cardPhotos(const QString &root)
{
    std::vector<CardFile> files;
    collectFiles(QDir(root), QString(), &files);
    QStringList photos;
    for (const CardFile &file : files)
        photos << file.relative;
    return photos;
}

CardCheck check(const QString &root, const SavedCopies &copies, const ErasedCards &erased)
{
    CardCheck result;
    std::vector<CardFile> files;
    collectFiles(QDir(root), QString(), &files);
    result.photos = int(files.size());

    // Each photo's copies that outlive the restore; those on an erased card are only noted.
    const size_t count = files.size();
    std::vector<std::vector<int>> wanted(count);
    std::vector<char> imageData(count, 0); // a copy of another size may be a tagged one
    std::vector<char> onErased(count, 0);
    QHash<QString, int> volumes; // zip volume -> 0 usable, 1 on an erased card, 2 missing
    CopyCheck copyCheck(copies);
    std::vector<QByteArray> compared; // the card reads these ahead while one is hashed
    std::vector<int> order(count, 0);  // photo -> its place among the compared
    for (size_t i = 0; i < count; ++i) {
        for (const SavedCopies::Copy &copy : copies.candidates(files[i].relative)) {
            int where = volumes.value(copy.path, -1);
            struct stat info = {};
            if (where < 0) {
                const bool there = ::stat(QFile::encodeName(copy.path).constData(), &info) == 0 &&
                                   S_ISREG(info.st_mode);
                where = !there ? 2 : erased.holds(copy.path, info.st_dev) ? 1 : 0;
                if (!copy.entry.isEmpty())
                    volumes.insert(copy.path, where);
            }
            onErased[i] = onErased[i] || where == 1;
            if (where != 0)
                continue;
            const bool otherSize =
                (copy.entry.isEmpty() ? qint64(info.st_size) : copy.size) != files[i].size;
            imageData[i] = imageData[i] || otherSize;
            wanted[i].push_back(copy.id);
            copyCheck.want(copy.id, otherSize);
        }
        order[i] = int(compared.size());
        if (!wanted[i].empty())
            compared.push_back(QFile::encodeName(QDir(root).filePath(files[i].relative)));
    }
    copyCheck.start();

    CopyReading::CardReadAhead prefetch(
        [&compared](int k) { return compared[size_t(k)].constData(); }, int(compared.size()));
    for (size_t i = 0; i < count; ++i) {
        const QString &relative = files[i].relative;
        unsigned targets = 0; // the targets holding a verified copy, one bit each
        if (!wanted[i].empty()) {
            prefetch.reading(order[i]);
            PhotoDigest card(imageData[i] != 0);
            if (digestFile(QDir(root).filePath(relative), &card)) {
                for (const int id : wanted[i]) {
                    const CopyCheck::Result copy = copyCheck.wait(id);
                    // The same bytes, or a tagged copy's same image data after its header.
                    if (copy.ok && ((copy.hash == card.hash() && copy.size == card.size()) ||
                                    (card.hasImageData() && copy.hasImageData &&
                                     copy.imageDataHash == card.imageDataHash())))
                        targets |= 1u << copies.copy(id).target;
                }
            }
        }
        if (targets == 1u || targets == 2u)
            ++result.oneCopy;
        if (targets != 0)
            continue;
        ++result.unsaved;
        if (isHidden(relative))
            ++result.hiddenUnsaved;
        else if (onErased[i])
            ++result.copiesErased;
        if (result.unsavedExamples.size() < 5)
            result.unsavedExamples << relative;
    }
    return result;
}

} // namespace SaveGate
