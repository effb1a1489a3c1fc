#pragma once

#include <cstddef>
#include <cstdint>

// One line of the kernel's memory-map listing (/proc/<pid>/maps), parsed in place so that the
// crash handler can use it without allocating.
struct ProcMapsRegion
{
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t offset = 0;
    uint64_t inode = 0;
    bool readable = false;
    bool writable = false;
    bool executable = false;
    bool shared = false;
    const char *path = nullptr; // "" for anonymous memory; points into the parsed text
};

// Parser of the memory-map listing; async-signal-safe (no allocation, no locale, no libc state).
namespace ProcMaps {

// Parses the complete lines of text[0, length) into regions (at most capacity of them). The
// text is modified: each path is terminated in place. Malformed lines are skipped, and so is a
// last line without its newline (the listing was cut short). Returns the number of regions.
size_t parse(char *text, size_t length, ProcMapsRegion *regions, size_t capacity);

} // namespace ProcMaps
