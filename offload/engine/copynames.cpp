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

std::string withoutBlanks(std::string name)
{
    for (char &c : name) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            c = '_';
    }
    return name;
}

std::vector<std::string> decide(const std::vector<std::string> &cardPaths, bool foldsCase,
                                const std::string &cameraPrefix)
{
    std::vector<std::string> names(cardPaths.size());
    const bool prefixed = !cameraPrefix.empty();
    if (!foldsCase && !prefixed)
        return names;
    const auto key = [foldsCase](const std::string &name) {
        return foldsCase ? folded(name) : name;
    };
    const auto baseOf = [](const std::string &path) {
        const size_t slash = path.find_last_of('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    };
    // Every card path and folder as the card spells it, and with a prefix every file name the
    // card's files get: a new name must not take the place of a card file later in the list.
    std::set<std::string> cardKeys;
    std::set<std::string> cardBases;
    for (const std::string &path : cardPaths) {
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            cardKeys.insert(key(path.substr(0, slash)));
        cardKeys.insert(key(path));
        if (prefixed)
            cardBases.insert(key(cameraPrefix + withoutBlanks(baseOf(path))));
    }
    std::map<std::string, std::string> folders; // folder path key -> as first spelt
    std::set<std::string> taken;                // keys of the copies' paths named so far
    std::set<std::string> takenBases;           // with a prefix: of their file names
    for (size_t i = 0; i < cardPaths.size(); ++i) {
        const std::string &path = cardPaths[i];
        std::string real;
        size_t start = 0;
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', start)) {
            const std::string spelt =
                (real.empty() ? std::string() : real + '/') + path.substr(start, slash - start);
            const auto known = folders.emplace(key(spelt), spelt).first;
            real = known->second;
            start = slash + 1;
        }
        const std::string name =
            prefixed ? cameraPrefix + withoutBlanks(path.substr(start)) : path.substr(start);
        const std::string prefix = real.empty() ? std::string() : real + '/';
        const auto clashes = [&](const std::string &copy, const std::string &base, bool made) {
            const std::string k = key(copy);
            if (taken.count(k) || folders.count(k) || (made && cardKeys.count(k)))
                return true;
            return prefixed &&
                   (takenBases.count(key(base)) || (made && cardBases.count(key(base))));
        };
        std::string base = name;
        std::string copy = prefix + base;
        if (clashes(copy, base, false)) {
            const size_t dot = name.find_last_of('.');
            const bool suffixed = dot != std::string::npos && dot > 0;
            const std::string stem = suffixed ? name.substr(0, dot) : name;
            const std::string suffix = suffixed ? name.substr(dot) : std::string();
            for (int n = 2;; ++n) {
                base = stem + '~' + std::to_string(n) + suffix;
                copy = prefix + base;
                if (!clashes(copy, base, true))
                    break;
            }
        }
        taken.insert(key(copy));
        if (prefixed)
            takenBases.insert(key(base));
        if (copy != path)
            names[i] = copy;
    }
    return names;
}

} // namespace CopyNames
