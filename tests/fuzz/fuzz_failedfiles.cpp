// Feeds the reader of the failed-files side file its text: failed files are only paths of the
// list, with their index, and every path it takes is written back by the escape it reads.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "copyengine.h"
#include "failedfiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::map<std::string, int> listed = {
        {"DCIM/100MSDCF/DSC00001.JPG", 0}, {"a\\b", 1}, {"line\nbreak\ttab", 2}, {"", 3}};
    const std::string text(reinterpret_cast<const char *>(data), size);
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
