#include "backupcopy.h"

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "checksumlist.h"
#include "disktask.h"
#include "enginefile.h"
#include "faultpoints.h"
#include "syncio.h"

namespace {

std::string reason(const char *what, const std::string &path, int error)
{
    return std::string(what) + ' ' + path + " file error: " + std::strerror(error) + '.';
}

struct stat statOf(const std::string &path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        st.st_size = -1;
    return st;
}

// An archive the backup followed as it grew (BackupCopy::follow): its partial is whole when it
// has the first copy's size and reads back from the disk as hash. Then only its flush and that
// read are left, and the first target is not read again. Read back whether or not the offload
// verifies: a partial left by an earlier run may hold anything.
bool followed(BackupCopy::Copy *copy, const std::string &from, uint64_t hash)
{
    const off_t size = statOf(copy->partial).st_size;
    uint64_t onDisk = 0;
    if (size < 0 || size != statOf(from).st_size || !BackupCopy::sync(copy) ||
        ChecksumList::hashFile(copy->partial, &onDisk) != 0 || onDisk != hash)
        return false;
    copy->settled = EngineFile::Done;
    return true;
}

// Copies the first target's file to the backup's partial, the bytes read checked against hash,
// then flushes it and reads it back. false when the backup was given up (or the run paused).
bool copyOver(DiskTask *task, BackupCopy::Copy &copy, const std::string &from, uint64_t hash)
{
    if (!BackupCopy::open(task, &copy))
        return false;
    int writeError = 0;
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    {
        SyncIo::DirectWriter writer(copy.fd, task->directWrites);
        const int read = SyncIo::readFromDisk(from, 0, UINT64_MAX,
                                              [&](const unsigned char *data, size_t size) {
                                                  XXH64_update(state, data, size);
                                                  if (writer.write(data, size) == 0)
                                                      return task->running.load() != 0;
                                                  writeError = errno;
                                                  return false;
                                              });
        const int readError = read != 0 ? errno : 0;
        if (!writeError && read == 0 && writer.finish() != 0)
            writeError = errno;
        if (read != 0 && !writeError) {
            // The first copy itself cannot be read: not the backup's fault, but it stays short.
            BackupCopy::giveUp(task, &copy, reason("read", from, readError));
            XXH64_freeState(state);
            return false;
        }
    }
    const uint64_t read = XXH64_digest(state);
    XXH64_freeState(state);
    if (writeError) {
        BackupCopy::giveUp(task, &copy, reason("write", copy.path, writeError));
        return false;
    }
    if (!task->running.load()) {
        BackupCopy::discard(&copy);
        return false;
    }
    if (read != hash) {
        BackupCopy::giveUp(task, &copy,
                           "verify " + from + " file error: the copy differs from its checksum.");
        return false;
    }
    if (!BackupCopy::sync(&copy)) {
        BackupCopy::giveUp(task, &copy, copy.failure);
        return false;
    }
    BackupCopy::readBack(task, &copy, hash);
    return true;
}

// One copy from the first target to the backup, unless the backup holds it already.
bool mirror(DiskTask *task, const std::string &relative, uint64_t hash)
{
    const std::string from = std::string(task->record.destination) + '/' + relative;
    BackupCopy::Copy copy;
    const size_t slash = relative.find_last_of('/');
    BackupCopy::locate(task, relative, relative.substr(slash == std::string::npos ? 0 : slash + 1),
                       &copy);
    if (!copy.wanted() || (!followed(&copy, from, hash) && !copyOver(task, copy, from, hash)))
        return false;
    BackupCopy::name(task, &copy);
    if (!copy.named)
        return false;
    SyncIo::syncFolder(SyncIo::parentOf(copy.path));
    if (ChecksumList::append(task->backupFolder, relative, hash) != 0) {
        stopBackup(task, reason("write checksum of", copy.path, errno));
        ::unlink(copy.path.c_str()); // a copy stands only with its line
        return false;
    }
    return true;
}

} // namespace

