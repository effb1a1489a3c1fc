#include "savegate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <minizip/unzip.h>
#include <unistd.h>
#include <xxhash.h>
#include <zlib.h>

#include "cameras.h"
#include "cardprefetch.h"
#include "checksumlist.h"
#include "jpegscan.h"
#include "syncio.h"
#include "taskconfig.h"
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

// What one pass over a photo's bytes tells: its XXH64, its CRC-32 when zip entries may hold
// it, and the XXH64 of its image data from the start of scan on, which a tagged copy shares.
class PhotoDigest
{
public:
    PhotoDigest(bool withCrc, bool withImageData)
        : m_withCrc(withCrc)
        , m_scan(withImageData ? Looking : None)
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
        if (m_withCrc)
            m_crc = uint32_t(::crc32(m_crc, data, uInt(size)));
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
    uint32_t crc() const { return m_crc; }
    bool hasImageData() const { return m_scan == Found; }
    uint64_t imageDataHash() const { return XXH64_digest(m_tail); }

private:
    enum Scan { Looking, Found, None };
    void giveUp()
    {
        m_scan = None;
        std::vector<unsigned char>().swap(m_head);
    }

    bool m_withCrc;
    XXH64_state_t *m_full = XXH64_createState();
    XXH64_state_t *m_tail = XXH64_createState();
    uint32_t m_crc = 0;
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

// The entry's data as stored: the zip library hands the raw bytes and the engine's own
// decryption (the library's breaks on 64-bit builds) and inflate turn them back into the photo.
bool digestZipEntry(const SavedCopies::Copy &copy, const QString &password, PhotoDigest *digest)
{
    unzFile zip = unzOpen64(QFile::encodeName(copy.path).constData());
    if (!zip)
        return false;
    int method = 0;
    int level = 0;
    unz_file_info64 info = {};
    bool ok = unzLocateFile(zip, copy.entry.toUtf8().constData(), 1) == UNZ_OK &&
              unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK &&
              (info.compression_method == 0 || info.compression_method == Z_DEFLATED) &&
              unzOpenCurrentFile2(zip, &method, &level, 1) == UNZ_OK;
    if (!ok) {
        unzClose(zip);
        return false;
    }
    const QByteArray secret = password.toUtf8();
    std::unique_ptr<ZipCrypto> crypto;
    size_t header = 0; // encryption header bytes still to pass
    if (info.flag & 1) {
        crypto = std::make_unique<ZipCrypto>(secret.constData());
        header = ZipCrypto::HeaderSize;
    }
    z_stream stream = {};
    const bool deflated = method == Z_DEFLATED;
    ok = !deflated || inflateInit2(&stream, -MAX_WBITS) == Z_OK;
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
    unzClose(zip);
    return ok && got == 0 && inflated == Z_STREAM_END && crc == info.crc;
}

bool isSaved(const QString &path, const QString &relative, const SavedCopies &copies)
{
    const QList<SavedCopies::Copy> candidates = copies.candidates(relative);
    if (candidates.isEmpty())
        return false;
    const qint64 size = QFileInfo(path).size();
    // The image data is hashed on the way only where a copy of another size may be a tagged one:
    // the plain case costs one hash of the card, as a plain read costs none.
    bool tagged = false;
    bool zipped = false;
    for (const SavedCopies::Copy &copy : candidates) {
        zipped = zipped || !copy.entry.isEmpty();
        tagged = tagged || (copy.entry.isEmpty() ? QFileInfo(copy.path).size() : copy.size) != size;
    }
    PhotoDigest card(zipped, tagged);
    if (!digestFile(path, &card))
        return false;
    for (const SavedCopies::Copy &copy : candidates) {
        const bool same = copy.entry.isEmpty()
                              ? copy.hash == card.hash() && QFileInfo(copy.path).size() == card.size()
                              : copy.size == card.size() && copy.crc == card.crc();
        if (same)
            return true;
    }
    // A tagged copy differs from the card in its header only: read it and compare the rest.
    if (!card.hasImageData())
        return false;
    for (const SavedCopies::Copy &copy : candidates) {
        PhotoDigest saved(false, true);
        const bool read = copy.entry.isEmpty() ? digestFile(copy.path, &saved) &&
                                                     saved.hash() == copy.hash
                                               : digestZipEntry(copy, copies.password(), &saved);
        if (read && saved.hasImageData() && saved.imageDataHash() == card.imageDataHash())
            return true;
    }
    return false;
}

void collectPhotos(const QDir &folder, const QString &prefix, QStringList *photos)
{
    const QFileInfoList entries = folder.entryInfoList(
        QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString relative = prefix + entry.fileName();
        if (entry.isDir()) {
            if (relative != QLatin1String("AVF_INFO") && relative != QLatin1String("PRIVATE/SONY") &&
                relative != QLatin1String("System Volume Information") &&
                relative != QLatin1String("$RECYCLE.BIN"))
                collectPhotos(QDir(entry.absoluteFilePath()), relative + QLatin1Char('/'), photos);
        } else {
            photos->append(relative);
        }
    }
}

} // namespace

