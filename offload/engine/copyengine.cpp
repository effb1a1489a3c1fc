#include "copyengine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <set>
#include <string>

#include <cerrno>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backupcopy.h"
#include "cardheads.h"
#include "cardprefetch.h"
#include "checksumlist.h"
#include "enginefile.h"
#include "failedfiles.h"
#include "plaincopy.h"
#include "syncio.h"
#include "taskfile.h"
#include "workerthread.h"

namespace {

bool isVolumeName(const std::string &relative)
{
    return relative.compare(0, 4, "pack") == 0 && relative.size() > 8 &&
           relative.compare(relative.size() - 4, 4, ".zip") == 0 &&
           relative.find('/') == std::string::npos;
}

int checkDisk(int disk)
{
    if (disk < 0 || disk > 5) {
        printf("invalid disk number: %d.\n", disk);
        return -1;
    }
    return 0;
}

// A file the card would not give is passed over (kept in the failed list, retried by a resume)
// as long as the card itself is still there; otherwise the camera stops as before, so that a
// pulled card does not turn every file after it into a failure.
int passOver(DiskTask *task, int index)
{
    if (!EngineFile::sourcePresent(task))
        return EngineFile::Failed;
    if (FailedFiles::note(task, index, task->error) != 0) {
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, errno, "write %s file error: %s.",
                           FailedFiles::path(task).c_str(), std::strerror(errno));
        return EngineFile::Failed;
    }
    task->error[0] = 0;
    return EngineFile::Done;
}

// The card goes on reading while the engine writes, syncs and verifies: without this, each card
// reader stood idle for the disk's part of every file. The window is page cache, not our memory.
struct CardReadAhead
{
    explicit CardReadAhead(DiskTask *task)
        : task(task)
        , prefetch([task](int index) { return taskEntry(task, index); }, task->fileCount.load(),
                   CardPrefetch::Window)
    {
        task->prefetch = &prefetch;
    }
    ~CardReadAhead() { task->prefetch = nullptr; }
    void reading(int index) { prefetch.reading(index); }

    DiskTask *task;
    CardPrefetch prefetch;
};

// Plain mode keeps up to two groups of written copies in hand (see PlainCopy::Group): the next
// group is read and written while the disk takes the last, which is committed (flushed,
// verified, named, counted) only once the next one is full. Waiting for the disk late and once
// per group lets one flush cover many files and cameras. A file that could not be read stays in
// its group as a place holder, passed over in its turn.
void plainLoop(DiskTask *task)
{
    PlainCopy::CommitOrder order(task);
    std::deque<PlainCopy::Group> groups;
    // Leaving the loop, groups still settling give up before their copies are dropped.
    struct Cancel
    {
        PlainCopy::CommitOrder &order;
        std::deque<PlainCopy::Group> &groups;
        ~Cancel()
        {
            order.cancel();
            for (PlainCopy::Group &g : groups)
                PlainCopy::abandon(&g);
        }
    } cancelOnExit{order, groups};
    PlainCopy::CopyIndex copies;
    CardReadAhead prefetch(task);
    for (;;) {
        int next = task->filesDone.load();
        for (const PlainCopy::Group &g : groups)
            next += int(g.files.size());
        const bool more = task->running.load() && next < task->fileCount.load();
        int written = EngineFile::Done;
        if (more) {
            if (groups.empty() || groups.back().settling.valid())
                groups.emplace_back();
            PlainCopy::Group &group = groups.back();
            prefetch.reading(next);
            group.files.emplace_back();
            written = PlainCopy::write(task, next, &group.files.back());
            if (written == EngineFile::Done) {
                PlainCopy::hold(&group);
            } else if (written == EngineFile::Unreadable) {
                group.files.back().index = next;
                group.files.back().unreadable = task->error;
                written = EngineFile::Done;
            } else {
                group.files.pop_back();
            }
        }
        const bool drain = !more || written != EngineFile::Done;
        if (!groups.empty() && !groups.back().settling.valid()) {
            if (groups.back().files.empty())
                groups.pop_back();
            else if (drain || groups.back().full())
                PlainCopy::startSettle(task, &groups.back(), &order);
        }
        // Commit the oldest group once the one after it settles, and all when nothing more comes.
        const std::string writeError = written == EngineFile::Failed ? task->error : "";
        while (!groups.empty() && groups.front().settling.valid() &&
               (drain || (groups.size() > 1 && groups[1].settling.valid()))) {
            PlainCopy::Group &group = groups.front();
            group.settling.get();
            std::vector<PlainCopy::Written *> named;
            int committed = EngineFile::Done;
            int stop = group.files.back().index + 1;
            for (PlainCopy::Written &w : group.files) {
                if (w.unreadable.empty()) {
                    committed = PlainCopy::name(task, &w, &copies);
                } else {
                    std::snprintf(task->error, sizeof task->error, "%s", w.unreadable.c_str());
                    committed = EngineFile::Unreadable;
                }
                if (committed == EngineFile::Unreadable)
                    committed = passOver(task, w.index);
                else if (committed == EngineFile::Done)
                    named.push_back(&w);
                if (committed != EngineFile::Done) {
                    stop = w.index;
                    break;
                }
            }
            // Nothing is listed or counted before it is on the disk under its name.
            PlainCopy::flushFolders(named);
            PlainCopy::list(task, named);
            task->filesDone = stop;
            TaskFile::update(task);
            order.counted(); // the next group's turn comes once this one is recorded
            if (committed != EngineFile::Done) {
                task->failed = committed == EngineFile::Failed ? 1 : 0;
                return;
            }
            if (written == EngineFile::Failed)
                std::snprintf(task->error, sizeof task->error, "%s", writeError.c_str());
            groups.pop_front();
        }
        if (drain) {
            task->failed = written == EngineFile::Failed ? 1 : 0;
            return;
        }
    }
}

