#include "plaincopy.h"

#include <algorithm>
#include <optional>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include <climits>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <xxhash.h>

#include "checksumlist.h"
#include "copynames.h"
#include "disktask.h"
#include "enginefile.h"
#include "faultpoints.h"
#include "jpegscan.h"
#include "syncio.h"
#include "workerthread.h"

using EngineFile::Source;

namespace {

// settle(): the copy on the disk differs from what was written.
constexpr int Differs = 3;
// writeOnce(): the card file changed while it was read (a camera still writing it).
constexpr int Changed = 4;
// Reads of a changing file before it is passed over.
constexpr int ChangedReads = 3;

void locate(DiskTask *task, int index, PlainCopy::Written *w)
{
    w->index = index;
    w->folder = task->record.destination;
    std::string relative = size_t(index) < task->copyNames.size() && !task->copyNames[index].empty()
                               ? task->copyNames[index]
                               : taskRelativePath(task, index);
    const int sortie = task->step.sortieOf
                           ? task->step.sortieOf(task->step.context, task->record.camera, index)
                           : 0;
    if (sortie > 0)
        relative = "第" + std::to_string(sortie) + "架次/" + relative;
    w->relative = relative;
    w->path = w->folder + '/' + relative;
    const size_t slash = w->path.find_last_of('/');
    const std::string name = w->path.substr(slash + 1);
    // A name near the longest a folder takes leaves no room for the partial's dots and suffix.
    const std::string partialName =
        name.size() + 8 <= NAME_MAX ? name
                                    : ChecksumList::hexHash(XXH64(name.data(), name.size(), 0));
    w->partial = w->path.substr(0, slash + 1) + '.' + partialName + ".v7part";
    BackupCopy::locate(task, relative, partialName, &w->backup);
}

// A name the target cannot hold (a ":" or "?" on exFAT): the file's own fault, passed over so
// that the rest of the card is copied. The FUSE exFAT driver answers such a name with ENOENT, so
// that counts too while the camera folder is there (else the target disk went).
bool unholdable(DiskTask *task, const PlainCopy::Written &w, int error)
{
    struct stat st = {};
    if ((error != EINVAL && error != EILSEQ && error != ENOENT) ||
        ::stat(w.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    EngineFile::failAs(task, OutcomeCodes::FileNameRefused, error,
                       "create %s file error: the target cannot hold this name (%s).",
                       w.path.c_str(), std::strerror(error));
    return true;
}

// Source to the partial file, left open and not yet synced; fills w's hash and held bytes.
int writeOnce(DiskTask *task, PlainCopy::Written *w)
{
    const int index = w->index;
    uint64_t *written = &w->hash;
    std::vector<unsigned char> *held = &w->held;
    bool *heldValid = &w->heldValid;
    const PlainCopy::Written &target = *w;
    const char *entry = taskEntry(task, index);
    Source source;
    EngineFile::open(&source, task, index);
    if (source.fd < 0) {
        EngineFile::failAs(task, OutcomeCodes::FileUnreadable, source.error,
                           "open %s file error: %s.", entry, EngineFile::whyNot(source).c_str());
        return EngineFile::Unreadable;
    }
    if (const int injected = FaultPoints::hit(task, index, "opened", entry)) {
        EngineFile::failAs(task, OutcomeCodes::FileUnreadable, injected, "read %s file error: %s.",
                           entry, std::strerror(injected));
        return EngineFile::Unreadable;
    }
    const int out = ::open(target.partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        const int error = errno;
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, error, "create %s file error: %s.",
                           target.path.c_str(), std::strerror(error));
        return unholdable(task, *w, error) ? EngineFile::Unreadable : EngineFile::Failed;
    }
    int result = EngineFile::Done;
    int writeError = 0;
    SyncIo::DirectWriter writer(out, task->directWrites);
    // The backup takes the same bytes as they pass; its failure only ends the backup.
    std::optional<SyncIo::DirectWriter> backup;
    if (BackupCopy::open(task, &w->backup))
        backup.emplace(w->backup.fd, task->directWrites);
    const auto backupFailed = [&](const char *what) {
        const int error = errno;
        backup.reset();
        BackupCopy::giveUp(task, &w->backup,
                           std::string(what) + ' ' + w->backup.path + " file error: " +
                               std::strerror(error) + '.');
    };
    const auto put = [&](const unsigned char *data, size_t size) {
        if (writer.write(data, size) != 0) {
            writeError = errno;
            return false;
        }
        if (backup && backup->write(data, size) != 0)
            backupFailed("write");
        return true;
    };
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    const auto putHashed = [&](const unsigned char *data, size_t size) {
        XXH64_update(state, data, size);
        return put(data, size);
    };
    *heldValid = false;
    held->clear();
    if (task->step.tag || task->step.filed) {
        // Only the photo's beginning is held: the photo step rewrites and reads the segments
        // before the image data, which then goes on from the card as it is, however large.
        std::vector<unsigned char> head;
        if (EngineFile::readHead(task, &source, &head) != 0) {
            EngineFile::failAs(task, OutcomeCodes::FileUnreadable, source.error,
                               "read %s file error: %s.", entry, std::strerror(source.error));
            result = EngineFile::Unreadable;
        } else {
            std::vector<unsigned char> header;
            size_t replaced = 0;
            const unsigned char *kept = head.data();
            size_t keptSize = head.size();
            if (task->step.tag &&
                task->step.tag(task->step.context, task->record.camera, index, target.path.c_str(),
                               head.data(), head.size(), &header, &replaced) == 1 &&
                replaced <= head.size()) {
                // The new header, then the card's bytes after the part it replaces.
                if (putHashed(header.data(), header.size()))
                    putHashed(head.data() + replaced, head.size() - replaced);
                kept = header.data();
                keptSize = header.size();
            } else {
                putHashed(head.data(), head.size());
            }
            // Only the header is kept for the photo information step: a few copies stay in
            // hand per camera, and the image data is on its way to the disk already.
            const size_t scan = JpegScan::scanStart(kept, keptSize);
            if (scan > 0) {
                held->assign(kept, kept + std::min(scan + 4, keptSize));
                held->resize(scan + 4);
                *heldValid = true;
            }
        }
    }
    if (result == EngineFile::Done && !writeError)
        result = EngineFile::stream(task, &source, entry, state, put);
    *written = XXH64_digest(state);
    XXH64_freeState(state);
    if (result == EngineFile::Done && !writeError && writer.finish() != 0)
        writeError = errno;
    if (backup && result == EngineFile::Done && !writeError && backup->finish() != 0)
        backupFailed("write");
    backup.reset();
    if (result == EngineFile::Done && !writeError && EngineFile::changedWhileRead(task, source))
        result = Changed;
    if (result == EngineFile::Done && !writeError) {
        const struct timespec times[2] = {source.info.st_atim, source.info.st_mtim};
        ::futimens(out, times);
        w->fd = out;
        if (w->backup.fd >= 0)
            ::futimens(w->backup.fd, times);
    } else {
        ::close(out);
        if (w->backup.fd >= 0)
            ::close(w->backup.fd);
        w->backup.fd = -1;
    }
    if (writeError) {
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, writeError,
                           "write %s file error: %s.", target.path.c_str(),
                           std::strerror(writeError));
        result = EngineFile::Failed;
    }
    return result;
}

// writeOnce until the card file holds still while it is read; a file that keeps changing is
// passed over (Unreadable), never copied as it was at some moment of its growth.
int writeSteady(DiskTask *task, PlainCopy::Written *w)
{
    int result = Changed;
    for (int read = 0; read < ChangedReads && result == Changed; ++read)
        result = writeOnce(task, w);
    if (result == Changed) {
        EngineFile::failAs(task, OutcomeCodes::FileChanged, 0,
                           "read %s file error: it changed while it was read.",
                           taskEntry(task, w->index));
        result = EngineFile::Unreadable;
    }
    return result;
}

// Reads the copy back as the disk holds it: Done, Failed (w->failure says why) or Differs.
int readBack(DiskTask *task, PlainCopy::Written *w)
{
    FaultPoints::hit(task, w->index, "written", w->partial.c_str());
    if (!task->verify)
        return EngineFile::Done;
    uint64_t onDisk = 0;
    if (ChecksumList::hashFile(w->partial, &onDisk) != 0) {
        w->failure = "read back " + w->path + " file error: " + std::strerror(errno) + ".";
        return EngineFile::Failed;
    }
    return onDisk == w->hash ? int(EngineFile::Done) : int(Differs);
}

// fdatasync of one copy, through its own descriptor while that is open. 0, or -1 with
// w->failure set.
int syncCopy(PlainCopy::Written *w)
{
    const int fd = w->fd >= 0 ? w->fd : ::open(w->partial.c_str(), O_RDONLY | O_CLOEXEC);
    const int synced = fd >= 0 ? ::fdatasync(fd) : -1;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    w->fd = -1;
    if (synced == 0)
        return 0;
    w->failure = "write " + w->path + " file error: " + std::strerror(error) + ".";
    return -1;
}

// One copy on its own: synced, then read back.
int settle(DiskTask *task, PlainCopy::Written *w)
{
    w->failure.clear();
    const int result = syncCopy(w) == 0 ? readBack(task, w) : int(EngineFile::Failed);
    if (w->backup.wanted()) {
        w->backup.failure.clear();
        if (BackupCopy::sync(&w->backup))
            BackupCopy::readBack(task, &w->backup, w->hash);
        else
            w->backup.settled = EngineFile::Failed;
    }
    return result;
}

// Makes a group's copies on syncFd's file system durable with one syncfs, *error its errno or 0;
// false when each copy is to be synced on its own instead. A FUSE file system (exFAT through its
// FUSE driver) takes syncfs without asking its daemon to flush anything; a group of one large
// photo is better off alone too: syncfs would wait for every other camera's unwritten pages, and
// on one disk the copies then go out in short turns with the card's reads.
bool syncWhole(int syncFd, size_t copies, int *error)
{
    struct statfs fs = {};
    if (syncFd < 0 || copies < 2 || ::fstatfs(syncFd, &fs) != 0 || fs.f_type == FUSE_SUPER_MAGIC)
        return false;
    *error = ::syncfs(syncFd) != 0 ? errno : 0;
    return true;
}

// The group's copies on the disk, the target's and the backup's each on their own file system.
void flushGroup(PlainCopy::Group *g)
{
    int error = 0;
    const bool whole = syncWhole(g->syncFd, g->files.size(), &error);
    for (PlainCopy::Written &w : g->files) {
        if (!w.unreadable.empty())
            continue;
        w.failure.clear();
        w.settled = EngineFile::Done;
        if (!whole) {
            if (syncCopy(&w) != 0)
                w.settled = EngineFile::Failed;
        } else if (error) {
            w.failure = "write " + w.path + " file error: " + std::strerror(error) + ".";
            w.settled = EngineFile::Failed;
        }
    }
    if (g->syncFd >= 0)
        ::close(g->syncFd);
    g->syncFd = -1;
    int backupError = 0;
    const bool wholeBackup = syncWhole(g->backupSyncFd, g->files.size(), &backupError);
    for (PlainCopy::Written &w : g->files) {
        if (!w.unreadable.empty() || !w.backup.wanted())
            continue;
        w.backup.failure.clear();
        w.backup.settled = EngineFile::Done;
        if (!wholeBackup) {
            if (!BackupCopy::sync(&w.backup))
                w.backup.settled = EngineFile::Failed;
        } else if (backupError) {
            w.backup.failure =
                "write " + w.backup.path + " file error: " + std::strerror(backupError) + ".";
            w.backup.settled = EngineFile::Failed;
        }
    }
    if (g->backupSyncFd >= 0)
        ::close(g->backupSyncFd);
    g->backupSyncFd = -1;
}

void settleGroup(DiskTask *task, PlainCopy::Group *g, PlainCopy::CommitOrder *order)
{
    flushGroup(g);
    // Read back only in its turn: a copy is verified, named and counted in the order of the list.
    const bool turn = order->waitFor(g->files.front().index);
    for (PlainCopy::Written &w : g->files) {
        if (!w.unreadable.empty() || w.settled == EngineFile::Failed)
            continue;
        w.settled = turn ? readBack(task, &w) : int(EngineFile::Failed); // abandoned if no turn
        if (turn && w.backup.wanted() && w.backup.settled == EngineFile::Done) {
            FaultPoints::hit(task, w.index, "backup-written", w.backup.partial.c_str());
            BackupCopy::readBack(task, &w.backup, w.hash);
        }
    }
}

// Before a copy takes its name on a target that folds case: what answers to the name there may
// be spelt otherwise, and be the copy of another card file of this offload (the target folds
// more than the names were decided for). That copy is never replaced: this file is passed over.
// A differently spelt file of an older offload goes first, so that the copy is spelt as listed.
// false with task->error set when the name is another copy's.
bool nameIsFree(DiskTask *task, const PlainCopy::Written &w, PlainCopy::CopyIndex *copies)
{
    struct stat st = {};
    if (!task->foldsCase || ::lstat(w.path.c_str(), &st) != 0)
        return true;
    const size_t slash = w.path.find_last_of('/');
    const std::string name = w.path.substr(slash + 1);
    const std::string key = CopyNames::folded(name);
    std::string spelt;
    if (DIR *dir = ::opendir(w.path.substr(0, slash).c_str())) {
        while (const dirent *entry = ::readdir(dir)) {
            if (name == entry->d_name) {
                spelt.clear();
                break;
            }
            if (CopyNames::folded(entry->d_name) == key)
                spelt = entry->d_name;
        }
        ::closedir(dir);
    }
    if (spelt.empty())
        return true;
    const std::string other = w.relative.substr(0, w.relative.size() - name.size()) + spelt;
    const int owner = copies->find(task, other);
    if (owner >= 0 && owner != w.index) {
        EngineFile::failAs(task, OutcomeCodes::FileNameRefused, 0,
                           "rename %s file error: the target takes it for %s, the copy of %s.",
                           w.path.c_str(), other.c_str(), taskEntry(task, owner));
        return false;
    }
    ::unlink((w.path.substr(0, slash + 1) + spelt).c_str());
    return true;
}

} // namespace

