#include "zipvolume.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#include <libdeflate.h>
#include <zlib.h>

#include "backupcopy.h"
#include "byteorder.h"
#include "checksumlist.h"
#include "disktask.h"
#include "enginefile.h"
#include "faultpoints.h"
#include "syncio.h"
#include "zipentrywriter.h"
#include "ziprecords.h"
#include "zipverify.h"

using EngineFile::Source;

namespace ZipVolume {

namespace {

constexpr size_t ChunkSize = 1u << 20;
// writeEntry(): the card file changed while it was read; the entry is rolled back and read again
// up to ChangedReads times, then the file is passed over.
constexpr int Changed = 4;
constexpr int ChangedReads = 3;
using namespace ZipRecords;
constexpr size_t TailWindow = 0xFFFF + EndSize + Zip64LocatorSize + Zip64EndSize;
constexpr char JournalMagic[4] = {'V', '7', 'Z', 'J'};
constexpr size_t JournalHeader = 4 + 4 + 8 + 256;

std::string journalPath(const DiskTask *task)
{
    return std::string(task->record.taskFilePath) + ".tail";
}

long long fileSize(const std::string &path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return st.st_size;
}

int readTail(const std::string &path, std::vector<unsigned char> *tail, uint64_t *size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st = {};
    int result = -1;
    if (::fstat(fd, &st) == 0) {
        *size = uint64_t(st.st_size);
        const size_t length = size_t(std::min<uint64_t>(*size, TailWindow));
        tail->resize(length);
        if (::pread(fd, tail->data(), length, off_t(*size - length)) == ssize_t(length))
            result = 0;
    }
    ::close(fd);
    return result;
}

// The journal: magic, files done, central directory offset (also *offset: where the next entry
// goes), archive name, then the tail bytes.
int saveJournal(DiskTask *task, uint64_t *offset)
{
    std::vector<unsigned char> tail;
    uint64_t size = 0;
    if (readTail(task->record.archivePath, &tail, &size) != 0 ||
        ZipVerify::findCentralDirectory(tail.data(), tail.size(), size, offset) != 0)
        return -1;
    const int fd = ::open(task->record.archivePath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    std::string text(JournalHeader + size_t(size - *offset), '\0');
    unsigned char *p = reinterpret_cast<unsigned char *>(&text[0]);
    std::memcpy(p, JournalMagic, 4);
    ByteOrder::putLe32(p + 4, uint32_t(task->filesDone.load()));
    ByteOrder::putLe64(p + 8, *offset);
    std::memcpy(p + 16, task->record.archiveName, 256);
    const ssize_t got = ::pread(fd, p + JournalHeader, size_t(size - *offset), off_t(*offset));
    ::close(fd);
    if (got != ssize_t(size - *offset))
        return -1;
    // Written over the last journal in place with a hash at its end (one flush per file, not a
    // rename and a folder flush as well): a journal cut short by a crash fails its hash and is
    // ignored, rightly, as the archive was not touched yet.
    unsigned char hash[8];
    ByteOrder::putLe64(hash, XXH64(text.data(), text.size(), 0));
    text.append(reinterpret_cast<const char *>(hash), sizeof hash);
    const std::string path = journalPath(task);
    const bool existed = fileSize(path) >= 0;
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (out < 0)
        return -1;
    const bool ok = ::pwrite(out, text.data(), text.size(), 0) == ssize_t(text.size()) &&
                    ::ftruncate(out, off_t(text.size())) == 0 && ::fdatasync(out) == 0;
    ::close(out);
    if (ok && !existed)
        SyncIo::syncFolder(SyncIo::parentOf(path));
    return ok ? 0 : -1;
}

// Every entry and the directory were read back from the disk when they were added, and summed
// then; the archive is read whole only when that did not happen in this run (no verification,
// or a resume), from the cache as far as it holds it.
int archiveHash(DiskTask *task, const std::string &archive, uint64_t *hash)
{
    if (task->archiveHash.finish(archive, hash) == 0)
        return 0;
    return ChecksumList::hashFile(archive, hash, true);
}

struct Entry
{
    std::string name;
    std::string archive;
    bool created = false;
};

void localDosTime(time_t when, zip_fileinfo *info)
{
    std::memset(info, 0, sizeof *info);
    struct tm local = {};
    localtime_r(&when, &local);
    info->tmz_date.tm_sec = uInt(local.tm_sec);
    info->tmz_date.tm_min = uInt(local.tm_min);
    info->tmz_date.tm_hour = uInt(local.tm_hour);
    info->tmz_date.tm_mday = uInt(local.tm_mday);
    info->tmz_date.tm_mon = uInt(local.tm_mon);
    info->tmz_date.tm_year = uInt(local.tm_year + 1900);
}

// Puts the archive back as it was before this entry.
void rollBack(DiskTask *task, const Entry &entry)
{
    if (entry.created)
        ::unlink(entry.archive.c_str());
    else
        recover(task);
}

// Writes the entry; hash receives what ZipVerify::lastEntryHash reads back.
int writeEntry(DiskTask *task, int index, const Entry &entry, uint64_t *hash,
               std::vector<unsigned char> *held, bool *heldValid)
{
    const char *path = taskEntry(task, index);
    Source source;
    EngineFile::open(&source, task, index);
    if (source.fd < 0) {
        EngineFile::failAs(task, OutcomeCodes::FileUnreadable, source.error,
                           "open %s file error: %s.", path, EngineFile::whyNot(source).c_str());
        return EngineFile::Unreadable;
    }
    if (const int injected = FaultPoints::hit(task, index, "opened", path)) {
        EngineFile::failAs(task, OutcomeCodes::FileUnreadable, injected, "read %s file error: %s.",
                           path, std::strerror(injected));
        return EngineFile::Unreadable;
    }
    const bool password = task->record.passwordFlag != 0;
    const uint64_t size = uint64_t(source.info.st_size);
    uLong crc = crc32(0, nullptr, 0);
    // Only the photo's beginning is held: the photo step rewrites and reads the segments before
    // the image data, and the rest follows from the card as it is, however large the file.
    *heldValid = false;
    held->clear();
    if (task->step.tag || task->step.filed) {
        if (EngineFile::readHead(task, &source, held) != 0) {
            EngineFile::failAs(task, OutcomeCodes::FileUnreadable, source.error,
                               "read %s file error: %s.", path, std::strerror(source.error));
            return EngineFile::Unreadable;
        }
        *heldValid = true;
        std::vector<unsigned char> header;
        size_t replaced = 0;
        const std::string target = entry.archive + '/' + entry.name;
        if (task->step.tag &&
            task->step.tag(task->step.context, task->record.camera, index, target.c_str(),
                           held->data(), held->size(), &header, &replaced) == 1 &&
            replaced <= held->size()) {
            header.insert(header.end(), held->begin() + std::ptrdiff_t(replaced), held->end());
            held->swap(header);
        }
    }
    if (password) {
        // The traditional encryption header needs the CRC before the first byte is stored; the
        // zip library sums the entry it deflates itself.
        crc = libdeflate_crc32(crc, held->data(), held->size());
        const off_t rest = ::lseek(source.fd, 0, SEEK_CUR);
        if (task->buffer.size() < ChunkSize)
            task->buffer.resize(ChunkSize);
        ssize_t got;
        while ((got = SyncIo::readSome(source.fd, task->buffer.data(), ChunkSize)) > 0)
            crc = libdeflate_crc32(crc, task->buffer.data(), size_t(got));
        if (got < 0 || rest < 0 || ::lseek(source.fd, rest, SEEK_SET) != rest) {
            EngineFile::failAs(task, OutcomeCodes::FileUnreadable, errno, "read %s file error: %s.",
                               path, std::strerror(errno));
            return EngineFile::Unreadable;
        }
    }

    zip_fileinfo info;
    localDosTime(source.info.st_mtime, &info);
    ZipEntryWriter writer;
    // The error is taken where a write fails: errno from before (a name looked for and not
    // found) once stood for a full disk.
    int writeErrno = 0;
    const auto failed = [&writeErrno](int status) {
        if (status != ZIP_OK && writeErrno == 0)
            writeErrno = errno ? errno : EIO;
        return status;
    };
    errno = 0;
    int status = ZipEntryWriter::NotDirect;
    // An encrypted entry goes to the archive without the zip library when it can.
    int direct = password ? ::open(entry.archive.c_str(),
                                   O_RDWR | O_CLOEXEC | (entry.created ? O_CREAT | O_TRUNC : 0),
                                   0666)
                          : -1;
    if (direct >= 0) {
        status = writer.openDirect(direct, entry.name.c_str(), &info, task->record.password,
                                   uint32_t(crc), size);
        if (status == ZipEntryWriter::NotDirect) {
            ::close(direct);
            direct = -1;
        }
        failed(status == ZipEntryWriter::NotDirect ? ZIP_OK : status);
    }
    zipFile zip = nullptr;
    if (status == ZipEntryWriter::NotDirect) {
        zlib_filefunc64_def io;
        fill_fopen64_filefunc(&io);
        errno = 0;
        zip = zipOpen2_64(entry.archive.c_str(),
                          entry.created ? APPEND_STATUS_CREATE : APPEND_STATUS_ADDINZIP, nullptr,
                          &io);
        if (!zip) {
            EngineFile::failAs(task, OutcomeCodes::FileNotWritten, errno ? errno : EIO,
                               "zip %s file error: cannot open %s: %s.", path,
                               entry.archive.c_str(), std::strerror(errno ? errno : EIO));
            return EngineFile::Failed;
        }
        errno = 0;
        status = failed(writer.open(zip, entry.name.c_str(), &info,
                                    password ? task->record.password : nullptr, uint32_t(crc),
                                    size >= 0xFFFFFFFFull));
    }
    // The zip library writes through its own stream; a second descriptor lets the disk start
    // on the entry while it is still being written, so the final flush has little left.
    const int kick = direct >= 0 ? direct : ::open(entry.archive.c_str(), O_RDONLY | O_CLOEXEC);
    const auto startWriteBack = [kick] {
        if (kick >= 0)
            ::sync_file_range(kick, 0, 0, SYNC_FILE_RANGE_WRITE);
    };
    int result = EngineFile::Done;
    uint64_t stored = 0;
    uLong storedCrc = crc32(0, nullptr, 0);
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    if (status == ZIP_OK) {
        for (size_t at = 0; at < held->size() && status == ZIP_OK; at += ChunkSize) {
            const size_t n = std::min(ChunkSize, held->size() - at);
            status = failed(writer.write(held->data() + at, n));
            startWriteBack();
        }
        XXH64_update(state, held->data(), held->size());
        storedCrc = libdeflate_crc32(storedCrc, held->data(), held->size());
        stored = held->size();
    }
    if (status == ZIP_OK) {
        // With a password the photo's own hash is not needed: the stored bytes' is compared.
        result = EngineFile::stream(task, &source, path, password ? nullptr : state,
                                    [&](const unsigned char *data, size_t size) {
                                        storedCrc = libdeflate_crc32(storedCrc, data, size);
                                        stored += uint64_t(size);
                                        status = failed(writer.write(data, size));
                                        startWriteBack();
                                        return status == ZIP_OK;
                                    });
        if (result == EngineFile::Done && EngineFile::changedWhileRead(task, source))
            result = Changed;
        else if (result == EngineFile::Done && password && storedCrc != crc) {
            EngineFile::failAs(task, OutcomeCodes::FileChanged, 0,
                               "read %s file error: it changed while it was read.", path);
            result = EngineFile::Failed;
        }
    }
    if (status == ZIP_OK && result == EngineFile::Done)
        status = failed(writer.close(stored, uint32_t(storedCrc)));
    // What the verification reads back: the photo, or with a password the bytes as stored.
    *hash = password ? writer.storedHash() : XXH64_digest(state);
    XXH64_freeState(state);
    errno = 0;
    const int closeStatus =
        failed(zip ? zipClose(zip, nullptr) : ::close(direct) == 0 ? ZIP_OK : ZIP_ERRNO);
    if (kick >= 0 && kick != direct)
        ::close(kick);
    if (result == EngineFile::Done && (status != ZIP_OK || closeStatus != ZIP_OK)) {
        EngineFile::failAs(task, OutcomeCodes::FileNotWritten, writeErrno, "zip %s file error: %s.",
                           path, std::strerror(writeErrno));
        result = EngineFile::Failed;
    }
    if (result == EngineFile::Done) {
        const int fd = ::open(entry.archive.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fdatasync(fd) != 0) {
            EngineFile::failAs(task, OutcomeCodes::FileNotWritten, errno, "zip %s file error: %s.",
                               path, std::strerror(errno));
            result = EngineFile::Failed;
        }
        if (fd >= 0)
            ::close(fd);
    }
    return result;
}

} // namespace

std::string nextName(const char *currentName)
{
    const char *k = std::strrchr(currentName, 'k');
    const int number = k ? std::atoi(k + 1) : 0;
    char name[64];
    std::snprintf(name, sizeof name, "%s%d%s", "pack", number + 1, ".zip");
    return name;
}

int recover(DiskTask *task)
{
    FILE *journal = std::fopen(journalPath(task).c_str(), "rb");
    if (!journal)
        return 0;
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, journal)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(journal);
    const bool usable = bytes.size() >= JournalHeader + 8 &&
                        std::memcmp(bytes.data(), JournalMagic, 4) == 0 &&
                        XXH64(bytes.data(), bytes.size() - 8, 0) ==
                            ByteOrder::getLe64(bytes.data() + bytes.size() - 8);
    const unsigned char *header = bytes.data();
    if (!usable || int(ByteOrder::getLe32(header + 4)) != task->filesDone.load() ||
        std::strncmp(reinterpret_cast<const char *>(header + 16), task->record.archiveName, 256) !=
            0)
        return 0; // the archive is as the last counted file left it
    const std::vector<unsigned char> tail(bytes.begin() + JournalHeader, bytes.end() - 8);
    const uint64_t offset = ByteOrder::getLe64(header + 8);
    const long long size = fileSize(task->record.archivePath);
    if (size < 0 || uint64_t(size) < offset)
        return -1;
    const int fd = ::open(task->record.archivePath, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const bool ok = ::ftruncate(fd, off_t(offset)) == 0 && ::lseek(fd, 0, SEEK_END) >= 0 &&
                    SyncIo::writeAll(fd, tail.data(), tail.size()) == 0 && ::fdatasync(fd) == 0;
    ::close(fd);
    return ok ? 0 : -1;
}

int pack(DiskTask *task, int index)
{
    FaultPoints::hit(task, index, "start", taskEntry(task, index));
    if (!task->running.load())
        return EngineFile::Paused;
    Entry entry;
    entry.name = taskRelativePath(task, index);
    entry.archive = task->record.archivePath;
    std::string name = task->record.archiveName;
    const long long size = fileSize(entry.archive);
    const std::string folder = task->record.destination;
    uint64_t changedFrom = 0; // the archive's first byte the entry changes
    // No file of this offload is in the current archive yet (the files before this one, if any,
    // failed): it is made anew, never appended to an archive an earlier offload left.
    if (taskFilesCopied(task) == 0 || size < 0) {
        entry.created = true;
    } else if (double(size) >= task->record.volumeSize * 1048576.0) {
        // The current archive is full and final: list it, then start the next one.
        uint64_t hash = 0;
        const std::string full = entry.archive.substr(entry.archive.find_last_of('/') + 1);
        if (archiveHash(task, entry.archive, &hash) != 0 ||
            ChecksumList::set(folder, full, hash) != 0) {
            EngineFile::failAs(task, OutcomeCodes::FileNotWritten, errno,
                               "write checksum of %s error: %s.", entry.archive.c_str(),
                               std::strerror(errno));
            return EngineFile::Failed;
        }
        BackupCopy::complete(task, full);
        name = nextName(name.c_str());
        entry.archive = std::string(task->record.archivePrefix) + name;
        entry.created = true;
    } else if (saveJournal(task, &changedFrom) != 0) {
        EngineFile::fail(task, "zip %s file error: cannot read the archive %s.",
                         taskEntry(task, index), entry.archive.c_str());
        return EngineFile::Failed;
    }
    std::vector<unsigned char> &held = task->held;
    bool heldValid = false;
    int result = EngineFile::Failed;
    // An archive that reads back different is put back and written once more, then it fails.
    for (int attempt = 0; attempt < 2; ++attempt) {
        uint64_t hash = 0;
        result = writeEntry(task, index, entry, &hash, &held, &heldValid);
        for (int read = 1; result == Changed && read < ChangedReads; ++read) {
            rollBack(task, entry);
            result = writeEntry(task, index, entry, &hash, &held, &heldValid);
        }
        if (result == Changed) {
            EngineFile::failAs(task, OutcomeCodes::FileChanged, 0,
                               "read %s file error: it changed while it was read.",
                               taskEntry(task, index));
            result = EngineFile::Unreadable;
        }
        if (result != EngineFile::Done) {
            rollBack(task, entry);
            return result;
        }
        FaultPoints::hit(task, index, "written", entry.archive.c_str());
        // The backup takes the archive's new bytes while the cache still holds them.
        BackupCopy::follow(task, entry.archive.substr(entry.archive.find_last_of('/') + 1),
                           changedFrom);
        if (!task->verify)
            break;
        uint64_t stored = 0;
        const char *password = task->record.passwordFlag ? task->record.password : nullptr;
        ArchiveHash next;
        if (ZipVerify::lastEntryHash(entry.archive, entry.name, password, &stored,
                                     &task->archiveHash, &next) == 0 &&
            stored == hash) {
            task->archiveHash = next;
            break;
        }
        EngineFile::failAs(task, OutcomeCodes::FileCopyDiffers, 0,
                           "verify %s file error: the archive %s reads back different.",
                           taskEntry(task, index), entry.archive.c_str());
        result = EngineFile::Failed;
        rollBack(task, entry);
    }
    if (result != EngineFile::Done)
        return result;
    FaultPoints::hit(task, index, "verified", entry.archive.c_str());
    if (entry.created) {
        taskRecordSetText(task->record.archivePath, entry.archive.c_str());
        taskRecordSetText(task->record.archiveName, name.c_str());
    }
    task->bytesDone = uint64_t(std::max(0ll, fileSize(entry.archive)));
    if (task->step.filed)
        task->step.filed(task->step.context, task->record.camera, index,
                         (entry.archive + '/' + entry.name).c_str(),
                         heldValid ? held.data() : nullptr, heldValid ? held.size() : 0);
    FaultPoints::hit(task, index, "listed", entry.archive.c_str());
    task->error[0] = 0;
    return EngineFile::Done;
}

void settle(DiskTask *task)
{
    ::unlink(journalPath(task).c_str());
}

int finish(DiskTask *task)
{
    uint64_t hash = 0;
    const std::string archive = task->record.archivePath;
    if (archiveHash(task, archive, &hash) != 0)
        return -1;
    const std::string name = archive.substr(archive.find_last_of('/') + 1);
    if (ChecksumList::set(task->record.destination, name, hash) != 0)
        return -1;
    BackupCopy::complete(task, name);
    return 0;
}

VolumeStep steps()
{
    VolumeStep step;
    step.pack = pack;
    step.recover = recover;
    step.settle = settle;
    step.finish = finish;
    return step;
}

} // namespace ZipVolume
