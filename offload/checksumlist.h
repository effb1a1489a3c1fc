#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The checksum list of a camera folder, in the format "xxhsum -c" checks: one line per file,
// the XXH64 hash in hex, two blanks, the path relative to the folder.
namespace ChecksumList {

constexpr const char *FileName = "checksums.xxh64";

std::string hexHash(uint64_t hash);
// XXH64 of a file as the disk holds it (its cached pages are dropped first). -1 on a read error.
int hashFile(const std::string &path, uint64_t *hash);
// Appends one line. Not synced: a line lost with the power is made again from the copy when
// the task is resumed.
int append(const std::string &folder, const std::string &relative, uint64_t hash);
// Rewrites the list without the lines of the given paths (they are about to be written again).
int drop(const std::string &folder, const std::vector<std::string> &relatives);
// Drops every line whose path satisfies the predicate.
int dropIf(const std::string &folder, bool (*predicate)(const std::string &relative));
// Replaces the line of relative (or adds it).
int set(const std::string &folder, const std::string &relative, uint64_t hash);
// Lines as (path, hash text) pairs, for checks.
std::vector<std::pair<std::string, std::string>> read(const std::string &folder);

} // namespace ChecksumList
