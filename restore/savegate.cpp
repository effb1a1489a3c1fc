#include "savegate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#include <zlib.h>

#include "cameras.h"
#include "cardprefetch.h"
#include "checksumlist.h"
#include "jpegscan.h"
#include "syncio.h"
#include "taskconfig.h"
#include "volumequery.h"
#include "zipcrypto.h"

namespace {

constexpr size_t kChunk = 1 << 20;
// Metadata of a camera JPEG (EXIF, maker notes, thumbnail) ends well before this.
constexpr size_t kHeadLimit = 4 << 20;

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

// What one pass over a photo's bytes tells: its XXH64 and, when asked, the XXH64 of its image
// data from the start of scan on, which a tagged copy shares.
class PhotoDigest
{
public:
    explicit PhotoDigest(bool withImageData)
        : m_scan(withImageData ? Looking : None)
    {
        XXH64_reset(m_full, 0);
    }
    ~PhotoDigest()
    {
        XXH64_freeState(m_full);
        XXH64_freeState(m_tail);
    }
    PhotoDigest(const PhotoDigest &) = delete;
    PhotoDigest &operator=(const PhotoDigest &) = delete;

    void add(const unsigned char *data, size_t size)
    {
        XXH64_update(m_full, data, size);
        m_size += qint64(size);
        if (m_scan == Found) {
            XXH64_update(m_tail, data, size);
            return;
        }
        if (m_scan != Looking)
            return;
        m_head.insert(m_head.end(), data, data + size);
        if (m_head.size() >= 2 && (m_head[0] != 0xFF || m_head[1] != 0xD8)) {
            giveUp();
            return;
        }
        if (const size_t start = JpegScan::scanStart(m_head.data(), m_head.size())) {
            m_scan = Found;
            XXH64_reset(m_tail, 0);
            XXH64_update(m_tail, m_head.data() + start, m_head.size() - start);
            std::vector<unsigned char>().swap(m_head);
        } else if (m_head.size() >= kHeadLimit) {
            giveUp();
        }
    }

    uint64_t hash() const { return XXH64_digest(m_full); }
    qint64 size() const { return m_size; }
    bool hasImageData() const { return m_scan == Found; }
    uint64_t imageDataHash() const { return XXH64_digest(m_tail); }

private:
    enum Scan { Looking, Found, None };
    void giveUp()
    {
        m_scan = None;
        std::vector<unsigned char>().swap(m_head);
    }

    XXH64_state_t *m_full = XXH64_createState();
    XXH64_state_t *m_tail = XXH64_createState();
    qint64 m_size = 0;
    Scan m_scan;
    std::vector<unsigned char> m_head;
};

bool digestFile(const QString &path, PhotoDigest *digest)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // One buffer per thread: the cards are read side by side.
    thread_local std::vector<unsigned char> chunk(kChunk);
    bool ok = true;
    for (;;) {
        const ssize_t got = SyncIo::readSome(fd, chunk.data(), chunk.size());
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        digest->add(chunk.data(), size_t(got));
    }
    ::close(fd);
    return ok;
}

