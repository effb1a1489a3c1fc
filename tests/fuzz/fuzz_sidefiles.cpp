// Feeds the engine's side-file readers their text. The checksum list: every line it takes has
// a 16-character hash and a path, and a line written for that path with a real hash reads back
// as the same path. The failed-files side file: failed files are only paths of the list, with
// their index, and every path it takes is written back by the escape it reads.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "checksumlist.h"
#include "copyengine.h"
#include "failedfiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (const auto &[relative, hash] : ChecksumList::parseList(text)) {
        if (hash.size() != 16 || relative.empty())
            __builtin_trap();
        const auto again = ChecksumList::parseList(ChecksumList::line("0123456789abcdef", relative));
        if (again.size() != 1 || again[0].first != relative || again[0].second != "0123456789abcdef")
            __builtin_trap();
    }

    static const std::map<std::string, int> listed = {
        {"DCIM/100MSDCF/DSC00001.JPG", 0}, {"a\\b", 1}, {"line\nbreak\ttab", 2}, {"", 3}};
    std::vector<FileProblem> failed;
    std::vector<FileProblem> skipped;
    const int result = FailedFiles::parse(text, listed, &failed, &skipped);
    if (result == 0 && !text.empty() && text.back() != '\n')
        __builtin_trap();
    for (const FileProblem &p : failed) {
        const auto found = listed.find(p.relative);
        if (found == listed.end() || found->second != p.index)
            __builtin_trap();
    }
    for (const std::vector<FileProblem> *list : {&failed, &skipped}) {
        for (const FileProblem &p : *list) {
            std::string back;
            if (!FailedFiles::unescape(FailedFiles::escape(p.relative), &back) || back != p.relative)
                __builtin_trap();
        }
    }
    return 0;
}
