#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

struct PhotoInfo;

// Decodes the EXIF block of one APP1 section (the bytes after its length) into a PhotoInfo.
// All offsets are checked against the block before use; directory loops are cut.
class ExifDecoder
{
public:
    ExifDecoder(const unsigned char *data, size_t size, PhotoInfo *info);
    // True when the block was recognised and its first directory decoded.
    bool decode();

private:
    bool inBlock(uint64_t offset, uint64_t length) const
    {
        return offset <= m_size && length <= m_size - offset;
    }
    unsigned u16(size_t offset) const;
    uint32_t u32(size_t offset) const;
    double number(size_t offset, int format) const;
    struct Entry
    {
        unsigned tag;
        unsigned format;
        uint32_t components;
        size_t valueOffset; // where the value starts: inside the entry or at its data offset
        uint64_t byteCount;
    };
    // Calls onEntry for each sound entry; returns the offset of the next-directory link, 0 when
    // there is none or the directory is damaged.
    template <typename OnEntry> size_t forEachEntry(size_t start, OnEntry &&onEntry);
    void processDirectory(size_t start, int depth, bool thumbnail);
    void processEntry(const Entry &entry, int depth);
    void processSubdirectory(uint32_t offset, int depth, bool gps);
    void processGpsDirectory(size_t start);
    void setError(const char *text);

    const unsigned char *m_base = nullptr; // the TIFF header: base of every offset
    size_t m_size = 0;
    PhotoInfo *m_info = nullptr;
    bool m_motorola = false;
    int m_largestDimension = 0;
    uint32_t m_thumbnailOffset = 0;
    uint32_t m_thumbnailSize = 0;
    std::set<size_t> m_visited; // directory offsets * 2, + 1 for GPS directories
    int m_entryBudget =
        20000; // real blocks hold a few hundred entries in all; hostile ones chain thousands
};
