#pragma once

#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <vector>

struct DiskTask;

// Plain mode: one file of the list copied into the camera folder, on the disk and verified.
// A copy is made in two stages so that the engine can write the next file while the disk is
// still taking the last one: write() puts the bytes into a partial file beside the final
// name, commit() waits until they are on the disk, verifies them and gives the file its name.
namespace PlainCopy {

// Copies written ahead of the one being committed.
constexpr int InHand = 2;

struct Written
{
    int index = -1;
    int fd = -1;          // the partial file, open until it is synced
    std::string folder;   // camera folder
    std::string relative; // below the camera folder, with the sortie folder if any
    std::string path;
    std::string partial;
    uint64_t hash = 0;               // of the bytes written
    std::vector<unsigned char> held; // the photo's header as written, when it was held in memory
    bool heldValid = false;
    std::string unreadable; // why the source could not be read: nothing was written
    std::string failure; // why syncing or reading back failed
    std::future<int> settled; // the sync and read-back started ahead of commit, if any
};

// Copies are synced on threads of their own while the engine writes the next ones, but each is
// read back only once the copies before it are counted: every step after the write still
// happens file by file, in the order of the list.
class CommitOrder
{
public:
    explicit CommitOrder(DiskTask *task)
        : m_task(task)
    {}
    // Files done moved on and is recorded in the task file.
    void counted();
    // Nothing more will be counted: threads still waiting give up.
    void cancel();
    // Until the files before index are counted; false when cancelled.
    bool waitFor(int index);

private:
    DiskTask *m_task;
    std::mutex m_lock;
    std::condition_variable m_moved;
    bool m_cancelled = false;
};

// EngineFile::Done, Failed or Unreadable (task->error says why) or Paused (running was cleared
// meanwhile); on anything but Done nothing is left behind. A committed copy's name is on the
// disk once its folder is flushed (FolderSyncs); until then a power cut can take the name back,
// which a resume notices, as it checks the copies below files done against the target.
int write(DiskTask *task, int index, Written *written);
int commit(DiskTask *task, Written *written);
// Starts syncing a written copy on a thread of its own and reading it back in its turn; commit
// then waits for it. Without this, commit does both itself.
void startSettle(DiskTask *task, Written *written, CommitOrder *order);
// Folders whose new names still wait for a flush. One flush covers every copy renamed into the
// folder since the last, instead of a journal commit per photo.
class FolderSyncs
{
public:
    void add(const std::string &path);
    // Flushes them all once count copies (or, with 0, any) are waiting.
    void flush(int count = 0);

private:
    std::vector<std::string> m_folders;
    int m_waiting = 0;
};

// Drops a written copy that will not be committed.
void abandon(Written *written);

// Where entry index goes, relative to the camera folder (with its sortie folder if any).
std::string targetRelative(DiskTask *task, int index);
// Removes the partial copy a crash may have left for entry index.
void removePartial(DiskTask *task, int index);

} // namespace PlainCopy