void volumeLoop(DiskTask *task)
{
    CardReadAhead prefetch(task);
    while (task->running.load() && task->filesDone.load() < task->fileCount.load()) {
        const int index = task->filesDone.load();
        prefetch.reading(index);
        int result = task->volumes.pack(task, index);
        if (result == EngineFile::Paused)
            break;
        if (result == EngineFile::Unreadable)
            result = passOver(task, index);
        if (result == EngineFile::Failed) {
            printf("zip %s file error.\n", taskEntry(task, index));
            task->failed = 1;
            break;
        }
        task->filesDone = index + 1;
        TaskFile::update(task);
    }
    // The last archive's line; there is none when every file failed.
    struct stat archive = {};
    if (task->fileCount.load() > 0 && task->filesDone.load() == task->fileCount.load() &&
        ::stat(task->record.archivePath, &archive) == 0 && taskFilesCopied(task) > 0 &&
        task->volumes.finish(task) != 0) {
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, 0, "write checksum of %s error.",
                           task->record.archivePath);
        task->failed = 1;
    }
}

// A resume first tries the files an earlier run passed over, one at a time; the ones that still
// fail stay listed with their new reason. false when the camera must stop (card gone, target
// full: task->failed is set then) or the task was paused.
bool retryFailed(DiskTask *task, const std::vector<int> &indices)
{
    for (const int index : indices) {
        if (!task->running.load())
            return false;
        int result;
        if (task->record.volumeMode == 1) {
            result = task->volumes.pack(task, index);
            // The archive journal speaks of files done, which a retry leaves as it is: it must
            // not take this entry back on a resume.
            if (result == EngineFile::Done)
                task->volumes.settle(task);
        } else {
            PlainCopy::Written w;
            result = PlainCopy::write(task, index, &w);
            if (result == EngineFile::Done)
                result = PlainCopy::commit(task, &w);
        }
        if (result == EngineFile::Paused)
            return false;
        if (result == EngineFile::Done && FailedFiles::clear(task, index) != 0)
            result = EngineFile::Failed;
        if (result == EngineFile::Unreadable)
            result = passOver(task, index);
        if (result == EngineFile::Failed) {
            task->failed = 1;
            return false;
        }
    }
    return true;
}

