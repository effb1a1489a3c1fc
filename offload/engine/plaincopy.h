#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "backupcopy.h"

struct DiskTask;

// Plain mode: one file of the list copied into the camera folder, on the disk and verified.
// A copy is made in stages so that the engine can write the next files while the disk is
// still taking the last ones: write() puts the bytes into a partial file beside the final
// name; the copies are then made durable, read back, named and counted a group at a time.
namespace PlainCopy {

// A group ends at this many copies or bytes, whichever comes first. One flush then covers
// many small photos (a flush per 50 KB photo cost more than the copy), while a few large ones
// still stream as they did. Two groups are in hand at most: one settling, one being written.
constexpr int GroupFiles = 64;
constexpr uint64_t GroupBytes = 24u << 20;
// Copies a crash may leave written but not counted, after files done.
constexpr int InHand = 2 * GroupFiles;

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
    int settled = 0;     // its settle's verdict (EngineFile::Done, Failed or differs)
    uint64_t size = 0;
    BackupCopy::Copy backup; // the same copy on the backup target, if any
};

// Copies made durable together, in the order of the list. Not added to once it settles.
struct Group
{
    std::deque<Written> files;
    uint64_t bytes = 0;
    std::future<void> settling; // the flush and read-back, on a thread of its own
    int syncFd = -1;            // the camera folder, for the flush
    int backupSyncFd = -1;      // the backup's camera folder, for its flush
    Group() = default;
    Group(const Group &) = delete;
    Group &operator=(const Group &) = delete;
    ~Group();
    bool full() const { return int(files.size()) >= GroupFiles || bytes >= GroupBytes; }
};

// A group is flushed on a thread of its own while the engine writes the next one, but read back
// only once the groups before it are counted: every step after the write still happens in the
// order of the list.
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

// Which entry's copy a path below the camera folder is. Built on first need: only a target
// that folds case asks, and then for every copy of a resume over earlier copies.
class CopyIndex
{
public:
    int find(DiskTask *task, const std::string &relative);

private:
    bool m_built = false;
    std::unordered_map<std::string, int> m_entries;
};

// EngineFile::Done, Failed or Unreadable (task->error says why) or Paused (running was cleared
// meanwhile); on anything but Done nothing is left behind.
int write(DiskTask *task, int index, Written *written);
// One copy on its own (a retry): durable, verified, named, its folder flushed, then listed.
int commit(DiskTask *task, Written *written);

// Takes the copy just written into group: its descriptor is closed (the group's flush needs
// none, and five cameras holding groups would run short of descriptors).
void hold(Group *group);
// Makes the group's copies durable on a thread of its own (one flush of the file system where
// it has one, else one per copy) and reads each back in its turn.
void startSettle(DiskTask *task, Group *group, CommitOrder *order);
// After the group settled: the copy's verdict (a copy that differs is made once more), then its
// name. Done, Failed or Unreadable (task->error says why). The name is on the disk only once its
// folder is flushed (flushFolders): nothing may count the copy before that.
int name(DiskTask *task, Written *written, CopyIndex *index);
// Flushes the folders of the named copies, so that their names survive a power cut.
void flushFolders(const std::vector<Written *> &named);
// Lists the named, flushed copies (one append per checksum list), hands them to the photo step
// and adds their bytes. Counting them done is the caller's, after this.
void list(DiskTask *task, const std::vector<Written *> &named);

// Drops a written copy that will not be committed; a group's, once it stopped settling.
void abandon(Written *written);
void abandon(Group *group);

// Where entry index goes, relative to the camera folder (with its sortie folder if any).
std::string targetRelative(DiskTask *task, int index);
// Removes the partial copy a crash may have left for entry index.
void removePartial(DiskTask *task, int index);

} // namespace PlainCopy
