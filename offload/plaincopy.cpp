#include "plaincopy.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "checksumlist.h"
#include "copyengine.h"
#include "enginefile.h"
#include "faultpoints.h"
#include "syncio.h"

using EngineFile::Source;

namespace {

constexpr size_t ChunkSize = 1u << 20;

struct Target
{
    std::string folder;    // camera folder
    std::string relative;  // below the camera folder, with the sortie folder if any
    std::string path;
    std::string partial;   // hidden sibling the bytes go to first
};

Target targetOf(DiskTask *task, int index)
{
    Target target;
    target.folder = task->record.destination;
    std::string relative = EngineFile::relativePath(task, index);
    const int sortie = task->step.sortieOf
                           ? task->step.sortieOf(task->step.context, task->record.camera, index)
                           : 0;
    if (sortie > 0)
        relative = "第" + std::to_string(sortie) + "架次/" + relative;
    target.relative = relative;
    target.path = target.folder + '/' + relative;
    const size_t slash = target.path.find_last_of('/');
    target.partial = target.path.substr(0, slash + 1) + '.' + target.path.substr(slash + 1)
                     + PlainCopy::partialSuffix();
    return target;
}

// One attempt: source to the partial file, synced. Fills the hash of the bytes written.
int writeOnce(DiskTask *task, int index, const Target &target, uint64_t *written,
              std::vector<unsigned char> *held, bool *heldValid)
{
    const char *entry = taskEntry(task, index);
    Source source;
    EngineFile::open(&source, entry);
    if (source.fd < 0) {
        EngineFile::fail(task, "open %s file error: %s.", entry, std::strerror(source.error));
        return EngineFile::Failed;
    }
    FaultPoints::hit(task, index, "opened", entry);
    const int out = ::open(target.partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        EngineFile::fail(task, "create %s file error: %s.", target.path.c_str(),
                         std::strerror(errno));
        return EngineFile::Failed;
    }
    int result = EngineFile::Done;
    int writeError = 0;
    if (EngineFile::holdInMemory(task, source)) {
        uint64_t sourceHash = 0;
        if (EngineFile::readWhole(task, &source, held, &sourceHash) != 0) {
            EngineFile::fail(task, "read %s file error: %s.", entry, std::strerror(source.error));
            result = EngineFile::Failed;
        } else {
            *heldValid = true;
            std::vector<unsigned char> tagged;
            const unsigned char *data = held->data();
            size_t size = held->size();
            *written = sourceHash;
            if (task->step.tag
                && task->step.tag(task->step.context, task->record.camera, index,
                                  target.path.c_str(), data, size, &tagged) == 1) {
                held->swap(tagged);
                data = held->data();
                size = held->size();
                *written = XXH64(data, size, 0);
            }
            if (SyncIo::writeStreaming(out, data, size) != 0)
                writeError = errno;
        }
    } else {
        *heldValid = false;
        XXH64_state_t *state = XXH64_createState();
        XXH64_reset(state, 0);
        if (task->buffer.size() < ChunkSize)
            task->buffer.resize(ChunkSize);
        for (;;) {
            if (!task->running.load()) {
                result = EngineFile::Paused;
                break;
            }
            const ssize_t got = SyncIo::readSome(source.fd, task->buffer.data(), ChunkSize);
            if (got < 0) {
                EngineFile::fail(task, "read %s file error: %s.", entry, std::strerror(errno));
                result = EngineFile::Failed;
                break;
            }
            if (got == 0)
                break;
            XXH64_update(state, task->buffer.data(), size_t(got));
            if (SyncIo::writeStreaming(out, task->buffer.data(), size_t(got)) != 0) {
                writeError = errno;
                break;
            }
        }
        *written = XXH64_digest(state);
        XXH64_freeState(state);
    }
    if (result == EngineFile::Done && !writeError && ::fdatasync(out) != 0)
        writeError = errno;
    if (result == EngineFile::Done && !writeError) {
        const struct timespec times[2] = {source.info.st_atim, source.info.st_mtim};
        ::futimens(out, times);
    }
    if (::close(out) != 0 && !writeError && result == EngineFile::Done)
        writeError = errno;
    if (writeError) {
        EngineFile::fail(task, "write %s file error: %s.", target.path.c_str(),
                         std::strerror(writeError));
        result = EngineFile::Failed;
    }
    return result;
}

} // namespace

namespace PlainCopy {

std::string targetRelative(DiskTask *task, int index)
{
    return targetOf(task, index).relative;
}

void removePartial(DiskTask *task, int index)
{
    ::unlink(targetOf(task, index).partial.c_str());
}

const char *partialSuffix()
{
    return ".v7part";
}

int copy(DiskTask *task, int index)
{
    FaultPoints::hit(task, index, "start", taskEntry(task, index));
    if (!task->running.load())
        return EngineFile::Paused;
    const Target target = targetOf(task, index);
    if (SyncIo::makeFolders(SyncIo::parentOf(target.path)) != 0) {
        EngineFile::fail(task, "create folder %s error: %s.", SyncIo::parentOf(target.path).c_str(),
                         std::strerror(errno));
        return EngineFile::Failed;
    }
    std::vector<unsigned char> held;
    bool heldValid = false;
    int result = EngineFile::Failed;
    uint64_t written = 0;
    // A copy that reads back different from what was written is made once more, then it fails.
    for (int attempt = 0; attempt < 2; ++attempt) {
        result = writeOnce(task, index, target, &written, &held, &heldValid);
        if (result != EngineFile::Done)
            break;
        FaultPoints::hit(task, index, "written", target.partial.c_str());
        if (!task->verify)
            break;
        uint64_t onDisk = 0;
        if (ChecksumList::hashFile(target.partial, &onDisk) != 0) {
            EngineFile::fail(task, "read back %s file error: %s.", target.path.c_str(),
                             std::strerror(errno));
            result = EngineFile::Failed;
            break;
        }
        if (onDisk == written)
            break;
        EngineFile::fail(task, "verify %s file error: the copy differs from the source.",
                         target.path.c_str());
        result = EngineFile::Failed;
    }
    if (result != EngineFile::Done) {
        ::unlink(target.partial.c_str());
        return result;
    }
    FaultPoints::hit(task, index, "verified", target.partial.c_str());
    if (::rename(target.partial.c_str(), target.path.c_str()) != 0) {
        EngineFile::fail(task, "rename %s file error: %s.", target.path.c_str(),
                         std::strerror(errno));
        ::unlink(target.partial.c_str());
        return EngineFile::Failed;
    }
    SyncIo::syncFolder(SyncIo::parentOf(target.path));
    FaultPoints::hit(task, index, "renamed", target.path.c_str());
    if (ChecksumList::append(target.folder, target.relative, written) != 0) {
        EngineFile::fail(task, "write checksum of %s error: %s.", target.path.c_str(),
                         std::strerror(errno));
        return EngineFile::Failed;
    }
    if (task->step.filed)
        task->step.filed(task->step.context, task->record.camera, index, target.path.c_str(),
                         heldValid ? held.data() : nullptr, heldValid ? held.size() : 0);
    FaultPoints::hit(task, index, "listed", target.path.c_str());
    struct stat copied {};
    if (::stat(target.path.c_str(), &copied) == 0)
        task->bytesDone += uint64_t(copied.st_size);
    task->error[0] = 0;
    return EngineFile::Done;
}

} // namespace PlainCopy
