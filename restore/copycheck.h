#pragma once

#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "copyreading.h"
#include "savegate.h"

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

    explicit CopyCheck(const SavedCopies &copies);
    ~CopyCheck(); // stops after the copy in hand
    CopyCheck(const CopyCheck &) = delete;
    CopyCheck &operator=(const CopyCheck &) = delete;

    // Before start: the copy is wanted, its image data hashed too when imageData.
    void want(int id, bool imageData);
    void start();
    // Waits until the copy is checked.
    Result wait(int id);

private:
    void run();
    void checkJob(const std::vector<int> &job, const QByteArray &password);
    void finish(int id, const Result &result, bool replace = true);

    const SavedCopies &m_copies;
    std::vector<char> m_imageData;        // by copy
    std::vector<int> m_jobOf;             // by copy
    std::vector<std::vector<int>> m_jobs; // in the order the card needs them
    QHash<QString, int> m_volumeJob;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<Result> m_results;
    std::vector<char> m_done;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
