#include "targetcheck.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "checksumlist.h"
#include "disktask.h"
#include "enginefile.h"
#include "failedfiles.h"
#include "jpegscan.h"
#include "plaincopy.h"
#include "syncio.h"
#include "taskrecord.h"
#include "zipverify.h"
#include "workerthread.h"

namespace {

long long sizeOf(const std::string &path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

// A card file or a copy, read in chunks of a buffer kept per thread: a resume reads files of
// any size (a video of several gigabytes) in the memory of one chunk.
struct Reader
{
    explicit Reader(const std::string &path)
        : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (fd >= 0)
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    ~Reader()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // Hands each chunk from offset to the end to take (which may stop it by returning false);
    // false on a read error.
    template <typename Take> bool read(uint64_t offset, std::vector<unsigned char> *chunk,
                                       Take take) const
    {
        for (;;) {
            const ssize_t got = ::pread(fd, chunk->data(), chunk->size(), off_t(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return got == 0;
            offset += uint64_t(got);
            if (!take(chunk->data(), size_t(got)))
                return true;
        }
    }

    int fd;
};

constexpr size_t Chunk = 1u << 20;

// Where the image data of an open JPEG begins; 0 for none.
uint64_t scanOf(const Reader &file, std::vector<unsigned char> *chunk)
{
    JpegScan::Finder finder;
    if (!file.read(0, chunk, [&finder](const unsigned char *data, size_t size) {
            return finder.add(data, size) == JpegScan::Finder::Looking;
        }))
        return 0;
    return finder.state() == JpegScan::Finder::Found ? finder.start() : 0;
}

// The bytes of a from offsetA on are those of b from offsetB on, to the end of both.
bool sameFrom(const Reader &a, uint64_t offsetA, const Reader &b, uint64_t offsetB)
{
    thread_local std::vector<unsigned char> chunkA(Chunk);
    thread_local std::vector<unsigned char> chunkB(Chunk);
    bool same = true;
    const bool read = a.read(offsetA, &chunkA, [&](const unsigned char *data, size_t size) {
        size_t have = 0;
        while (same && have < size) {
            const ssize_t got = ::pread(b.fd, chunkB.data(), size - have, off_t(offsetB));
            if (got < 0 && errno == EINTR)
                continue;
            same = got > 0 && std::memcmp(data + have, chunkB.data(), size_t(got)) == 0;
            have += size_t(std::max<ssize_t>(got, 0));
            offsetB += uint64_t(std::max<ssize_t>(got, 0));
        }
        return same;
    });
    unsigned char more = 0;
    return read && same && ::pread(b.fd, &more, 1, off_t(offsetB)) == 0;
}

// A tagged copy has a new header; the picture after it is the card's, byte for byte.
bool samePicture(const std::string &card, const std::string &copy)
{
    const Reader a(card);
    const Reader b(copy);
    struct stat infoA = {};
    struct stat infoB = {};
    if (a.fd < 0 || b.fd < 0 || ::fstat(a.fd, &infoA) != 0 || ::fstat(b.fd, &infoB) != 0)
        return false;
    // Copied as it is: an untagged photo, or a file that is no photo.
    if (infoA.st_size == infoB.st_size && sameFrom(a, 0, b, 0))
        return true;
    thread_local std::vector<unsigned char> chunk(64u << 10);
    const uint64_t scanA = scanOf(a, &chunk);
    const uint64_t scanB = scanOf(b, &chunk);
    return scanA > 0 && scanB > 0 &&
           uint64_t(infoA.st_size) - scanA == uint64_t(infoB.st_size) - scanB &&
           sameFrom(a, scanA, b, scanB);
}

bool crcOf(const std::string &path, uLong *crc)
{
    const Reader file(path);
    thread_local std::vector<unsigned char> chunk(Chunk);
    uLong sum = crc32(0, nullptr, 0);
    if (file.fd < 0 || !file.read(0, &chunk, [&sum](const unsigned char *data, size_t size) {
            sum = crc32_z(sum, data, size);
            return true;
        }))
        return false;
    *crc = sum;
    return true;
}

std::map<std::string, std::string> linesOf(const std::string &folder)
{
    std::map<std::string, std::string> lines;
    for (const auto &line : ChecksumList::read(folder))
        lines[line.first] = line.second;
    return lines;
}

// Every entry of the archive, as the disk holds it, inflates (and deciphers) to its CRC.
bool entriesIntact(const std::string &path, const char *password)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    unzFile zip = unzOpen64(path.c_str());
    if (!zip)
        return false;
    std::vector<char> chunk(1 << 20);
    int status = unzGoToFirstFile(zip);
    for (; status == UNZ_OK; status = unzGoToNextFile(zip)) {
        if (unzOpenCurrentFilePassword(zip, password) != UNZ_OK)
            break;
        int got;
        while ((got = unzReadCurrentFile(zip, chunk.data(), unsigned(chunk.size()))) > 0) {
        }
        // Closing an entry read to its end compares the CRC.
        if (unzCloseCurrentFile(zip) != UNZ_OK || got < 0)
            break;
    }
    unzClose(zip);
    return status == UNZ_END_OF_LIST_OF_FILE;
}

// The archives pack1.zip to pack<last>.zip read back whole, each against its checksum line or,
// without one, its entries against their CRCs; a full archive without a line gets it again.
bool archivesIntact(DiskTask *task, int last, std::string *note)
{
    const std::string folder = task->record.destination;
    const std::string prefix = task->record.archivePrefix;
    const std::map<std::string, std::string> lines = linesOf(folder);
    const char *password = task->record.passwordFlag ? task->record.password : nullptr;
    for (int number = 1; number <= last; ++number) {
        const std::string name = "pack" + std::to_string(number) + ".zip";
        const auto line = lines.find(name);
        uint64_t hash = 0;
        if (line != lines.end()) {
            if (ChecksumList::hashFile(prefix + name, &hash) == 0 &&
                ChecksumList::hexHash(hash) == line->second)
                continue;
            *note = name + " differs from its checksum line: the camera is packed again";
            return false;
        }
        if (!entriesIntact(prefix + name, password)) {
            *note = name + " holds an entry that does not match its CRC: the camera is packed "
                           "again";
            return false;
        }
        if (number == last)
            continue; // still open: its line comes when it is full
        if (ChecksumList::hashFile(prefix + name, &hash) != 0 ||
            ChecksumList::set(folder, name, hash) != 0) {
            *note = name + " has no checksum line and none can be written: the camera is packed "
                           "again";
            return false;
        }
        *note = name + " had lost its checksum line: made again from the archive";
    }
    return true;
}

} // namespace

namespace TargetCheck {

int plainDone(DiskTask *task, int hint, std::vector<int> *unchecked, bool untaggedIsDone)
{
    const std::string folder = task->record.destination;
    const std::map<std::string, std::string> lines = linesOf(folder);
    const bool tagged = task->step.tag != nullptr;
    const int count = task->fileCount.load();
    for (int i = 0; i < count; ++i) {
        const std::string card = taskEntry(task, i);
        const std::string relative = PlainCopy::targetRelative(task, i);
        const std::string copy = folder + '/' + relative;
        const long long cardSize = sizeOf(card);
        const long long copySize = sizeOf(copy);
        if (cardSize < 0 || copySize < 0)
            return i;
        const bool sized = tagged || cardSize == copySize;
        const auto line = lines.find(relative);
        if (i < hint && sized && line != lines.end()) {
            if (unchecked)
                unchecked->push_back(i);
            continue;
        }
        uint64_t copyHash = 0;
        if (!sized || ChecksumList::hashFile(copy, &copyHash) != 0)
            return i;
        if (line == lines.end()) {
            // A counted copy whose line was lost with the power gets it back from the copy.
            uint64_t cardHash = 0;
            if (i < hint && !tagged && ChecksumList::hashFile(card, &cardHash) == 0 &&
                cardHash == copyHash)
                continue;
            return i;
        }
        if (ChecksumList::hexHash(copyHash) != line->second)
            return i;
        uint64_t cardHash = 0;
        const bool fromCard =
            tagged ? samePicture(card, copy) &&
                         (untaggedIsDone || cardSize != copySize ||
                          ChecksumList::hashFile(card, &cardHash) != 0 ||
                          ChecksumList::hexHash(cardHash) != line->second)
                   : ChecksumList::hashFile(card, &cardHash) == 0 &&
                         ChecksumList::hexHash(cardHash) == line->second;
        if (!fromCard)
            return i;
    }
    return count;
}

int volumeDone(DiskTask *task, int hint, std::string *note)
{
    const std::string prefix = task->record.archivePrefix;
    std::vector<ZipVerify::Listed> entries;
    int damaged = 0;
    ZipVerify::listArchives(prefix, &entries, &damaged);
    const bool tagged = task->step.tag != nullptr;
    const int count = task->fileCount.load();
    int done = 0;
    for (; done < count && size_t(done) < entries.size(); ++done) {
        const ZipVerify::Listed &entry = entries[size_t(done)];
        const std::string card = taskEntry(task, done);
        const long long cardSize = sizeOf(card);
        if (entry.name != taskRelativePath(task, done) || cardSize < 0)
            break;
        if (tagged)
            continue;
        if (uint64_t(cardSize) != entry.size)
            break;
        uLong crc = 0;
        if (done >= hint && (!crcOf(card, &crc) || crc != entry.crc))
            break;
    }
    if (damaged > 0)
        *note = "pack" + std::to_string(damaged) + ".zip does not read as an archive";
    if (size_t(done) != entries.size() || damaged > 0) {
        // Entries the card does not explain cannot be appended to: pack again from the start.
        if (note->empty())
            *note = "the archives hold entries that are not the card's files in order";
        done = 0;
    } else if (done > 0 && !archivesIntact(task, entries[size_t(done) - 1].archive, note)) {
        done = 0;
    }
    if (done == 0) {
        taskRecordSetText(task->record.archivePath, (prefix + "pack1.zip").c_str());
        taskRecordSetText(task->record.archiveName, "pack1");
        task->record.bytesDone = 0;
    } else {
        const int last = entries[size_t(done) - 1].archive;
        const std::string name = "pack" + std::to_string(last) + ".zip";
        taskRecordSetText(task->record.archivePath, (prefix + name).c_str());
        taskRecordSetText(task->record.archiveName, last == 1 ? "pack1" : name.c_str());
        task->record.bytesDone = uint64_t(std::max(0ll, sizeOf(prefix + name)));
    }
    task->bytesDone = task->record.bytesDone;
    return done;
}

} // namespace TargetCheck

namespace TargetCheck {

Audit::Audit(DiskTask *task, std::vector<int> files)
    : m_task(task)
    , m_files(std::move(files))
{}

Audit::~Audit()
{
    stop();
}

void Audit::start()
{
    stop();
    // Copies listed as failed by an earlier part of the run are the engine's to retry now.
    m_differing.clear();
    m_stop = false;
    m_running = true;
    m_thread = WorkerThread::start("target audit", [this] { run(); });
}

void Audit::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void Audit::run()
{
    DiskTask *task = m_task;
    const std::string folder = task->record.destination;
    const std::map<std::string, std::string> lines = linesOf(folder);
    for (; m_next < m_files.size() && !m_stop.load(); ++m_next) {
        const int index = m_files[m_next];
        const std::string relative = PlainCopy::targetRelative(task, index);
        const auto line = lines.find(relative);
        uint64_t hash = 0;
        if (line != lines.end() && ChecksumList::hashFile(folder + '/' + relative, &hash) == 0 &&
            ChecksumList::hexHash(hash) == line->second)
            continue;
        FailedFiles::note(task, index, "the copy in the target differs from its checksum line");
        ChecksumList::drop(folder, {relative});
        m_differing.push_back(index);
    }
    // The engine's files come first; the copy is made again here once its thread has ended,
    // unless it was paused or failed (then the next resume retries these).
    while (!m_differing.empty() && !m_stop.load() && !task->stopped.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const int index : m_differing) {
        if (m_stop.load() || !task->running.load() || task->failed.load())
            break;
        PlainCopy::Written written;
        int result = PlainCopy::write(task, index, &written);
        if (result == EngineFile::Done)
            result = PlainCopy::commit(task, &written);
        if (result == EngineFile::Paused)
            break;
        if (result == EngineFile::Done) {
            SyncIo::syncFolder(SyncIo::parentOf(written.path));
            FailedFiles::clear(task, index);
            continue;
        }
        FailedFiles::note(task, index, task->error);
        if (result == EngineFile::Failed)
            task->failed = 1;
    }
    m_differing.clear();
    m_running = false;
}

} // namespace TargetCheck
