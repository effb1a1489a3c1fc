#include "cardfiles.h"

#include <algorithm>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>

namespace {

enum class Kind { Other, File, Folder };

Kind kindOf(const std::string &path)
{
    struct stat st = {};
    // Symbolic links are not followed: a card holds none, and a link loop must not hang a list.
    if (::lstat(path.c_str(), &st) != 0)
        return Kind::Other;
    if (S_ISREG(st.st_mode))
        return Kind::File;
    if (S_ISDIR(st.st_mode))
        return Kind::Folder;
    return Kind::Other;
}

bool isArchive(const char *name)
{
    const char *dot = std::strrchr(name, '.');
    return dot && std::strcmp(dot + 1, "zip") == 0;
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

} // namespace

namespace CardFiles {

int list(const std::string &folder, std::vector<std::string> *relativePaths)
{
    relativePaths->clear();
    if (folder.empty())
        return -1;
    std::vector<std::string> names;
    if (sortedNames(folder, &names) != 0)
        return -1;
    for (const std::string &name : names) {
        const Kind kind = kindOf(folder + '/' + name);
        if (kind == Kind::File && !isArchive(name.c_str())) {
            relativePaths->push_back(name);
        } else if (kind == Kind::Folder) {
            std::vector<std::string> inner;
            if (sortedNames(folder + '/' + name, &inner) != 0)
                continue;
            for (const std::string &innerName : inner) {
                const std::string relative = name + '/' + innerName;
                if (!isArchive(innerName.c_str()) && kindOf(folder + '/' + relative) == Kind::File)
                    relativePaths->push_back(relative);
            }
        }
    }
    return 0;
}

int count(const std::string &folder)
{
    std::vector<std::string> paths;
    if (list(folder, &paths) != 0)
        return 0;
    return int(paths.size());
}

} // namespace CardFiles
