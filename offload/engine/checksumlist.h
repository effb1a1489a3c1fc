#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The checksum list of a camera folder, in the format "xxhsum -c" checks: one line per file,
// the XXH64 hash in hex, two blanks, the path relative to the folder. A path holding a line
// break cannot stand in a line as it is: such a line starts with a backslash and its path has
// "\\" for a backslash and "\n" for a line break, the escaping checksum readers share; every
// other path is written as it is, which every version of the checker reads literally.
namespace ChecksumList {

// A hidden name: card files with hidden names are never copied (CardFiles), so no copy can take
// the list's place, at the top of the camera folder or anywhere else.
constexpr const char *FileName = ".checksums.xxh64";

// The list's line of one file, with its line break.
std::string line(const std::string &hash, const std::string &relative);
// The path and hash of one line without its line break; false for a line that is not one.
bool parse(const std::string &line, std::string *relative, std::string *hexHash);

std::string hexHash(uint64_t hash);
// XXH64 of a file as the disk holds it (its cached pages are dropped first). -1 on a read error.
// fromCache keeps the cached pages, for a file whose every part was read back from the disk
// already (an archive whose entries were verified one by one).
int hashFile(const std::string &path, uint64_t *hash, bool fromCache = false);
// Appends one line. Not synced: a line lost with the power is made again from the copy when
// the task is resumed.
int append(const std::string &folder, const std::string &relative, uint64_t hash);
// Appends the lines of several copies (path, hash) with one write.
int append(const std::string &folder,
           const std::vector<std::pair<std::string, uint64_t>> &copies);
// Rewrites the list without the lines of the given paths (they are about to be written again).
int drop(const std::string &folder, const std::vector<std::string> &relatives);
// Drops every line whose path satisfies the predicate.
int dropIf(const std::string &folder, bool (*predicate)(const std::string &relative));
// Replaces the line of relative (or adds it).
int set(const std::string &folder, const std::string &relative, uint64_t hash);
// Lines as (path, hash text) pairs, for checks.
std::vector<std::pair<std::string, std::string>> read(const std::string &folder);
// The same from the list's text.
std::vector<std::pair<std::string, std::string>> parseList(const std::string &content);

} // namespace ChecksumList
