#include "plaincopy.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include <climits>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "checksumlist.h"
#include "copyengine.h"
#include "copynames.h"
#include "enginefile.h"
#include "faultpoints.h"
#include "jpegscan.h"
#include "syncio.h"

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
                               : EngineFile::relativePath(task, index);
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
    SyncIo::DirectWriter writer(out);
    if (EngineFile::holdInMemory(task, source)) {
        // The photo is read into the task's buffer, which keeps its pages from one photo to
        // the next: a fresh buffer per photo costs more in page faults than the copy itself.
        std::vector<unsigned char> &whole = task->buffer;
        size_t size = 0;
        *heldValid = false;
        held->clear();
        if (EngineFile::readWhole(task, &source, &whole, &size) != 0) {
            EngineFile::failAs(task, OutcomeCodes::FileUnreadable, source.error,
                               "read %s file error: %s.", entry, std::strerror(source.error));
            result = EngineFile::Unreadable;
        } else {
            const unsigned char *data = whole.data();
            std::vector<unsigned char> header;
            size_t replaced = 0;
            const unsigned char *kept = data;
            size_t keptSize = size;
            if (task->step.tag &&
                task->step.tag(task->step.context, task->record.camera, index, target.path.c_str(),
                               data, size, &header, &replaced) == 1 &&
                replaced <= size) {
                // The new header, then the card's bytes after the part it replaces.
                XXH64_state_t *state = XXH64_createState();
                XXH64_reset(state, 0);
                XXH64_update(state, header.data(), header.size());
                XXH64_update(state, data + replaced, size - replaced);
                *written = XXH64_digest(state);
                XXH64_freeState(state);
                if (writer.write(header.data(), header.size()) != 0 ||
                    writer.write(data + replaced, size - replaced) != 0)
                    writeError = errno;
                kept = header.data();
                keptSize = header.size();
            } else {
                *written = XXH64(data, size, 0);
                if (writer.write(data, size) != 0)
                    writeError = errno;
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
    } else {
        *heldValid = false;
        XXH64_state_t *state = XXH64_createState();
        XXH64_reset(state, 0);
        result = EngineFile::stream(task, &source, entry, state,
                                    [&](const unsigned char *data, size_t size) {
                                        if (writer.write(data, size) == 0)
                                            return true;
                                        writeError = errno;
                                        return false;
                                    });
        *written = XXH64_digest(state);
        XXH64_freeState(state);
    }
    if (result == EngineFile::Done && !writeError && writer.finish() != 0)
        writeError = errno;
    if (result == EngineFile::Done && !writeError && EngineFile::changedWhileRead(source))
        result = Changed;
    if (result == EngineFile::Done && !writeError) {
        const struct timespec times[2] = {source.info.st_atim, source.info.st_mtim};
        ::futimens(out, times);
        w->fd = out;
    } else {
        ::close(out);
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

// Waits until the copy is on the disk and, in its turn (order, when it runs ahead on a thread of
// its own), reads it back. Done, Failed (w->failure says why) or Differs.
int settle(DiskTask *task, PlainCopy::Written *w, PlainCopy::CommitOrder *order)
{
    w->failure.clear();
    const int synced = ::fdatasync(w->fd);
    const int error = errno;
    ::close(w->fd);
    w->fd = -1;
    if (synced != 0) {
        w->failure = "write " + w->path + " file error: " + std::strerror(error) + ".";
        return EngineFile::Failed;
    }
    if (order && !order->waitFor(w->index))
        return EngineFile::Failed; // abandoned: the engine stopped before this copy's turn
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

// Before a copy takes its name on a target that folds case: what answers to the name there may
// be spelt otherwise, and be the copy of another card file of this offload (the target folds
// more than the names were decided for). That copy is never replaced: this file is passed over.
// A differently spelt file of an older offload goes first, so that the copy is spelt as listed.
// false with task->error set when the name is another copy's.
bool nameIsFree(DiskTask *task, const PlainCopy::Written &w)
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
    for (int i = 0; i < task->fileCount.load(); ++i) {
        if (i != w.index && PlainCopy::targetRelative(task, i) == other) {
            EngineFile::failAs(task, OutcomeCodes::FileNameRefused, 0,
                               "rename %s file error: the target takes it for %s, the copy of %s.",
                               w.path.c_str(), other.c_str(), taskEntry(task, i));
            return false;
        }
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

void startSettle(DiskTask *task, Written *w, CommitOrder *order)
{
    try {
        w->settled = std::async(std::launch::async, settle, task, w, order);
    } catch (const std::system_error &) {
        // No thread to be had (a process limit): commit syncs the copy itself.
    }
}

void FolderSyncs::add(const std::string &path)
{
    const std::string folder = SyncIo::parentOf(path);
    if (std::find(m_folders.begin(), m_folders.end(), folder) == m_folders.end())
        m_folders.push_back(folder);
    ++m_waiting;
}

void FolderSyncs::flush(int count)
{
    if (m_waiting == 0 || m_waiting < count)
        return;
    for (const std::string &folder : m_folders)
        SyncIo::syncFolder(folder);
    m_folders.clear();
    m_waiting = 0;
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
}

void abandon(Written *w)
{
    if (w->settled.valid())
        w->settled.wait();
    if (w->fd >= 0)
        ::close(w->fd);
    w->fd = -1;
    if (!w->partial.empty())
        ::unlink(w->partial.c_str());
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

int commit(DiskTask *task, Written *w)
{
    int result = w->settled.valid() ? w->settled.get() : settle(task, w, nullptr);
    // A copy that reads back different from what was written is made once more (here: the
    // photo step belongs to this thread), then it fails.
    if (result == Differs) {
        EngineFile::failAs(task, OutcomeCodes::FileCopyDiffers, 0,
                           "verify %s file error: the copy differs from the source.",
                           w->path.c_str());
        result = writeSteady(task, w);
        if (result == EngineFile::Done) {
            result = settle(task, w, nullptr);
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
    if (!nameIsFree(task, *w)) {
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
    // The copy is on the disk and verified: it counts even if its line cannot be written (a
    // full disk), and the line is made again from the copy when the task is resumed.
    if (ChecksumList::append(w->folder, w->relative, w->hash) != 0)
        printf("write checksum of %s error: %s.\n", w->path.c_str(), std::strerror(errno));
    if (task->step.filed)
        task->step.filed(task->step.context, task->record.camera, w->index, w->path.c_str(),
                         w->heldValid ? w->held.data() : nullptr,
                         w->heldValid ? w->held.size() : 0);
    FaultPoints::hit(task, w->index, "listed", w->path.c_str());
    struct stat copied = {};
    if (::stat(w->path.c_str(), &copied) == 0)
        task->bytesDone += uint64_t(copied.st_size);
    return EngineFile::Done;
}

} // namespace PlainCopy
