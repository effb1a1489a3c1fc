#include "procmaps.h"

namespace ProcMaps {

namespace {

// A cursor over one line; every reader stops at the line's end and reports failure instead of
// running past it.
struct LineReader
{
    char *pos;
    char *end;

    bool hex(uint64_t &value)
    {
        value = 0;
        int digits = 0;
        while (pos < end) {
            const char c = *pos;
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                break;
            if (++digits > 16)
                return false;
            value = (value << 4) | uint64_t(digit);
            ++pos;
        }
        return digits > 0;
    }

    bool decimal(uint64_t &value)
    {
        value = 0;
        int digits = 0;
        while (pos < end && *pos >= '0' && *pos <= '9') {
            if (++digits > 20)
                return false;
            value = value * 10 + uint64_t(*pos - '0');
            ++pos;
        }
        return digits > 0;
    }

    bool expect(char c)
    {
        if (pos >= end || *pos != c)
            return false;
        ++pos;
        return true;
    }

    bool spaces()
    {
        const char *from = pos;
        while (pos < end && *pos == ' ')
            ++pos;
        return pos > from;
    }
};

// "start-end perms offset major:minor inode [path]"
bool parseLine(char *line, char *lineEnd, ProcMapsRegion &region)
{
    LineReader in{line, lineEnd};
    uint64_t device = 0;
    if (!in.hex(region.start) || !in.expect('-') || !in.hex(region.end) || !in.spaces())
        return false;
    if (region.end <= region.start || lineEnd - in.pos < 4)
        return false;
    const char *perms = in.pos;
    region.readable = perms[0] == 'r';
    region.writable = perms[1] == 'w';
    region.executable = perms[2] == 'x';
    region.shared = perms[3] == 's';
    in.pos += 4;
    if (!in.spaces() || !in.hex(region.offset) || !in.spaces())
        return false;
    if (!in.hex(device) || !in.expect(':') || !in.hex(device) || !in.spaces())
        return false;
    if (!in.decimal(region.inode))
        return false;
    in.spaces();
    region.path = in.pos;
    *lineEnd = '\0';
    return true;
}

} // namespace

size_t parse(char *text, size_t length, ProcMapsRegion *regions, size_t capacity)
{
    size_t count = 0;
    char *pos = text;
    char *const end = text + length;
    while (pos < end && count < capacity) {
        char *lineEnd = pos;
        while (lineEnd < end && *lineEnd != '\n')
            ++lineEnd;
        if (lineEnd == end)
            break;
        ProcMapsRegion region;
        if (parseLine(pos, lineEnd, region))
            regions[count++] = region;
        pos = lineEnd + 1;
    }
    return count;
}

} // namespace ProcMaps
