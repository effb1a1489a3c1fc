#include "qualitylook.h"

#include <QDir>
#include <QElapsedTimer>

#include <ctime>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "workerthread.h"

namespace {

long long threadProcessorNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Beside the copy the look takes only what the processors have left: the idle class runs when
// nothing else wants them; where it is refused, the lowest nice value.
void yieldToTheCopy()
{
    sched_param param{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0)
        setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 19);
}

} // namespace

QualityLook::QualityLook(int threads, bool beside)
    : m_threads(threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency())))
    , m_beside(beside)
{}

QualityLook::~QualityLook()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread &worker : m_workers)
        worker.join();
}

void QualityLook::add(int camera, int index, int exposure, const QString &path)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_queue.push_back(Job{camera, index, exposure, path});
        ++m_added;
        // The workers start with the first photo: an offload without one costs no thread.
        while (m_beside && int(m_workers.size()) < m_threads)
            m_workers.push_back(WorkerThread::start("quality look", [this] { work(); }));
    }
    m_wake.notify_one();
}

void QualityLook::work()
{
    yieldToTheCopy();
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_wake.wait(hold, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return;
        const Job job = m_queue.front();
        m_queue.pop_front();
        const quint64 serial = m_nextSerial++;
        m_inHand.emplace(serial, job);
        hold.unlock();
        LookedPhoto photo = look(job);
        hold.lock();
        m_inHand.erase(serial);
        m_done.push_back(std::move(photo));
        ++m_looked;
    }
}

LookedPhoto QualityLook::look(const Job &job)
{
    const long long start = threadProcessorNs();
    LookedPhoto photo;
    photo.camera = job.camera;
    photo.index = job.index;
    photo.exposure = job.exposure;
    photo.path = job.path;
    photo.measure = PhotoLook::measureFile(job.path);
    m_processorNs += threadProcessorNs() - start;
    return photo;
}

QualityFindings QualityLook::finish(const QString &root)
{
    QElapsedTimer clock;
    clock.start();
    // What is left is looked at now at the normal priority, one thread per processor: this one
    // and helpers. A photo a worker of the idle class holds is looked at again rather than
    // waited for, as that worker may not get a processor for a long while.
    std::vector<Job> jobs;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        jobs.assign(m_queue.begin(), m_queue.end());
        m_queue.clear();
        for (const auto &held : m_inHand)
            jobs.push_back(held.second);
    }
    std::atomic<size_t> next{0};
    std::mutex doneLock;
    std::vector<LookedPhoto> caught;
    const auto catchUp = [&] {
        for (size_t k = next++; k < jobs.size(); k = next++) {
            LookedPhoto photo = look(jobs[k]);
            std::lock_guard<std::mutex> hold(doneLock);
            caught.push_back(std::move(photo));
        }
    };
    std::vector<std::thread> helpers;
    for (int k = 1; k < m_threads && size_t(k) < jobs.size(); ++k)
        helpers.push_back(WorkerThread::start("quality finish", catchUp));
    catchUp();
    for (std::thread &helper : helpers)
        helper.join();
    m_catchUp = double(clock.nsecsElapsed()) / 1e9;

    std::vector<LookedPhoto> photos;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_looked += int(caught.size());
        m_done.insert(m_done.end(), std::make_move_iterator(caught.begin()),
                      std::make_move_iterator(caught.end()));
        photos = m_done;
    }
    const QDir folder(root);
    for (LookedPhoto &photo : photos)
        photo.path = folder.relativeFilePath(photo.path);
    QualityFindings findings = QualityFindings::judge(std::move(photos));
    for (int rank = 0; rank < QualityFindings::FlagCount; ++rank) {
        for (int k : findings.examples(QualityFindings::flagAt(rank), ExamplesPerFlag)) {
            if (findings.flagged().at(k).thumbnail.isEmpty())
                findings.setThumbnail(
                    k, PhotoLook::thumbnail(folder.filePath(findings.flagged().at(k).path),
                                            ThumbnailSide));
        }
    }
    return findings;
}
