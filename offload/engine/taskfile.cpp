#include "taskfile.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <unistd.h>

#include "cardfiles.h"
#include "disktask.h"

using namespace TaskLayout;

namespace TaskFile {

static void encodeCurrent(const DiskTask *task, unsigned char *out)
{
    TaskRecord record = task->record;
    record.running = task->running.load();
    record.stopped = task->stopped.load();
    record.fileCount = task->fileCount.load();
    record.filesDone = task->filesDone.load();
    record.bytesDone = task->bytesDone.load();
    taskRecordEncode(&record, out);
}

int build(DiskTask *task)
{
    const char *source = task->record.source;
    std::vector<std::string> files;
    std::vector<std::string> tooLong;
    std::vector<CardFiles::NotFile> notFiles;
    if (CardFiles::listCopyable(source, &files, &tooLong, &notFiles) != 0) {
        printf("open dir %s error.\n", source);
        return -1;
    }
    // A path an entry cannot hold is reported by name; the rest of the card is copied.
    std::vector<FileProblem> skipped;
    for (const std::string &relative : tooLong) {
        printf("file name too long, skipped: %s/%s.\n", source, relative.c_str());
        FileProblem p;
        p.relative = relative;
        p.reason = "the path is longer than a task entry holds";
        p.code = OutcomeCodes::FilePathTooLong;
        skipped.push_back(p);
    }
    for (const CardFiles::NotFile &n : notFiles)
        skipped.push_back({n.relative, n.reason, -1, OutcomeCodes::FileSkipped, 0});
    {
        std::lock_guard<std::mutex> guard(task->problemLock);
        task->skippedFiles.swap(skipped);
    }
    if (files.size() > size_t(MaxFiles)) {
        printf("too many files in %s.\n", source);
        return -1;
    }
    FILE *file = fopen(task->record.taskFilePath, "wb");
    if (!file) {
        printf("fopen %s file error.\n", task->record.taskFilePath);
        return -1;
    }
    if (fseek(file, long(RecordSize), SEEK_SET) != 0) {
        fclose(file);
        return -1;
    }
    int index = 0;
    for (const std::string &relative : files) {
        char entry[EntrySize] = {};
        std::snprintf(entry, sizeof entry, "%s/%s", source, relative.c_str());
        if (fwrite(entry, 1, EntrySize, file) != EntrySize) {
            printf("fwrite %s file %d file name error.\n", task->record.taskFilePath, index);
            fclose(file);
            return -1;
        }
        ++index;
    }
    task->fileCount = int(files.size());
    task->filesDone = 0;
    unsigned char header[RecordSize];
    encodeCurrent(task, header);
    const bool written =
        fseek(file, 0, SEEK_SET) == 0 && fwrite(header, 1, RecordSize, file) == RecordSize;
    if (!written)
        printf("fwrite %s file index info error.\n", task->record.taskFilePath);
    const bool synced = fflush(file) == 0 && fdatasync(fileno(file)) == 0;
    fclose(file);
    return written && synced ? 0 : -1;
}

int read(FILE *file, long long length, const char *name, TaskRecord *header,
         std::vector<char> *entries, std::string *why)
{
    std::string ignored;
    if (!why)
        why = &ignored;
    unsigned char raw[RecordSize];
    const size_t got = fread(raw, 1, RecordSize, file);
    if (got != RecordSize) {
        printf("read %s file error ret=%d.\n", name, int(got));
        *why = "shorter than its " + std::to_string(RecordSize) + "-byte record (" +
               std::to_string(got) + " bytes)";
        return -1;
    }
    taskRecordDecode(raw, header);
    const int count = header->fileCount;
    const int done = header->filesDone;
    if (count < 0 || count > MaxFiles || done < 0 || done > count) {
        printf("disk->file_num=%d\n", count);
        printf("read %s file list error read=%d ret=%d.\n", name, done, count);
        *why = "its counts are impossible: " + std::to_string(done) + " of " +
               std::to_string(count) + " files done";
        return -1;
    }
    const long long expected = (long long)RecordSize + (long long)count * (long long)EntrySize;
    if (length != expected) {
        printf("disk->file_num=%d\n", count);
        printf("sizeof(file_info_t)=%d\n", int(EntrySize));
        printf("read %s file list error read=%lld ret=%lld.\n", name, length, expected);
        *why = std::to_string(length) + " bytes where a list of " + std::to_string(count) +
               " files takes " + std::to_string(expected);
        return -1;
    }
    entries->assign(size_t(count) * EntrySize, 0);
    const size_t read = count ? fread(entries->data(), 1, entries->size(), file) : 0;
    if (read != entries->size()) {
        printf("read %s file list error read=%d ret=%d.\n", name, int(read), count);
        *why = "its list cannot be read";
        entries->clear();
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        const char *entry = entries->data() + size_t(i) * EntrySize;
        // An entry must be a terminated, non-empty path below a folder.
        if (entry[0] == 0 || std::memchr(entry, 0, EntrySize) == nullptr ||
            std::strchr(entry, '/') == nullptr) {
            printf("read %s file list error: bad entry %d.\n", name, i);
            *why = "entry " + std::to_string(i + 1) + " is not a path";
            entries->clear();
            return -1;
        }
    }
    return 0;
}

int load(DiskTask *task)
{
    const char *path = task->record.taskFilePath;
    FILE *file = fopen(path, "rb+");
    if (!file) {
        printf("open disk log file %s error.\n", path);
        return -1;
    }
    long long length = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        length = ftell(file);
    if (length < 0 || fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        return -1;
    }
    TaskRecord header;
    std::vector<char> entries;
    if (read(file, length, path, &header, &entries) != 0) {
        fclose(file);
        return -1;
    }
    for (int i = 0; i < header.fileCount; ++i) {
        const char *entry = entries.data() + size_t(i) * EntrySize;
        if (!inside(entry, task->record.source)) {
            printf("read %s file list error: entry %d (%s) is not inside %s.\n", path, i, entry,
                   task->record.source);
            fclose(file);
            return -1;
        }
    }
    task->fileList.swap(entries);
    task->fileCount = header.fileCount;
    task->filesDone = header.filesDone;
    // The current archive advances with every volume and only the task file follows it after
    // every file; a caller's copy of it may be older (a crash leaves no saved offload task).
    if (task->record.volumeMode == 1 && header.archivePath[0] && header.archiveName[0]) {
        std::memcpy(task->record.archivePath, header.archivePath, TextSize);
        std::memcpy(task->record.archiveName, header.archiveName, TextSize);
    }
    task->taskFile = file;
    return 0;
}

int update(DiskTask *task)
{
    unsigned char header[RecordSize];
    encodeCurrent(task, header);
    FILE *file = task->taskFile;
    if (!file)
        return -1;
    size_t written = 0;
    if (fseek(file, 0, SEEK_SET) == 0)
        written = fwrite(header, 1, RecordSize, file);
    // No fdatasync: the file this record counts is on the disk already, so a record lost with
    // the power only makes a resume copy that file again.
    if (written != RecordSize || fflush(file) != 0) {
        printf("fwrite disk task file error: %s\n", std::strerror(errno));
        printf("update %s disk task file error ret=%d.\n", task->record.taskFilePath, int(written));
        return -1;
    }
    return 0;
}

bool inside(const char *entry, const char *folder)
{
    const size_t length = std::strlen(folder);
    if (length == 0 || std::strncmp(entry, folder, length) != 0 || entry[length] != '/')
        return false;
    const std::string relative = entry + length + 1;
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        const std::string part = relative.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

std::string check(const char *path, const char *source)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return errno == ENOENT ? "missing" : std::string("cannot be read: ") + std::strerror(errno);
    long long length = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        length = ftell(file);
    std::string why;
    TaskRecord header;
    std::vector<char> entries;
    if (length < 0 || fseek(file, 0, SEEK_SET) != 0)
        why = "cannot be read";
    else if (read(file, length, path, &header, &entries, &why) == 0) {
        for (int i = 0; i < header.fileCount && why.empty(); ++i) {
            const char *entry = entries.data() + size_t(i) * EntrySize;
            if (!inside(entry, source))
                why = "entry " + std::to_string(i + 1) + " (" + entry + ") is not inside " + source;
        }
    }
    fclose(file);
    return why;
}

void close(DiskTask *task)
{
    if (task->taskFile)
        fclose(task->taskFile);
    task->taskFile = nullptr;
}

} // namespace TaskFile
