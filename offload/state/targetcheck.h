#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

struct DiskTask;

// What of a camera's offload is in the target: the durable truth a resume starts from. The
// task file's files-done count only saves work: files below it are trusted after a cheap check
// (the copy is there with its line in the checksum list and, untagged, the card file's size),
// the files from it on are verified in full (the copy hashes to its line, and the line is the
// card file's hash, or for a tagged photo the picture after the header is the card's).
namespace TargetCheck {

// Plain mode: how many of the task's files, from the first, are done. unchecked receives the
// files taken on the cheap check, for an Audit. untaggedIsDone: a photo of a tagging task copied
// as it is on the card counts (a resume's photo without a record); a new offload over an earlier
// untagged one passes false, so that its photos get their positions.
int plainDone(DiskTask *task, int hint, std::vector<int> *unchecked = nullptr,
              bool untaggedIsDone = true);
// Volume mode: the same from the archives "pack1.zip"... of the camera folder (entry names in
// order, sizes and CRCs against the card files); the record is pointed at the last archive.
// note says why work already in the archives is not counted, when that happens.
// Before an archive is trusted it is read back whole: an archive with a checksum line must hash
// to it, one without must have every entry match its CRC (a full archive then gets its line
// again). Anything else packs the camera again from the start.
int volumeDone(DiskTask *task, int hint, std::string *note);

// Plain mode: the copies a resume took on the cheap check, each read back from the disk on a
// thread of its own while the engine copies the rest, against its checksum line. A copy that
// differs is listed as failed at once (a kill now leaves it to the next resume) and loses its
// line; once the engine has finished its run, the audit copies it again itself. Until then the
// offload is not complete.
class Audit
{
public:
    Audit(DiskTask *task, std::vector<int> files);
    ~Audit(); // stop()
    Audit(const Audit &) = delete;
    Audit &operator=(const Audit &) = delete;

    // Starts, or goes on with the files not read yet after a stop.
    void start();
    // Gives up at the next file and waits for the thread.
    void stop();
    bool running() const { return m_running.load(); }

private:
    void run();

    DiskTask *m_task;
    std::vector<int> m_files;
    size_t m_next = 0;
    std::vector<int> m_differing; // listed as failed, not copied again yet
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

} // namespace TargetCheck