void copyLoop(DiskTask *task)
{
    // Copying is throughput work: when the processors are busy, the window goes first, so
    // that it keeps answering while five cards are offloaded.
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, 0);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, id_t(::gettid()), nice + 4);
    const std::vector<int> retries = std::move(task->retries);
    task->retries.clear();
    if (retryFailed(task, retries)) {
        if (task->record.volumeMode == 1)
            volumeLoop(task);
        else
            plainLoop(task);
    }
    // What the backup lacks of the first target's copies (an earlier run's, or every archive
    // of volume mode) is filled in from there once the card is done with.
    if (task->running.load())
        BackupCopy::catchUp(task);
    fflush(stdout);
    task->stopped = 1;
}

void startThread(DiskTask *task)
{
    if (task->thread.joinable())
        task->thread.join();
    task->error[0] = 0;
    task->failed = 0;
    {
        std::lock_guard<std::mutex> guard(task->backupLock);
        task->backupStopped = 0; // each run tries the backup afresh
        task->backupError.clear();
    }
    task->running = 1;
    task->stopped = 0;
    task->thread = WorkerThread::start("offload copy", [task] { copyLoop(task); });
}

} // namespace

void dropPendingLines(DiskTask *task, int from)
{
    const std::string folder = task->record.destination;
    const std::string &backup = task->backupFolder;
    if (task->record.volumeMode == 1) {
        if (from == 0) {
            ChecksumList::dropIf(folder, isVolumeName);
            if (!backup.empty())
                ChecksumList::dropIf(backup, isVolumeName);
        }
        return;
    }
    std::vector<std::string> pending;
    for (int i = from; i < task->fileCount.load(); ++i)
        pending.push_back(PlainCopy::targetRelative(task, i));
    for (const int i : task->retries)
        pending.push_back(PlainCopy::targetRelative(task, i));
    ChecksumList::drop(folder, pending);
    if (!backup.empty())
        ChecksumList::drop(backup, pending);
}

namespace {

// Files counted done whose line did not reach the disk (power lost) get it back from the copy.
// A file that failed has no copy of this offload; one in its place is an older offload's.
void healLines(DiskTask *task, int done, const std::vector<int> &failed)
{
    const std::string folder = task->record.destination;
    std::set<std::string> listed;
    for (const auto &line : ChecksumList::read(folder))
        listed.insert(line.first);
    const std::set<int> skip(failed.begin(), failed.end());
    for (int i = 0; i < done; ++i) {
        if (skip.count(i))
            continue;
        const std::string relative = PlainCopy::targetRelative(task, i);
        uint64_t hash = 0;
        if (!listed.count(relative) && ChecksumList::hashFile(folder + '/' + relative, &hash) == 0)
            ChecksumList::append(folder, relative, hash);
    }
}

void relistMissing(DiskTask *task, int done)
{
    const std::set<int> known(task->retries.begin(), task->retries.end());
    const std::string folder = std::string(task->record.destination) + '/';
    for (int i = 0; i < done; ++i) {
        struct stat st = {};
        if (known.count(i) || ::stat((folder + PlainCopy::targetRelative(task, i)).c_str(), &st) == 0)
            continue;
        FailedFiles::note(task, i, "no copy found after the list of failed files was damaged");
        task->retries.push_back(i);
    }
}

} // namespace

DiskTask::~DiskTask()
{
    running = 0;
    if (thread.joinable())
        thread.join();
    TaskFile::close(this);
}