namespace BackupCopy {

void locate(DiskTask *task, const std::string &relative, const std::string &partialName,
            Copy *copy)
{
    *copy = Copy();
    if (task->backupFolder.empty() || task->backupStopped.load())
        return;
    copy->path = task->backupFolder + '/' + relative;
    const size_t slash = copy->path.find_last_of('/');
    copy->partial = copy->path.substr(0, slash + 1) + '.' + partialName + ".v7part";
}

bool open(DiskTask *task, Copy *copy, bool keep)
{
    if (copy->fd >= 0)
        ::close(copy->fd);
    copy->fd = -1;
    if (!copy->wanted())
        return false;
    if (task->backupStopped.load()) {
        copy->path.clear();
        return false;
    }
    struct stat camera = {};
    if (::stat(task->backupFolder.c_str(), &camera) != 0 ||
        uint64_t(camera.st_dev) != task->backupDevice) {
        giveUp(task, copy, "the backup folder " + task->backupFolder + " is gone (its disk "
                           "taken away?).");
        return false;
    }
    const std::string parent = SyncIo::parentOf(copy->path);
    if (SyncIo::makeFolders(parent) != 0) {
        giveUp(task, copy, "create folder " + parent + " error: " + std::strerror(errno) + '.');
        return false;
    }
    copy->fd = ::open(copy->partial.c_str(), O_WRONLY | O_CREAT | (keep ? 0 : O_TRUNC) | O_CLOEXEC,
                      0644);
    if (copy->fd < 0) {
        giveUp(task, copy, reason("create", copy->path, errno));
        return false;
    }
    return true;
}

void discard(Copy *copy)
{
    if (copy->fd >= 0)
        ::close(copy->fd);
    copy->fd = -1;
    if (!copy->partial.empty() && !copy->named)
        ::unlink(copy->partial.c_str());
    copy->path.clear();
}

void giveUp(DiskTask *task, Copy *copy, const std::string &why)
{
    discard(copy);
    stopBackup(task, why);
}

bool sync(Copy *copy)
{
    const int fd = copy->fd >= 0 ? copy->fd : ::open(copy->partial.c_str(), O_RDONLY | O_CLOEXEC);
    const int synced = fd >= 0 ? ::fdatasync(fd) : -1;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    copy->fd = -1;
    if (synced == 0)
        return true;
    copy->failure = reason("write", copy->path, error);
    return false;
}

void readBack(DiskTask *task, Copy *copy, uint64_t hash)
{
    copy->settled = EngineFile::Done;
    if (!task->verify)
        return;
    uint64_t onDisk = 0;
    if (ChecksumList::hashFile(copy->partial, &onDisk) != 0) {
        copy->failure = reason("read back", copy->path, errno);
        copy->settled = EngineFile::Failed;
    } else if (onDisk != hash) {
        copy->failure = "verify " + copy->path + " file error: the copy differs from the source.";
        copy->settled = EngineFile::Failed;
    }
}

void name(DiskTask *task, Copy *copy)
{
    if (!copy->wanted())
        return;
    if (copy->settled != EngineFile::Done) {
        giveUp(task, copy, copy->failure);
        return;
    }
    if (::rename(copy->partial.c_str(), copy->path.c_str()) != 0) {
        giveUp(task, copy, reason("rename", copy->path, errno));
        return;
    }
    copy->named = true;
}

void complete(DiskTask *task, const std::string &relative)
{
    const std::string partial = task->backupFolder + "/." + relative + ".v7part";
    if (task->backupFolder.empty() || statOf(partial).st_size < 0)
        return; // nothing followed: the catch-up at the card's end does it
    FaultPoints::hit(task, task->filesDone.load(), "backup-written", partial.c_str());
    // In the first target's order: an archive a crash left unlisted on the backup comes before
    // this one, so the two lists read alike. A failure gives the backup up, the partial with it.
    catchUp(task);
}

void follow(DiskTask *task, const std::string &relative, uint64_t from)
{
    Copy copy;
    locate(task, relative, relative, &copy);
    if (!copy.wanted())
        return;
    // A partial shorter than where the change starts is an earlier run's, or none: made whole.
    if (statOf(copy.partial).st_size < off_t(from))
        from = 0;
    if (!open(task, &copy, from > 0))
        return;
    const std::string source = std::string(task->record.destination) + '/' + relative;
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    const off_t size = in >= 0 ? ::lseek(in, 0, SEEK_END) : -1;
    std::vector<unsigned char> chunk(size_t(1) << 20);
    std::string failure = size < 0 ? reason("read", source, errno) : std::string();
    if (failure.empty() && ::lseek(copy.fd, off_t(from), SEEK_SET) < 0)
        failure = reason("write", copy.path, errno);
    for (off_t at = off_t(from); failure.empty() && at < size;) {
        const ssize_t got = ::pread(in, chunk.data(), chunk.size(), at);
        if (got <= 0)
            failure = reason("read", source, got < 0 ? errno : EIO);
        else if (SyncIo::writeAll(copy.fd, chunk.data(), size_t(got)) != 0)
            failure = reason("write", copy.path, errno);
        at += got > 0 ? got : 0;
    }
    if (failure.empty() && ::ftruncate(copy.fd, size) != 0)
        failure = reason("write", copy.path, errno);
    if (in >= 0)
        ::close(in);
    if (!failure.empty()) {
        giveUp(task, &copy, failure);
        return;
    }
    ::close(copy.fd); // kept as it is: the next entry or catchUp goes on from it
}

int catchUp(DiskTask *task)
{
    if (task->backupFolder.empty() || task->backupStopped.load())
        return 0;
    const std::string first = task->record.destination;
    std::map<std::string, std::string> held;
    for (auto &line : ChecksumList::read(task->backupFolder))
        held[line.first] = line.second;
    int made = 0;
    for (const auto &line : ChecksumList::read(first)) {
        if (!task->running.load() || task->backupStopped.load())
            break;
        const auto there = held.find(line.first);
        const struct stat copy = statOf(task->backupFolder + '/' + line.first);
        if (there != held.end() && there->second == line.second &&
            copy.st_size == statOf(first + '/' + line.first).st_size)
            continue;
        uint64_t hash = 0;
        if (line.second.size() != 16 ||
            std::sscanf(line.second.c_str(), "%16" SCNx64, &hash) != 1)
            continue;
        // A line of an earlier copy of the same path goes before the new copy is listed.
        if (there != held.end())
            ChecksumList::drop(task->backupFolder, {line.first});
        if (!mirror(task, line.first, hash))
            break;
        ++made;
    }
    return made;
}

} // namespace BackupCopy
