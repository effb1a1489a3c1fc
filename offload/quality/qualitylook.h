#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "qualityfindings.h"

// The look at an offload's photos as their copies land in the target: workers at the lowest
// priority decode each copy beside the copy (never the card again), so that the copy goes at
// its own pace and the look catches up when it ends; finish() then looks at the rest at normal
// priority, judges the whole and makes thumbnails of the worst. add() is cheap and may be
// called from any thread (the engine's).
class QualityLook
{
public:
    // threads: workers beside the copy and helpers at the end; 0 for one per processor.
    // beside: workers look while photos are added; without, finish() looks at them all.
    explicit QualityLook(int threads = 0, bool beside = true);
    ~QualityLook(); // drops what is not looked at yet

    // path: the copy; exposure: as LookedPhoto has it.
    void add(int camera, int index, int exposure, const QString &path);
    int added() const { return m_added.load(); }
    int looked() const { return m_looked.load(); }
    // Waits for every photo added, then judges them; the photos' paths in the findings are
    // relative to root. The look can be added to again afterwards and finished once more.
    QualityFindings finish(const QString &root);
    // Processor time the look has taken, over every thread.
    double processorSeconds() const { return double(m_processorNs.load()) / 1e9; }
    // Of the last finish: from its call until every photo was looked at.
    double catchUpSeconds() const { return m_catchUp; }

    static constexpr int ExamplesPerFlag = 4;
    static constexpr int ThumbnailSide = 160;

private:
    struct Job
    {
        int camera;
        int index;
        int exposure;
        QString path;
    };
    void work();
    LookedPhoto look(const Job &job); // any thread, without the lock

    const int m_threads;
    const bool m_beside;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    std::vector<LookedPhoto> m_done;
    std::map<quint64, Job> m_inHand; // what the workers look at now
    quint64 m_nextSerial = 0;
    bool m_stop = false;
    std::vector<std::thread> m_workers;
    std::atomic<int> m_added{0};
    std::atomic<int> m_looked{0};
    std::atomic<long long> m_processorNs{0};
    double m_catchUp = 0;
};
