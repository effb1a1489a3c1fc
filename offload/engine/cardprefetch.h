#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <vector>

// Keeps a card reading while its engine thread writes, syncs and verifies: the files after the
// one the engine reads next are pulled into the page cache, so that the card reader never waits
// for the target disk. Only a hint: the engine reads (and hashes) every byte itself, and a file
// the card will not give here is left for the engine to report. Nothing is held in the program's
// own memory; the cached pages are the kernel's.
//
// A card's file system daemon answers one request at a time, so an open or a close of the
// engine's waits behind the read-ahead. The descriptors opened here are therefore handed to the
// engine (take) and closed here again when it is done with them (release).
class CardPrefetch
{
public:
    // Bytes a camera's card may run ahead: a few photos, about a second of a card reader.
    static constexpr uint64_t Window = 64u << 20;
    // Files a card may run ahead, each an open descriptor: a window of small files would
    // otherwise hold thousands. Five cards together keep to a quarter of the process's limit
    // on open files, as it stands when the read-ahead starts.
    static int filesAhead();

    // path(index) names file index of count; window is how many bytes may be read ahead.
    CardPrefetch(std::function<const char *(int index)> path, int count, uint64_t window);
    ~CardPrefetch(); // stops reading, closes what it still holds and waits for the thread

    // The engine reads file index next (and has finished with the files before it).
    void reading(int index);
    // The descriptor this reader opened for file index (the engine's from now on), or -1; info
    // gets what the file system said of it when it was opened (asking again would wait behind
    // the read-ahead's reads).
    int take(int index, struct stat *info = nullptr);
    // A descriptor the engine is done with, closed on this reader's thread.
    void release(int fd);

private:
    // Reads a whole open file once through the page cache without copying it out; the bytes read.
    static uint64_t warm(int fd, const std::atomic<bool> *stop);

    struct Ahead
    {
        int index;
        uint64_t size;
        int fd; // -1 once taken
        struct stat info;
    };
    void run();
    void dropBefore(int index);
    void closeReleased(std::unique_lock<std::mutex> &lock);

    std::function<const char *(int)> m_path;
    const int m_count;
    const uint64_t m_window;
    const size_t m_files = size_t(filesAhead());
    std::mutex m_lock;
    std::condition_variable m_wake;
    int m_engine = 0;         // the file the engine reads next
    int m_next = 0;           // the next file to read ahead
    std::deque<Ahead> m_ahead; // files read ahead, their descriptors held or taken
    uint64_t m_aheadBytes = 0;
    std::vector<int> m_released;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
