#include "copyengine.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <set>
#include <string>

#include <cerrno>

#include <sys/resource.h>
#include <unistd.h>

#include "checksumlist.h"
#include "enginefile.h"
#include "plaincopy.h"
#include "syncio.h"
#include "taskfile.h"
#include "zipvolume.h"

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

// Plain mode keeps a few written copies in hand: files i+1 and i+2 are read and written while
// the disk is still taking file i, which is committed (synced, verified, named, counted) only
// then. Waiting for the disk late lets one journal commit cover several files and cameras.
void plainLoop(DiskTask *task)
{
    std::deque<PlainCopy::Written> inHand;
    for (;;) {
        const int next = task->filesDone.load() + int(inHand.size());
        const bool more = task->running.load() && next < task->fileCount.load();
        int written = EngineFile::Done;
        if (more) {
            if (next + 1 < task->fileCount.load())
                SyncIo::readAhead(taskEntry(task, next + 1));
            inHand.emplace_back();
            written = PlainCopy::write(task, next, &inHand.back());
            if (written != EngineFile::Done)
                inHand.pop_back();
        }
        // Commit the oldest once enough are in hand, and all of them when nothing more comes.
        const bool drain = !more || written != EngineFile::Done;
        while (!inHand.empty() && (drain || int(inHand.size()) > PlainCopy::InHand)) {
            const std::string writeError = task->error;
            const int committed = PlainCopy::commit(task, &inHand.front());
            if (committed != EngineFile::Done) {
                inHand.pop_front();
                for (PlainCopy::Written &w : inHand)
                    PlainCopy::abandon(&w);
                task->failed = committed == EngineFile::Failed ? 1 : 0;
                return;
            }
            if (written == EngineFile::Failed)
                std::snprintf(task->error, sizeof task->error, "%s", writeError.c_str());
            task->filesDone = inHand.front().index + 1;
            inHand.pop_front();
            TaskFile::update(task);
        }
        if (drain) {
            task->failed = written == EngineFile::Failed ? 1 : 0;
            return;
        }
    }
}

void volumeLoop(DiskTask *task)
{
    while (task->running.load() && task->filesDone.load() < task->fileCount.load()) {
        const int index = task->filesDone.load();
        if (index + 1 < task->fileCount.load())
            SyncIo::readAhead(taskEntry(task, index + 1));
        const int result = ZipVolume::pack(task, index);
        if (result == EngineFile::Paused)
            break;
        if (result == EngineFile::Failed) {
            printf("zip %s file error.\n", taskEntry(task, index));
            task->failed = 1;
            break;
        }
        task->filesDone = index + 1;
        TaskFile::update(task);
    }
    if (task->fileCount.load() > 0 && task->filesDone.load() == task->fileCount.load() &&
        ZipVolume::finish(task) != 0) {
        EngineFile::fail(task, "write checksum of %s error.", task->record.archivePath);
        task->failed = 1;
    }
}

void copyLoop(DiskTask *task)
{
    // Copying is throughput work: when the processors are busy, the window goes first, so
    // that it keeps answering while five cards are offloaded.
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, 0);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, id_t(::gettid()), nice + 4);
    if (task->record.volumeMode == 1)
        volumeLoop(task);
    else
        plainLoop(task);
    fflush(stdout);
    task->stopped = 1;
}

void startThread(DiskTask *task)
{
    if (task->thread.joinable())
        task->thread.join();
    task->error[0] = 0;
    task->failed = 0;
    task->running = 1;
    task->stopped = 0;
    task->thread = std::thread(copyLoop, task);
}

// Lines of files about to be written again leave the checksum list, so it never holds a path
// twice and never a hash of a copy that is being replaced.
void dropPendingLines(DiskTask *task, int from)
{
    const std::string folder = task->record.destination;
    if (task->record.volumeMode == 1) {
        if (from == 0)
            ChecksumList::dropIf(folder, isVolumeName);
        return;
    }
    std::vector<std::string> pending;
    for (int i = from; i < task->fileCount.load(); ++i)
        pending.push_back(PlainCopy::targetRelative(task, i));
    ChecksumList::drop(folder, pending);
}

// Files counted done whose line did not reach the disk (power lost) get it back from the copy.
void healLines(DiskTask *task, int done)
{
    const std::string folder = task->record.destination;
    std::set<std::string> listed;
    for (const auto &line : ChecksumList::read(folder))
        listed.insert(line.first);
    for (int i = 0; i < done; ++i) {
        const std::string relative = PlainCopy::targetRelative(task, i);
        uint64_t hash = 0;
        if (!listed.count(relative) && ChecksumList::hashFile(folder + '/' + relative, &hash) == 0)
            ChecksumList::append(folder, relative, hash);
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

const char *taskEntry(const DiskTask *task, int index)
{
    return task->fileList.data() + size_t(index) * TaskLayout::EntrySize;
}

// Stops the task's thread and loads its task file afresh; with rebuild, the file is first written
// anew from the record (and an archive journal of an earlier run is dropped).
static int reload(DiskTask *task, int disk, bool rebuild)
{
    if (checkDisk(disk) != 0)
        return -1;
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
    }
    if (TaskFile::load(task) != 0) {
        printf("load %d disk task file error.\n", disk);
        return -1;
    }
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
    if (!rebuild && task->record.volumeMode == 1 && ZipVolume::recover(task) != 0) {
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
    if (task->record.volumeMode != 1) {
        // The crash may have left the copies that were in hand.
        for (int i = done; i <= done + PlainCopy::InHand && i < task->fileCount.load(); ++i)
            PlainCopy::removePartial(task, i);
        healLines(task, done);
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

int stopTask(DiskTask *task, int disk)
{
    return pauseTask(task, disk);
}
