#include "copynames.h"

#include <map>
#include <set>

#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CopyNames {

bool foldsCase(const std::string &folder)
{
    const std::string tag = std::to_string(::getpid());
    const std::string upper = folder + "/.V7-CASE-PROBE-" + tag;
    const std::string lower = folder + "/.v7-case-probe-" + tag;
    const int fd = ::open(upper.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    ::close(fd);
    struct stat st = {};
    const bool folds = ::lstat(lower.c_str(), &st) == 0;
    ::unlink(upper.c_str());
    return folds;
}

std::string folded(const std::string &name)
{
    return QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toStdString();
}

std::vector<std::string> decide(const std::vector<std::string> &cardPaths, bool foldsCase)
{
    std::vector<std::string> names(cardPaths.size());
    if (!foldsCase)
        return names;
    // Every card path and folder as the card spells it: a new name must not take the place of a
    // card file that comes later in the list.
    std::set<std::string> cardKeys;
    for (const std::string &path : cardPaths) {
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            cardKeys.insert(folded(path.substr(0, slash)));
        cardKeys.insert(folded(path));
    }
    std::map<std::string, std::string> folders; // folded folder path -> as first spelt
    std::set<std::string> taken;                // folded paths of the copies named so far
    for (size_t i = 0; i < cardPaths.size(); ++i) {
        const std::string &path = cardPaths[i];
        std::string real;
        size_t start = 0;
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', start)) {
            const std::string spelt =
                (real.empty() ? std::string() : real + '/') + path.substr(start, slash - start);
            const auto known = folders.emplace(folded(spelt), spelt).first;
            real = known->second;
            start = slash + 1;
        }
        const std::string name = path.substr(start);
        const std::string prefix = real.empty() ? std::string() : real + '/';
        std::string copy = prefix + name;
        std::string key = folded(copy);
        if (taken.count(key) || folders.count(key)) {
            const size_t dot = name.find_last_of('.');
            const bool suffixed = dot != std::string::npos && dot > 0;
            const std::string stem = suffixed ? name.substr(0, dot) : name;
            const std::string suffix = suffixed ? name.substr(dot) : std::string();
            for (int n = 2;; ++n) {
                copy = prefix + stem + '~' + std::to_string(n) + suffix;
                key = folded(copy);
                if (!taken.count(key) && !folders.count(key) && !cardKeys.count(key))
                    break;
            }
        }
        taken.insert(key);
        if (copy != path)
            names[i] = copy;
    }
    return names;
}

} // namespace CopyNames
