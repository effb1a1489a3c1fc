#include "copycheck.h"

#include <QFile>

#include <algorithm>
#include <memory>
#include <unordered_map>

#include <minizip/unzip.h>
#include <zlib.h>

#include "zipcrypto.h"
#include "workerthread.h"

namespace {

constexpr size_t kChunk = 1 << 20;

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

CopyCheck::Result resultOf(const PhotoDigest &digest, bool ok)
{
    CopyCheck::Result result;
    result.ok = ok;
    result.hash = digest.hash();
    result.size = digest.size();
    result.hasImageData = digest.hasImageData();
    result.imageDataHash = result.hasImageData ? digest.imageDataHash() : 0;
    return result;
}

} // namespace

CopyCheck::CopyCheck(const SavedCopies &copies)
    : m_copies(copies)
    , m_imageData(size_t(copies.count()), 0)
    , m_jobOf(size_t(copies.count()), -1)
    , m_results(size_t(copies.count()))
    , m_done(size_t(copies.count()), 0)
{}

CopyCheck::~CopyCheck()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void CopyCheck::want(int id, bool imageData)
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

void CopyCheck::start()
{
    if (!m_jobs.empty())
        m_thread = WorkerThread::start("copy check", [this] { run(); });
}

CopyCheck::Result CopyCheck::wait(int id)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_wake.wait(lock, [&] { return m_done[size_t(id)] != 0; });
    return m_results[size_t(id)];
}

void CopyCheck::run()
{
    const QByteArray password = m_copies.password().toUtf8();
    for (const std::vector<int> &job : m_jobs) {
        if (!m_stop)
            checkJob(job, password);
        for (const int id : job) // an entry its volume did not give, or stopped
            finish(id, Result(), false);
    }
}

void CopyCheck::checkJob(const std::vector<int> &job, const QByteArray &password)
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

void CopyCheck::finish(int id, const Result &result, bool replace)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_done[size_t(id)] && !replace)
        return;
    m_results[size_t(id)] = result;
    m_done[size_t(id)] = 1;
    m_wake.notify_all();
}