// Stops the task's thread and loads its task file afresh; with rebuild, the file is first written
// anew from the record (and an archive journal of an earlier run is dropped).
static int reload(DiskTask *task, int disk, bool rebuild)
{
    if (checkDisk(disk) != 0)
        return -1;
    if (task->record.volumeMode == 1 &&
        !(task->volumes.pack && task->volumes.recover && task->volumes.settle &&
          task->volumes.finish)) {
        printf("%d disk task has no volume steps.\n", disk);
        return -1;
    }
    if (task->thread.joinable())
        pauseTask(task, disk);
    TaskFile::close(task);
    task->bytesDone = task->record.bytesDone;
    if (rebuild) {
        if (TaskFile::build(task) != 0) {
            printf("create %d disk task file error.\n", disk);
            return -1;
        }
        ::unlink((std::string(task->record.taskFilePath) + ".tail").c_str());
        // The skipped files of the new list; the failures of an earlier offload go.
        {
            std::lock_guard<std::mutex> guard(task->problemLock);
            task->failedFiles.clear();
        }
        if (FailedFiles::save(task) != 0) {
            printf("create %d disk task file error: %s.\n", disk, FailedFiles::path(task).c_str());
            return -1;
        }
    }
    if (TaskFile::load(task) != 0) {
        printf("load %d disk task file error.\n", disk);
        return -1;
    }
    EngineFile::noteSource(task);
    task->problemsDamaged = !rebuild && FailedFiles::load(task) != 0;
    task->retries.clear();
    return 0;
}

int createTask(DiskTask *task, int disk)
{
    if (prepareTask(task, disk) != 0)
        return -1;
    startThread(task);
    return 0;
}

int prepareTask(DiskTask *task, int disk)
{
    if (reload(task, disk, true) != 0)
        return -1;
    CardHeads::clear(task->record.taskFilePath); // the photos the list names are read anew
    dropPendingLines(task, 0);
    return 0;
}

int startTask(DiskTask *task, int disk)
{
    if (checkDisk(disk) != 0 || !task->taskFile)
        return -1;
    startThread(task);
    return 0;
}

int loadTask(DiskTask *task, int disk, bool rebuild)
{
    if (reload(task, disk, rebuild) != 0)
        return -1;
    if (!rebuild && task->record.volumeMode == 1 && task->volumes.recover(task) != 0) {
        EngineFile::fail(task, "zip %s file error: cannot repair the archive.",
                         task->record.archivePath);
        TaskFile::close(task);
        return -1;
    }
    return 0;
}

int settleTask(DiskTask *task, int disk)
{
    if (checkDisk(disk) != 0 || !task->taskFile)
        return -1;
    const int done = task->filesDone.load();
    bool relisted = false;
    {
        // The target check may have set the count back before a failed file: the loop copies
        // it again from there, so it leaves the list; only those before the count are retried.
        std::lock_guard<std::mutex> guard(task->problemLock);
        auto &failed = task->failedFiles;
        const size_t listed = failed.size();
        failed.erase(std::remove_if(failed.begin(), failed.end(),
                                    [done](const FileProblem &f) { return f.index >= done; }),
                     failed.end());
        for (const FileProblem &f : failed)
            task->retries.push_back(f.index);
        relisted = failed.size() != listed;
    }
    if (relisted && FailedFiles::save(task) != 0) {
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, errno, "write %s file error: %s.",
                           FailedFiles::path(task).c_str(), std::strerror(errno));
        TaskFile::close(task);
        return -1;
    }
    if (task->record.volumeMode != 1) {
        // The crash may have left the copies that were in hand.
        for (int i = done; i < done + PlainCopy::InHand && i < task->fileCount.load(); ++i)
            PlainCopy::removePartial(task, i);
        // Without a trustworthy list of what failed, a file counted done without its copy is
        // taken for one that failed.
        if (task->problemsDamaged)
            relistMissing(task, done);
        for (const int i : task->retries)
            PlainCopy::removePartial(task, i);
        healLines(task, done, task->retries);
    }
    dropPendingLines(task, done);
    return 0;
}

int resumeTask(DiskTask *task, int disk)
{
    if (loadTask(task, disk, false) != 0 || settleTask(task, disk) != 0)
        return -1;
    startThread(task);
    return 0;
}

int pauseTask(DiskTask *task, int disk)
{
    if (checkDisk(disk) != 0)
        return -1;
    task->running = 0;
    if (task->thread.joinable())
        task->thread.join();
    task->buffer.clear();
    task->buffer.shrink_to_fit();
    TaskFile::close(task);
    return 0;
}
