#include "cardheads.h"

#include <cstdio>
#include <map>
#include <vector>

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

#include "checksumlist.h"
#include "disktask.h"
#include "failedfiles.h"
#include "syncio.h"

namespace CardHeads {

std::string path(const std::string &taskFile)
{
    return taskFile + ".heads";
}

void note(DiskTask *task, int index, const unsigned char *data, size_t size)
{
    if (index < 0 || index >= task->fileCount.load())
        return;
    const std::string line = ChecksumList::hexHash(XXH64(data, size, 0)) + '\t' +
                             FailedFiles::escape(taskRelativePath(task, index)) + '\n';
    const int fd = ::open(path(task->record.taskFilePath).c_str(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return; // the sample is smaller, nothing worse
    SyncIo::writeAll(fd, line.data(), line.size());
    ::close(fd);
}

void clear(const std::string &taskFile)
{
    ::unlink(path(taskFile).c_str());
}

// The first HeadSize bytes of file (all of a shorter one).
static bool readHead(const std::string &file, std::vector<unsigned char> *head)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    head->resize(HeadSize);
    size_t have = 0;
    ssize_t got = 1;
    while (have < head->size() && (got = SyncIo::readSome(fd, head->data() + have,
                                                          head->size() - have)) > 0)
        have += size_t(got);
    ::close(fd);
    head->resize(have);
    return got >= 0;
}

static bool headOf(const std::string &file, std::string *hex)
{
    std::vector<unsigned char> head;
    if (!readHead(file, &head))
        return false;
    *hex = ChecksumList::hexHash(XXH64(head.data(), head.size(), 0));
    return true;
}

void noteCard(DiskTask *task, int index)
{
    std::vector<unsigned char> head;
    if (index >= 0 && index < task->fileCount.load() && readHead(taskEntry(task, index), &head))
        note(task, index, head.data(), head.size());
}

int differing(const std::string &taskFile, const std::string &folder, int *sampled)
{
    *sampled = 0;
    FILE *file = std::fopen(path(taskFile).c_str(), "rb");
    if (!file)
        return 0;
    std::vector<std::string> order; // paths as first read, which is the card's order
    std::map<std::string, std::string> heads;
    char buffer[4096];
    std::string text;
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    std::fclose(file);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        std::string relative;
        // A line torn by a crash does not parse and is left out.
        if (line.size() < 18 || line[16] != '\t' ||
            !FailedFiles::unescape(line.substr(17), &relative))
            continue;
        if (heads.find(relative) == heads.end())
            order.push_back(relative);
        heads[relative] = line.substr(0, 16);
    }
    const size_t count = order.size();
    const size_t sample = std::min<size_t>(count, SampleSize);
    int differ = 0;
    for (size_t k = 0; k < sample; ++k) {
        const std::string &relative = order[k * count / sample];
        std::string now;
        if (!headOf(folder + '/' + relative, &now) || now != heads[relative])
            ++differ;
    }
    *sampled = int(sample);
    return differ;
}

} // namespace CardHeads