namespace PlainCopy {

void CommitOrder::counted()
{
    // Files done is not guarded by the lock, but a waiter tests it under the lock: taking the
    // lock once here means no waiter is between its test and its wait when it is woken.
    {
        std::lock_guard<std::mutex> guard(m_lock);
    }
    m_moved.notify_all();
}

void CommitOrder::cancel()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_cancelled = true;
    }
    m_moved.notify_all();
}

bool CommitOrder::waitFor(int index)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_moved.wait(lock, [&] { return m_cancelled || m_task->filesDone.load() >= index; });
    return !m_cancelled;
}

Group::~Group()
{
    if (syncFd >= 0)
        ::close(syncFd);
    if (backupSyncFd >= 0)
        ::close(backupSyncFd);
}

int CopyIndex::find(DiskTask *task, const std::string &relative)
{
    if (!m_built) {
        for (int i = 0; i < task->fileCount.load(); ++i)
            m_entries.emplace(targetRelative(task, i), i);
        m_built = true;
    }
    const auto found = m_entries.find(relative);
    return found == m_entries.end() ? -1 : found->second;
}

void hold(Group *g)
{
    Written &w = g->files.back();
    struct stat st = {};
    if (w.fd >= 0 && ::fstat(w.fd, &st) == 0)
        w.size = uint64_t(st.st_size);
    // The flush's descriptor is taken with the first copy: a write-back error of a later copy
    // is then reported to the flush.
    if (g->syncFd < 0)
        g->syncFd = ::open(w.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g->syncFd >= 0 && w.fd >= 0) {
        ::close(w.fd);
        w.fd = -1;
    }
    if (w.backup.fd >= 0) {
        if (g->backupSyncFd < 0)
            g->backupSyncFd =
                ::open(SyncIo::parentOf(w.backup.partial).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (g->backupSyncFd >= 0) {
            ::close(w.backup.fd);
            w.backup.fd = -1;
        }
    }
    g->bytes += w.size;
}

void startSettle(DiskTask *task, Group *g, CommitOrder *order)
{
    try {
        g->settling = std::async(std::launch::async, [task, g, order] {
            WorkerThread::prepare("copy settle");
            settleGroup(task, g, order);
        });
    } catch (const std::system_error &) {
        // No thread to be had (a process limit): the engine settles the group itself in its turn.
        g->settling = std::async(std::launch::deferred, settleGroup, task, g, order);
    }
}

void flushFolders(const std::vector<Written *> &named)
{
    std::vector<std::string> folders;
    const auto add = [&folders](const std::string &folder) {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    };
    for (const Written *w : named) {
        add(SyncIo::parentOf(w->path));
        if (w->backup.named)
            add(SyncIo::parentOf(w->backup.path));
    }
    for (const std::string &folder : folders)
        SyncIo::syncFolder(folder);
}

void list(DiskTask *task, const std::vector<Written *> &named)
{
    if (named.empty())
        return;
    // The copies are on the disk and verified: they count even if their lines cannot be
    // written (a full disk); the lines are made again from the copies when the task is resumed.
    std::vector<std::pair<std::string, uint64_t>> lines;
    for (const Written *w : named)
        lines.emplace_back(w->relative, w->hash);
    if (ChecksumList::append(named.front()->folder, lines) != 0)
        printf("write checksum of %s error: %s.\n", named.front()->path.c_str(),
               std::strerror(errno));
    std::vector<std::pair<std::string, uint64_t>> backupLines;
    for (const Written *w : named) {
        if (w->backup.named)
            backupLines.emplace_back(w->relative, w->hash);
    }
    // A backup copy stands only with its line: one that could not be listed goes (a resume's
    // catch-up copies it again).
    if (!backupLines.empty() && ChecksumList::append(task->backupFolder, backupLines) != 0) {
        stopBackup(task, "write checksum of " + task->backupFolder + " error: " +
                             std::strerror(errno) + ".");
        for (const Written *w : named) {
            if (w->backup.named)
                ::unlink(w->backup.path.c_str());
        }
    }
    for (Written *w : named) {
        if (task->step.filed)
            task->step.filed(task->step.context, task->record.camera, w->index, w->path.c_str(),
                             w->heldValid ? w->held.data() : nullptr,
                             w->heldValid ? w->held.size() : 0);
        FaultPoints::hit(task, w->index, "listed", w->path.c_str());
        struct stat copied = {};
        if (w->size == 0 && ::stat(w->path.c_str(), &copied) == 0)
            w->size = uint64_t(copied.st_size);
        task->bytesDone += w->size;
    }
}

std::string targetRelative(DiskTask *task, int index)
{
    Written w;
    locate(task, index, &w);
    return w.relative;
}

void removePartial(DiskTask *task, int index)
{
    Written w;
    locate(task, index, &w);
    ::unlink(w.partial.c_str());
    if (w.backup.wanted())
        ::unlink(w.backup.partial.c_str());
}

void abandon(Written *w)
{
    if (w->fd >= 0)
        ::close(w->fd);
    w->fd = -1;
    if (!w->partial.empty())
        ::unlink(w->partial.c_str());
    BackupCopy::discard(&w->backup);
}

void abandon(Group *g)
{
    if (g->settling.valid())
        g->settling.wait();
    for (Written &w : g->files)
        abandon(&w);
}

int write(DiskTask *task, int index, Written *w)
{
    FaultPoints::hit(task, index, "start", taskEntry(task, index));
    if (!task->running.load())
        return EngineFile::Paused;
    locate(task, index, w);
    const std::string parent = SyncIo::parentOf(w->path);
    if (SyncIo::makeFolders(parent) != 0) {
        const int error = errno;
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, error, "create folder %s error: %s.",
                           parent.c_str(), std::strerror(error));
        return unholdable(task, *w, error) ? EngineFile::Unreadable : EngineFile::Failed;
    }
    const int result = writeSteady(task, w);
    if (result != EngineFile::Done)
        abandon(w);
    return result;
}