// The current entry's data as stored: the zip library hands the raw bytes and the engine's own
// decryption (the library's breaks on 64-bit builds) and inflate turn them back into the photo,
// whose CRC-32 and size must be the ones the central directory recorded.
bool digestCurrentEntry(unzFile zip, const unz_file_info64 &info, const QByteArray &password,
                        PhotoDigest *digest)
{
    int method = 0;
    int level = 0;
    if ((info.compression_method != 0 && info.compression_method != Z_DEFLATED) ||
        unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK)
        return false;
    std::unique_ptr<ZipCrypto> crypto;
    size_t header = 0; // encryption header bytes still to pass
    if (info.flag & 1) {
        crypto = std::make_unique<ZipCrypto>(password.constData());
        header = ZipCrypto::HeaderSize;
    }
    z_stream stream = {};
    const bool deflated = method == Z_DEFLATED;
    bool ok = !deflated || inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    int inflated = deflated ? Z_OK : Z_STREAM_END;
    uLong crc = ::crc32(0, nullptr, 0);
    thread_local std::vector<unsigned char> chunk(kChunk);
    thread_local std::vector<unsigned char> plain(kChunk);
    const auto take = [&](const unsigned char *data, size_t size) {
        crc = ::crc32_z(crc, data, size);
        digest->add(data, size);
    };
    int got = 0;
    while (ok && (got = unzReadCurrentFile(zip, chunk.data(), unsigned(chunk.size()))) > 0) {
        unsigned char *data = chunk.data();
        size_t size = size_t(got);
        if (crypto)
            crypto->decrypt(data, size);
        const size_t skipped = std::min(header, size);
        header -= skipped;
        data += skipped;
        size -= skipped;
        if (!deflated) {
            take(data, size);
            continue;
        }
        stream.next_in = data;
        stream.avail_in = uInt(size);
        while (stream.avail_in > 0 && inflated == Z_OK) {
            stream.next_out = plain.data();
            stream.avail_out = uInt(plain.size());
            inflated = ::inflate(&stream, Z_NO_FLUSH);
            ok = inflated == Z_OK || inflated == Z_STREAM_END;
            take(plain.data(), plain.size() - stream.avail_out);
        }
    }
    if (deflated)
        ::inflateEnd(&stream);
    unzCloseCurrentFile(zip);
    return ok && got == 0 && inflated == Z_STREAM_END && crc == info.crc &&
           digest->size() == qint64(info.uncompressed_size);
}

// The copies a card's photos may be saved in, hashed again on a thread of their own in the
// order the card asks for them: a copy altered since the offload must not count, and the
// target, faster than the card, has the answer ready by the time the card's photo is read.
class CopyCheck
{
public:
    struct Result
    {
        bool ok = false; // the copy still holds what its checksum line (or its CRC) says
        uint64_t hash = 0;
        qint64 size = -1;
        bool hasImageData = false;
        uint64_t imageDataHash = 0;
    };

    explicit CopyCheck(const SavedCopies &copies)
        : m_copies(copies)
        , m_imageData(size_t(copies.count()), 0)
        , m_jobOf(size_t(copies.count()), -1)
        , m_results(size_t(copies.count()))
        , m_done(size_t(copies.count()), 0)
    {}
    ~CopyCheck()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    CopyCheck(const CopyCheck &) = delete;
    CopyCheck &operator=(const CopyCheck &) = delete;

    // Before start: the copy is wanted, its image data hashed too when imageData.
    void want(int id, bool imageData)
    {
        m_imageData[size_t(id)] = m_imageData[size_t(id)] || imageData;
        if (m_jobOf[size_t(id)] >= 0)
            return;
        const SavedCopies::Copy &copy = m_copies.copy(id);
        // The wanted entries of a volume are read in one pass over it.
        if (!copy.entry.isEmpty()) {
            const auto volume = m_volumeJob.constFind(copy.path);
            if (volume != m_volumeJob.cend()) {
                m_jobOf[size_t(id)] = volume.value();
                m_jobs[size_t(volume.value())].push_back(id);
                return;
            }
            m_volumeJob.insert(copy.path, int(m_jobs.size()));
        }
        m_jobOf[size_t(id)] = int(m_jobs.size());
        m_jobs.push_back({id});
    }
    void start()
    {
        if (!m_jobs.empty())
            m_thread = std::thread([this] { run(); });
    }
    Result wait(int id)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_wake.wait(lock, [&] { return m_done[size_t(id)] != 0; });
        return m_results[size_t(id)];
    }

