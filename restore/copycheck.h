#pragma once

#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <xxhash.h>

#include "savegate.h"

// What one pass over a photo's bytes tells: its XXH64 and, when asked, the XXH64 of its image
// data from the start of scan on, which a tagged copy shares.
class PhotoDigest
{
public:
    explicit PhotoDigest(bool withImageData);
    ~PhotoDigest();
    PhotoDigest(const PhotoDigest &) = delete;
    PhotoDigest &operator=(const PhotoDigest &) = delete;

    void add(const unsigned char *data, size_t size);

    uint64_t hash() const { return XXH64_digest(m_full); }
    qint64 size() const { return m_size; }
    bool hasImageData() const { return m_scan == Found; }
    uint64_t imageDataHash() const { return XXH64_digest(m_tail); }

private:
    enum Scan { Looking, Found, None };
    void giveUp();

    XXH64_state_t *m_full = XXH64_createState();
    XXH64_state_t *m_tail = XXH64_createState();
    qint64 m_size = 0;
    Scan m_scan;
    std::vector<unsigned char> m_head;
};

// Reads a whole file into the digest; false when it cannot be read to its end.
bool digestFile(const QString &path, PhotoDigest *digest);

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
