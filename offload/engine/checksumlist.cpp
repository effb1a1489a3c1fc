#include "checksumlist.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "syncio.h"
#include "uniquefd.h"

namespace ChecksumList {

static std::string listPath(const std::string &folder)
{
    return folder + '/' + FileName;
}

// A resume's check of the copies drops lines while the engine appends others: a rewrite must
// not lose a line appended between its read and its rename.
static std::mutex &changing()
{
    static std::mutex lock;
    return lock;
}

std::string hexHash(uint64_t hash)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string line(const std::string &hash, const std::string &relative)
{
    if (relative.find('\n') == std::string::npos)
        return hash + "  " + relative + '\n';
    std::string escaped;
    for (const char c : relative) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return '\\' + hash + "  " + escaped + '\n';
}

bool parse(const std::string &text, std::string *relative, std::string *hexHash)
{
    const bool escaped = !text.empty() && text[0] == '\\';
    const size_t at = escaped ? 1 : 0;
    if (text.size() <= at + 18 || text.compare(at + 16, 2, "  ") != 0)
        return false;
    *hexHash = text.substr(at, 16);
    if (!escaped) {
        *relative = text.substr(at + 18);
        return true;
    }
    relative->clear();
    for (size_t i = at + 18; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *relative += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        if (text[i] == 'n')
            *relative += '\n';
        else if (text[i] == '\\')
            *relative += '\\';
        else
            return false;
    }
    return true;
}

int hashFile(const std::string &path, uint64_t *hash, bool fromCache)
{
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    const auto take = [state](const unsigned char *data, size_t size) {
        XXH64_update(state, data, size);
        return true;
    };
    int result = 0;
    if (fromCache) {
        const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.valid()) {
            XXH64_freeState(state);
            return -1;
        }
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        // One buffer per thread: a fresh one per file is paid for again in page faults.
        thread_local std::vector<unsigned char> chunk(1 << 20);
        ssize_t got;
        while ((got = SyncIo::readSome(fd.get(), chunk.data(), chunk.size())) > 0)
            take(chunk.data(), size_t(got));
        result = got < 0 ? -1 : 0;
    } else {
        // What the disk returns, not what we wrote.
        result = SyncIo::readFromDisk(path, 0, UINT64_MAX, take);
    }
    *hash = XXH64_digest(state);
    XXH64_freeState(state);
    return result;
}

static int appendLocked(const std::string &folder, const std::string &text)
{
    const UniqueFd fd(
        ::open(listPath(folder).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid())
        return -1;
    struct stat before = {};
    const bool sized = ::fstat(fd.get(), &before) == 0;
    const bool ok = SyncIo::writeAll(fd.get(), text.data(), text.size()) == 0;
    // A line cut short (full disk) must not run into the next one.
    if (!ok && sized) {
        const int error = errno;
        ::ftruncate(fd.get(), before.st_size);
        errno = error;
    }
    return ok ? 0 : -1;
}

std::vector<std::pair<std::string, std::string>> parseList(const std::string &content)
{
    std::vector<std::pair<std::string, std::string>> lines;
    size_t at = 0;
    size_t end;
    // A torn last line (crash while appending) has no line break and is never taken.
    while ((end = content.find('\n', at)) != std::string::npos) {
        std::string relative;
        std::string hash;
        if (parse(content.substr(at, end - at), &relative, &hash))
            lines.emplace_back(relative, hash);
        at = end + 1;
    }
    return lines;
}

std::vector<std::pair<std::string, std::string>> read(const std::string &folder)
{
    std::string content;
    if (!SyncIo::readText(listPath(folder), &content))
        return {};
    return parseList(content);
}

static int rewrite(const std::string &folder,
                   const std::vector<std::pair<std::string, std::string>> &lines)
{
    std::string text;
    for (const auto &entry : lines)
        text += line(entry.second, entry.first);
    return SyncIo::replaceFile(listPath(folder), text);
}

static int dropLocked(const std::string &folder, const std::vector<std::string> &relatives)
{
    const std::set<std::string> gone(relatives.begin(), relatives.end());
    auto lines = read(folder);
    std::vector<std::pair<std::string, std::string>> kept;
    std::set<std::string> seen;
    // Keep the newest line of each path: walk from the end, then turn the kept ones round
    // (inserting each at the front cost a move of all the others, per line).
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (gone.count(it->first) || !seen.insert(it->first).second)
            continue;
        kept.push_back(*it);
    }
    std::reverse(kept.begin(), kept.end());
    return rewrite(folder, kept);
}

int append(const std::string &folder, const std::string &relative, uint64_t hash)
{
    std::lock_guard<std::mutex> guard(changing());
    return appendLocked(folder, line(hexHash(hash), relative));
}

int append(const std::string &folder,
           const std::vector<std::pair<std::string, uint64_t>> &copies)
{
    std::string text;
    for (const auto &copy : copies)
        text += line(hexHash(copy.second), copy.first);
    std::lock_guard<std::mutex> guard(changing());
    return appendLocked(folder, text);
}

int drop(const std::string &folder, const std::vector<std::string> &relatives)
{
    std::lock_guard<std::mutex> guard(changing());
    return dropLocked(folder, relatives);
}

int dropIf(const std::string &folder, bool (*predicate)(const std::string &relative))
{
    std::lock_guard<std::mutex> guard(changing());
    auto lines = read(folder);
    std::vector<std::string> gone;
    for (const auto &entry : lines) {
        if (predicate(entry.first))
            gone.push_back(entry.first);
    }
    return dropLocked(folder, gone);
}

int set(const std::string &folder, const std::string &relative, uint64_t hash)
{
    std::lock_guard<std::mutex> guard(changing());
    if (dropLocked(folder, {relative}) != 0)
        return -1;
    return appendLocked(folder, line(hexHash(hash), relative));
}

} // namespace ChecksumList
