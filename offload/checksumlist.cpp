#include "checksumlist.h"

#include <cstdio>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "syncio.h"

namespace ChecksumList {

static std::string listPath(const std::string &folder)
{
    return folder + '/' + FileName;
}

std::string hexHash(uint64_t hash)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

int hashFile(const std::string &path, uint64_t *hash)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Drop the cached pages so the hash is of what the disk returns, not of what we wrote.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    // One buffer per thread: a fresh one per file is paid for again in page faults.
    thread_local std::vector<unsigned char> chunk(1 << 20);
    int result = 0;
    for (;;) {
        const ssize_t got = SyncIo::readSome(fd, chunk.data(), chunk.size());
        if (got < 0) {
            result = -1;
            break;
        }
        if (got == 0)
            break;
        XXH64_update(state, chunk.data(), size_t(got));
    }
    *hash = XXH64_digest(state);
    XXH64_freeState(state);
    ::close(fd);
    return result;
}

int append(const std::string &folder, const std::string &relative, uint64_t hash)
{
    const std::string line = hexHash(hash) + "  " + relative + '\n';
    const int fd =
        ::open(listPath(folder).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    struct stat before = {};
    const bool sized = ::fstat(fd, &before) == 0;
    const bool ok = SyncIo::writeAll(fd, line.data(), line.size()) == 0;
    // A line cut short (full disk) must not run into the next one.
    if (!ok && sized) {
        const int error = errno;
        ::ftruncate(fd, before.st_size);
        errno = error;
    }
    ::close(fd);
    return ok ? 0 : -1;
}

std::vector<std::pair<std::string, std::string>> read(const std::string &folder)
{
    std::vector<std::pair<std::string, std::string>> lines;
    FILE *file = std::fopen(listPath(folder).c_str(), "rb");
    if (!file)
        return lines;
    std::string line;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c != '\n') {
            line += char(c);
            continue;
        }
        // A torn last line (crash while appending) has no newline and is dropped above.
        if (line.size() > 18 && line.compare(16, 2, "  ") == 0)
            lines.emplace_back(line.substr(18), line.substr(0, 16));
        line.clear();
    }
    std::fclose(file);
    return lines;
}

static int rewrite(const std::string &folder,
                   const std::vector<std::pair<std::string, std::string>> &lines)
{
    std::string text;
    for (const auto &line : lines)
        text += line.second + "  " + line.first + '\n';
    return SyncIo::replaceFile(listPath(folder), text);
}

int drop(const std::string &folder, const std::vector<std::string> &relatives)
{
    const std::set<std::string> gone(relatives.begin(), relatives.end());
    auto lines = read(folder);
    std::vector<std::pair<std::string, std::string>> kept;
    std::set<std::string> seen;
    // Keep the newest line of each path: walk from the end.
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (gone.count(it->first) || !seen.insert(it->first).second)
            continue;
        kept.insert(kept.begin(), *it);
    }
    return rewrite(folder, kept);
}

int dropIf(const std::string &folder, bool (*predicate)(const std::string &relative))
{
    auto lines = read(folder);
    std::vector<std::string> gone;
    for (const auto &line : lines) {
        if (predicate(line.first))
            gone.push_back(line.first);
    }
    return drop(folder, gone);
}

int set(const std::string &folder, const std::string &relative, uint64_t hash)
{
    if (drop(folder, {relative}) != 0)
        return -1;
    return append(folder, relative, hash);
}

} // namespace ChecksumList
