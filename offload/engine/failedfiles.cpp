#include "failedfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include <unistd.h>

#include "disktask.h"
#include "syncio.h"

namespace FailedFiles {

namespace {

constexpr const char *Magic = "V7FAILED 1";

std::string oneLine(const std::string &reason)
{
    std::string text = reason;
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\t', ' ');
    return text;
}

int saveLocked(DiskTask *task)
{
    const std::string file = path(task);
    if (task->failedFiles.empty() && task->skippedFiles.empty()) {
        if (::unlink(file.c_str()) != 0 && errno != ENOENT)
            return -1;
        return 0;
    }
    std::string text = std::string(Magic) + '\n';
    for (const FileProblem &p : task->skippedFiles)
        text += "S\t" + escape(p.relative) + (p.reason.empty() ? "" : '\t' + oneLine(p.reason)) +
                '\n';
    for (const FileProblem &p : task->failedFiles)
        text += "F\t" + escape(p.relative) + '\t' + oneLine(p.reason) + '\n';
    return SyncIo::replaceFile(file, text);
}

} // namespace

std::string path(const DiskTask *task)
{
    return std::string(task->record.taskFilePath) + ".failed";
}

std::string escape(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

bool unescape(const std::string &text, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\': *out += '\\'; break;
        case 'n': *out += '\n'; break;
        case 't': *out += '\t'; break;
        default: return false;
        }
    }
    return true;
}

int save(DiskTask *task)
{
    std::lock_guard<std::mutex> guard(task->problemLock);
    return saveLocked(task);
}

int parse(const std::string &content, const std::map<std::string, int> &indexOf,
          std::vector<FileProblem> *failed, std::vector<FileProblem> *skipped)
{
    int result = 0;
    size_t at = 0;
    bool first = true;
    while (at < content.size()) {
        const size_t end = content.find('\n', at);
        if (end == std::string::npos)
            return -1; // cut short: the rename makes that impossible unless damaged
        const std::string text = content.substr(at, end - at);
        at = end + 1;
        if (first) {
            first = false;
            if (text != Magic)
                return -1;
            continue;
        }
        const size_t tab = text.find('\t', 2);
        FileProblem p;
        if (text.size() < 3 || text[1] != '\t' ||
            !unescape(text.substr(2, tab == std::string::npos ? tab : tab - 2), &p.relative)) {
            result = -1;
            continue;
        }
        if (text[0] == 'S') {
            if (tab != std::string::npos)
                p.reason = text.substr(tab + 1);
            skipped->push_back(p);
        } else if (text[0] == 'F' && tab != std::string::npos) {
            p.reason = text.substr(tab + 1);
            const auto found = indexOf.find(p.relative);
            // A file at or after files done is copied by the run itself.
            if (found != indexOf.end()) {
                p.index = found->second;
                failed->push_back(p);
            }
        } else {
            result = -1;
        }
    }
    return result;
}

int load(DiskTask *task)
{
    std::vector<FileProblem> failed;
    std::vector<FileProblem> skipped;
    int result = 0;
    std::string content;
    if (SyncIo::readText(path(task), &content)) {
        std::map<std::string, int> indexOf;
        const int done = task->filesDone.load();
        for (int i = 0; i < done; ++i)
            indexOf.emplace(taskRelativePath(task, i), i);
        result = parse(content, indexOf, &failed, &skipped);
        if (result != 0)
            printf("read %s file error: damaged, the files it lists are retried.\n",
                   path(task).c_str());
    }
    std::sort(failed.begin(), failed.end(),
              [](const FileProblem &a, const FileProblem &b) { return a.index < b.index; });
    failed.erase(std::unique(failed.begin(), failed.end(),
                             [](const FileProblem &a, const FileProblem &b) {
                                 return a.index == b.index;
                             }),
                 failed.end());
    std::lock_guard<std::mutex> guard(task->problemLock);
    task->failedFiles.swap(failed);
    task->skippedFiles.swap(skipped);
    return result;
}

int note(DiskTask *task, int index, const std::string &reason)
{
    std::lock_guard<std::mutex> guard(task->problemLock);
    FileProblem p;
    p.index = index;
    p.relative = taskRelativePath(task, index);
    p.reason = reason;
    p.code = task->errorCode;
    p.sysError = task->errorErrno;
    auto &list = task->failedFiles;
    const auto at = std::lower_bound(
        list.begin(), list.end(), index,
        [](const FileProblem &f, int i) { return f.index < i; });
    if (at != list.end() && at->index == index)
        *at = p;
    else
        list.insert(at, p);
    return saveLocked(task);
}

int clear(DiskTask *task, int index)
{
    std::lock_guard<std::mutex> guard(task->problemLock);
    auto &list = task->failedFiles;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [index](const FileProblem &f) { return f.index == index; }),
               list.end());
    return saveLocked(task);
}

} // namespace FailedFiles