SavedCopies::SavedCopies(const TaskConfig &config, int engineCamera)
{
    if (engineCamera < 0 || engineCamera >= Cameras::Count || config.savePath.isEmpty() ||
        config.cameras[engineCamera].path.isEmpty())
        return;
    const QString folder =
        QDir(config.savePath).filePath(QString::fromLatin1(Cameras::folderName(engineCamera)));
    m_password = config.password ? config.passwordValue : QString();
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
        m_byName[fileNameOf(copy.relative)].append(copy);
    }
}

void SavedCopies::addZipVolume(const QString &archive)
{
    unzFile zip = unzOpen64(QFile::encodeName(archive).constData());
    if (!zip)
        return;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        unz_file_info64 info = {};
        char name[4096];
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            break;
        Copy copy;
        copy.relative = QString::fromUtf8(name);
        copy.path = archive;
        copy.entry = copy.relative;
        copy.size = qint64(info.uncompressed_size);
        copy.crc = quint32(info.crc);
        m_byName[fileNameOf(copy.relative)].append(copy);
        m_zipEntries = true;
    }
    unzClose(zip);
}

QList<SavedCopies::Copy> SavedCopies::candidates(const QString &cardRelative) const
{
    QList<Copy> found;
    for (const Copy &copy : m_byName.value(fileNameOf(cardRelative))) {
        if (cardRelative == copy.relative ||
            cardRelative.endsWith(QLatin1Char('/') + copy.relative))
            found.append(copy);
    }
    return found;
}

namespace SaveGate {

QStringList cardPhotos(const QString &root)
{
    QStringList photos;
    collectPhotos(QDir(root), QString(), &photos);
    return photos;
}

CardCheck check(const QString &root, const SavedCopies &copies)
{
    CardCheck result;
    const QStringList photos = cardPhotos(root);
    result.photos = int(photos.size());
    // The card reads the next photos that have copies to compare while this one is hashed.
    std::vector<QByteArray> compared;
    std::vector<int> order(size_t(photos.size()), 0); // photo -> its place among the compared
    for (int i = 0; i < photos.size(); ++i) {
        order[size_t(i)] = int(compared.size());
        if (!copies.candidates(photos.at(i)).isEmpty())
            compared.push_back(QFile::encodeName(QDir(root).filePath(photos.at(i))));
    }
    CardPrefetch prefetch([&compared](int k) { return compared[size_t(k)].constData(); },
                          int(compared.size()), CardPrefetch::Window);
    for (int i = 0; i < photos.size(); ++i) {
        const QString &relative = photos.at(i);
        prefetch.reading(order[size_t(i)]);
        if (isSaved(QDir(root).filePath(relative), relative, copies))
            continue;
        ++result.unsaved;
        if (result.unsavedExamples.size() < 5)
            result.unsavedExamples << relative;
    }
    return result;
}

} // namespace SaveGate
