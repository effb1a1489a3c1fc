#include "copycheck.h"

#include <QFile>

#include <memory>
#include <unordered_map>

#include "workerthread.h"
#include "zipentries.h"

namespace {

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
    const SavedCopies::Copy *copy = nullptr;
    std::unique_ptr<PhotoDigest> digest;
    bool named = false;
    const auto open = [&](int index, const std::string &name) -> ZipEntries::Sink {
        const auto found = byIndex.find(index);
        if (found == byIndex.end())
            return {};
        copy = &m_copies.copy(found->second);
        byIndex.erase(found);
        named = QString::fromStdString(name) == copy->entry;
        digest = std::make_unique<PhotoDigest>(m_imageData[size_t(copy->id)] != 0);
        return [&digest](const unsigned char *data, size_t size) { digest->add(data, size); };
    };
    const auto closed = [&](int, bool whole) {
        finish(copy->id, resultOf(*digest, named && whole));
    };
    ZipEntries::read(QFile::encodeName(first.path).toStdString(), password.toStdString(), open,
                     closed, [&] { return byIndex.empty() || m_stop.load(); });
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
