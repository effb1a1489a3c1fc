#pragma once

#include <string>
#include <vector>

// The files of a camera folder that an offload takes: the regular files below the folder at any
// depth, hidden names and archives (suffix "zip") left out. Paths are relative to the folder
// ("a.jpg", "100CANON/b.jpg", "DCIM/100V7/c.jpg"), raw UTF-8 bytes, in a fixed order: the entries
// of a folder by byte-wise name, a sub-folder's files in its place, listed the same way.
namespace CardFiles {

// What stands below the folder that is neither a file nor a folder (a symbolic link, a FIFO):
// never copied, but named, as the operator may miss what it points to.
struct NotFile
{
    std::string relative;
    std::string reason;
};

// -1 when the folder itself cannot be listed; a sub-folder that cannot be listed adds nothing.
// notFiles, when given, receives the entries that are neither (hidden names left out).
int list(const std::string &folder, std::vector<std::string> *relativePaths,
         std::vector<NotFile> *notFiles = nullptr);

// list() split by whether a file fits a task entry (folder, "/", relative path and the ending
// zero in 260 bytes): copied are the files an offload copies, skipped those it reports instead.
int listCopyable(const std::string &folder, std::vector<std::string> *copied,
                 std::vector<std::string> *skipped, std::vector<NotFile> *notFiles = nullptr);

// Number of files an offload copies from the folder; 0 for an empty path or a folder that cannot
// be listed.
int count(const std::string &folder);

} // namespace CardFiles
