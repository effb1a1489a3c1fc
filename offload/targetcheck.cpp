#include "targetcheck.h"

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
#include "jpegscan.h"
#include "plaincopy.h"
#include "syncio.h"
#include "taskrecord.h"

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

struct ArchiveEntry
{
    std::string name;
    uint64_t size = 0;
    uLong crc = 0;
    int archive = 0; // 1 for pack1.zip
};

// Every entry of the camera's archives in order. An archive that does not open as a zip ends
// the list (*damaged is its number).
void listArchives(const std::string &prefix, std::vector<ArchiveEntry> *entries, int *damaged)
{
    *damaged = 0;
    int number = 1;
    for (;; ++number) {
        const std::string path = prefix + "pack" + std::to_string(number) + ".zip";
        if (sizeOf(path) < 0)
            break;
        unzFile zip = unzOpen64(path.c_str());
        if (!zip) {
            *damaged = number;
            break;
        }
        for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
            unz_file_info64 info = {};
            char name[1024] = {};
            if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr,
                                        0) != UNZ_OK)
                break;
            entries->push_back({name, info.uncompressed_size, info.crc, number});
        }
        unzClose(zip);
    }
}

} // namespace

namespace TargetCheck {

int plainDone(DiskTask *task, int hint)
{
    const std::string folder = task->record.destination;
    std::map<std::string, std::string> lines;
    for (const auto &line : ChecksumList::read(folder))
        lines[line.first] = line.second;
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
        if (i < hint && sized && line != lines.end())
            continue;
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
    std::vector<ArchiveEntry> entries;
    int damaged = 0;
    listArchives(prefix, &entries, &damaged);
    const bool tagged = task->step.tag != nullptr;
    const int count = task->fileCount.load();
    int done = 0;
    for (; done < count && size_t(done) < entries.size(); ++done) {
        const ArchiveEntry &entry = entries[size_t(done)];
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
