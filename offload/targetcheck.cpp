#include "targetcheck.h"

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
#include "copyengine.h"
#include "enginefile.h"
#include "failedfiles.h"
#include "jpegscan.h"
#include "plaincopy.h"
#include "syncio.h"
#include "taskrecord.h"
#include "zipverify.h"

namespace {

long long sizeOf(const std::string &path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

bool readFile(const std::string &path, std::vector<unsigned char> *data)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    data->clear();
    unsigned char chunk[1 << 16];
    ssize_t got;
    while ((got = SyncIo::readSome(fd, chunk, sizeof chunk)) > 0)
        data->insert(data->end(), chunk, chunk + got);
    ::close(fd);
    return got == 0;
}

// A tagged copy has a new header; the picture after it is the card's, byte for byte.
bool samePicture(const std::string &card, const std::string &copy)
{
    std::vector<unsigned char> a;
    std::vector<unsigned char> b;
    if (!readFile(card, &a) || !readFile(copy, &b))
        return false;
    if (a == b)
        return true;
    const size_t scanA = JpegScan::scanStart(a.data(), a.size());
    const size_t scanB = JpegScan::scanStart(b.data(), b.size());
    return scanA > 0 && scanB > 0 && a.size() - scanA == b.size() - scanB &&
           std::memcmp(a.data() + scanA, b.data() + scanB, a.size() - scanA) == 0;
}

bool crcOf(const std::string &path, uLong *crc)
{
    std::vector<unsigned char> data;
    if (!readFile(path, &data))
        return false;
    *crc = crc32_z(crc32(0, nullptr, 0), data.data(), data.size());
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

int plainDone(DiskTask *task, int hint, std::vector<int> *unchecked)
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
        const bool fromCard = tagged ? samePicture(card, copy)
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
        if (entry.name != EngineFile::relativePath(task, done) || cardSize < 0)
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
    m_thread = std::thread(&Audit::run, this);
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
