#pragma once

#include <string>
#include <vector>

// The files of a camera folder that an offload takes: the regular files of the folder and of its
// sub-folders one level down, hidden names and archives (suffix "zip") left out. Paths are
// relative to the folder ("a.jpg", "100CANON/b.jpg"), raw UTF-8 bytes, in a fixed order: the
// entries of the folder by byte-wise name, a sub-folder's files in its place, also by name.
namespace CardFiles {

// -1 when the folder itself cannot be listed; a sub-folder that cannot be listed adds nothing.
int list(const std::string &folder, std::vector<std::string> *relativePaths);

// Number of files list() finds; 0 for an empty path or a folder that cannot be listed.
int count(const std::string &folder);

} // namespace CardFiles