int name(DiskTask *task, Written *w, CopyIndex *copies)
{
    int result = w->settled;
    // A copy that reads back different from what was written is made once more (here: the
    // photo step belongs to this thread), then it fails.
    if (result == Differs) {
        EngineFile::failAs(task, OutcomeCodes::FileCopyDiffers, 0,
                           "verify %s file error: the copy differs from the source.",
                           w->path.c_str());
        result = writeSteady(task, w);
        if (result == EngineFile::Done) {
            result = settle(task, w);
            if (result == EngineFile::Done)
                task->error[0] = 0; // the first attempt's mismatch is healed
        }
        if (result == Differs)
            result = EngineFile::Failed; // its message stands
    }
    if (result == EngineFile::Failed && !w->failure.empty())
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, 0, "%s", w->failure.c_str());
    if (result != EngineFile::Done) {
        abandon(w);
        return result;
    }
    FaultPoints::hit(task, w->index, "verified", w->partial.c_str());
    if (!nameIsFree(task, *w, copies)) {
        abandon(w);
        return EngineFile::Unreadable;
    }
    if (::rename(w->partial.c_str(), w->path.c_str()) != 0) {
        const int error = errno;
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, error, "rename %s file error: %s.",
                           w->path.c_str(), std::strerror(error));
        abandon(w);
        return unholdable(task, *w, error) ? EngineFile::Unreadable : EngineFile::Failed;
    }
    FaultPoints::hit(task, w->index, "renamed", w->path.c_str());
    BackupCopy::name(task, &w->backup);
    return EngineFile::Done;
}

int commit(DiskTask *task, Written *w)
{
    w->settled = settle(task, w);
    CopyIndex copies;
    const int result = name(task, w, &copies);
    if (result == EngineFile::Done) {
        flushFolders({w});
        list(task, {w});
    }
    return result;
}

} // namespace PlainCopy
