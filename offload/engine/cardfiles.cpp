#include "cardfiles.h"

#include <algorithm>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>

#include "taskrecord.h"

namespace {

enum class Kind { Gone, File, Folder, Link, Other };

Kind kindOf(const std::string &path)
{
    struct stat st = {};
    // Symbolic links are not followed: a card holds none, and a link loop must not hang a list.
    if (::lstat(path.c_str(), &st) != 0)
        return Kind::Gone;
    if (S_ISREG(st.st_mode))
        return Kind::File;
    if (S_ISDIR(st.st_mode))
        return Kind::Folder;
    return S_ISLNK(st.st_mode) ? Kind::Link : Kind::Other;
}

bool isArchive(const std::string &name)
{
    const size_t dot = name.find_last_of('.');
    return dot != std::string::npos && name.compare(dot + 1, std::string::npos, "zip") == 0;
}

int sortedNames(const std::string &folder, std::vector<std::string> *names)
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return -1;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        names->emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names->begin(), names->end());
    return 0;
}

// A card's folders are few and shallow; the limit only keeps a crafted tree from exhausting the
// stack.
constexpr int MaxDepth = 64;

void listBelow(const std::string &folder, const std::string &prefix, int depth,
               std::vector<std::string> *out, std::vector<CardFiles::NotFile> *notFiles)
{
    std::vector<std::string> names;
    if (depth > MaxDepth || sortedNames(prefix.empty() ? folder : folder + '/' + prefix, &names) != 0)
        return;
    for (const std::string &name : names) {
        const std::string relative = prefix.empty() ? name : prefix + '/' + name;
        const Kind kind = kindOf(folder + '/' + relative);
        if (kind == Kind::File && !isArchive(name))
            out->push_back(relative);
        else if (kind == Kind::Folder)
            listBelow(folder, relative, depth + 1, out, notFiles);
        else if (notFiles && kind == Kind::Link)
            notFiles->push_back({relative, "a symbolic link, not followed"});
        else if (notFiles && kind == Kind::Other)
            notFiles->push_back({relative, "not a regular file"});
    }
}

} // namespace

namespace CardFiles {

int list(const std::string &folder, std::vector<std::string> *relativePaths,
         std::vector<NotFile> *notFiles)
{
    relativePaths->clear();
    if (notFiles)
        notFiles->clear();
    std::vector<std::string> names;
    if (folder.empty() || sortedNames(folder, &names) != 0)
        return -1;
    listBelow(folder, std::string(), 0, relativePaths, notFiles);
    return 0;
}

int listCopyable(const std::string &folder, std::vector<std::string> *copied,
                 std::vector<std::string> *skipped, std::vector<NotFile> *notFiles)
{
    std::vector<std::string> all;
    copied->clear();
    skipped->clear();
    if (list(folder, &all, notFiles) != 0)
        return -1;
    for (std::string &relative : all) {
        if (folder.size() + 1 + relative.size() < TaskLayout::EntrySize)
            copied->push_back(std::move(relative));
        else
            skipped->push_back(std::move(relative));
    }
    return 0;
}

int count(const std::string &folder)
{
    std::vector<std::string> copied;
    std::vector<std::string> skipped;
    if (listCopyable(folder, &copied, &skipped) != 0)
        return 0;
    return int(copied.size());
}

} // namespace CardFiles