private:
    void run()
    {
        const QByteArray password = m_copies.password().toUtf8();
        for (const std::vector<int> &job : m_jobs) {
            if (!m_stop)
                checkJob(job, password);
            for (const int id : job) // an entry its volume did not give, or stopped
                finish(id, Result(), false);
        }
    }

    void checkJob(const std::vector<int> &job, const QByteArray &password)
    {
        const SavedCopies::Copy &first = m_copies.copy(job.front());
        if (first.entry.isEmpty()) {
            PhotoDigest digest(m_imageData[size_t(first.id)] != 0);
            const bool read = digestFile(first.path, &digest);
            finish(first.id, resultOf(digest, read && digest.hash() == first.hash));
            return;
        }
        std::unordered_map<int, int> byIndex; // entry index -> copy
        for (const int id : job)
            byIndex.emplace(m_copies.copy(id).entryIndex, id);
        unzFile zip = unzOpen64(QFile::encodeName(first.path).constData());
        if (!zip)
            return;
        int index = 0;
        for (int at = unzGoToFirstFile(zip); at == UNZ_OK && !byIndex.empty() && !m_stop;
             at = unzGoToNextFile(zip), ++index) {
            const auto found = byIndex.find(index);
            if (found == byIndex.end())
                continue;
            const SavedCopies::Copy &copy = m_copies.copy(found->second);
            byIndex.erase(found);
            unz_file_info64 info = {};
            char name[4096];
            if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) !=
                UNZ_OK)
                break;
            PhotoDigest digest(m_imageData[size_t(copy.id)] != 0);
            const bool ok = QString::fromUtf8(name) == copy.entry &&
                            digestCurrentEntry(zip, info, password, &digest);
            finish(copy.id, resultOf(digest, ok));
        }
        unzClose(zip);
    }

    static Result resultOf(const PhotoDigest &digest, bool ok)
    {
        Result result;
        result.ok = ok;
        result.hash = digest.hash();
        result.size = digest.size();
        result.hasImageData = digest.hasImageData();
        result.imageDataHash = result.hasImageData ? digest.imageDataHash() : 0;
        return result;
    }

    void finish(int id, const Result &result, bool replace = true)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_done[size_t(id)] && !replace)
            return;
        m_results[size_t(id)] = result;
        m_done[size_t(id)] = 1;
        m_wake.notify_all();
    }

    const SavedCopies &m_copies;
    std::vector<char> m_imageData;          // by copy
    std::vector<int> m_jobOf;               // by copy
    std::vector<std::vector<int>> m_jobs;   // in the order the card needs them
    QHash<QString, int> m_volumeJob;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<Result> m_results;
    std::vector<char> m_done;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

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
                         const QHash<QString, QString> &renamed)
{
    if (engineCamera < 0 || engineCamera >= Cameras::Count || config.savePath.isEmpty() ||
        config.cameras[engineCamera].path.isEmpty())
        return;
    const QString folder =
        QDir(config.savePath).filePath(QString::fromLatin1(Cameras::folderName(engineCamera)));
    m_password = config.password ? config.passwordValue : QString();
    for (auto it = renamed.cbegin(); it != renamed.cend(); ++it)
        m_cardNameOf.insert(it.value(), it.key());
    // A path listed twice was copied again: its last line is the one that counts.
    QHash<QString, QString> lines;
    for (const auto &line : ChecksumList::read(QFile::encodeName(folder).toStdString()))
        lines.insert(QString::fromStdString(line.first), QString::fromStdString(line.second));
    for (auto it = lines.cbegin(); it != lines.cend(); ++it) {
        if (isVolumeName(it.key())) {
            addZipVolume(QDir(folder).filePath(it.key()));
            continue;
        }
        Copy copy;
        copy.relative = withoutSortie(it.key());
        copy.path = QDir(folder).filePath(it.key());
        copy.hash = it.value().toULongLong(nullptr, 16);
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

void SavedCopies::addZipVolume(const QString &archive)
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

    CardPrefetch prefetch([&compared](int k) { return compared[size_t(k)].constData(); },
                          int(compared.size()), CardPrefetch::Window);
    for (size_t i = 0; i < count; ++i) {
        const QString &relative = files[i].relative;
        bool saved = false;
        if (!wanted[i].empty()) {
            prefetch.reading(order[i]);
            PhotoDigest card(imageData[i] != 0);
            if (digestFile(QDir(root).filePath(relative), &card)) {
                for (const int id : wanted[i]) {
                    const CopyCheck::Result copy = copyCheck.wait(id);
                    // The same bytes, or a tagged copy's same image data after its header.
                    saved = copy.ok && ((copy.hash == card.hash() && copy.size == card.size()) ||
                                        (card.hasImageData() && copy.hasImageData &&
                                         copy.imageDataHash == card.imageDataHash()));
                    if (saved)
                        break;
                }
            }
        }
        if (saved)
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
