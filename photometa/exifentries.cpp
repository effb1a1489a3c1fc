#include "exifentries.h"

#include "byteorder.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>

namespace {
// Bytes per component of EXIF formats 1..12.
constexpr int kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr int kMaxDepth = 8;
constexpr int kThumbnailOffset = 0x0201;
constexpr int kThumbnailLength = 0x0202;

// Values that are positions in the block, not facts about the photo: rewriting the block moves
// them. The directories behind the links are listed entry by entry instead.
bool isLayout(uint16_t tag)
{
    return tag == 0x8769 || tag == 0x8825 || tag == 0xA005 || tag == 0x014A || tag == 0x0111 ||
           tag == 0x0144;
}

class Walker
{
public:
    Walker(const QByteArray &tiff, std::vector<ExifEntries::Entry> *out)
        : m_p(reinterpret_cast<const uint8_t *>(tiff.constData()))
        , m_size(size_t(tiff.size()))
        , m_out(out)
    {}

    void walk()
    {
        if (m_size < 8 || !(std::memcmp(m_p, "II", 2) == 0 || std::memcmp(m_p, "MM", 2) == 0))
            return;
        m_motorola = m_p[0] == 'M';
        if (u16(2) != 0x2A)
            return;
        // IFD0 links on to the thumbnail's directory and, rarely, further images.
        static const char *const chain[] = {"Image", "Thumbnail", "Image2", "Image3"};
        uint32_t next = u32(4);
        for (const char *group : chain) {
            if (next == 0)
                break;
            next = directory(next, group, 0);
        }
    }

private:
    bool inBlock(uint64_t offset, uint64_t length) const
    {
        return offset <= m_size && length <= m_size - offset;
    }
    uint16_t u16(size_t at) const
    {
        return m_motorola ? ByteOrder::getBe16(m_p + at) : ByteOrder::getLe16(m_p + at);
    }
    uint32_t u32(size_t at) const
    {
        return m_motorola ? ByteOrder::getBe32(m_p + at) : ByteOrder::getLe32(m_p + at);
    }

    // Lists the directory at offset and the directories it links to; returns its link to the
    // next directory of its chain, 0 when there is none or it cannot be read.
    uint32_t directory(uint32_t offset, const std::string &group, int depth)
    {
        if (depth > kMaxDepth || !inBlock(offset, 2) || !m_visited.insert(offset).second)
            return 0;
        const unsigned count = u16(offset);
        size_t thumbnailEntry = SIZE_MAX;
        uint32_t thumbnailOffset = 0, thumbnailLength = 0;
        for (unsigned i = 0; i < count; ++i) {
            const size_t at = offset + 2 + size_t(i) * 12;
            if (!inBlock(at, 12) || --m_budget < 0)
                return 0;
            const uint16_t tag = u16(at);
            const uint16_t format = u16(at + 2);
            const uint32_t components = u32(at + 4);
            if (format < 1 || format > 12)
                continue;
            const uint64_t bytes = uint64_t(components) * uint64_t(kFormatSize[format]);
            const size_t valueAt = bytes <= 4 ? at + 8 : u32(at + 8);
            if (!inBlock(valueAt, bytes))
                continue;
            const uint32_t number = format == 3 ? u16(valueAt) : format == 4 ? u32(valueAt) : 0;
            if (tag == 0x8769)
                directory(number, "Photo", depth + 1);
            else if (tag == 0x8825)
                directory(number, "GPSInfo", depth + 1);
            else if (tag == 0xA005)
                directory(number, "Iop", depth + 1);
            else if (tag == 0x014A && format == 4)
                for (uint32_t k = 0; k < components && k < 9; ++k)
                    directory(u32(valueAt + 4 * k), "SubImage" + std::to_string(k + 1), depth + 1);
            if (isLayout(tag))
                continue;
            if (tag == kThumbnailOffset) {
                thumbnailEntry = m_out->size();
                thumbnailOffset = number;
            } else if (tag == kThumbnailLength) {
                thumbnailLength = number;
            }
            ExifEntries::Entry entry{
                group, tag, format, components,
                QByteArray(reinterpret_cast<const char *>(m_p + valueAt), qsizetype(bytes))};
            const int unit = format == 5 || format == 10 ? 4 : kFormatSize[format];
            if (!m_motorola && unit > 1)
                for (qsizetype k = 0; k + unit <= entry.value.size(); k += unit)
                    std::reverse(entry.value.begin() + k, entry.value.begin() + k + unit);
            m_out->push_back(std::move(entry));
        }
        if (thumbnailEntry != SIZE_MAX) {
            if (inBlock(thumbnailOffset, thumbnailLength))
                (*m_out)[thumbnailEntry].value = QByteArray(
                    reinterpret_cast<const char *>(m_p + thumbnailOffset), thumbnailLength);
            else
                m_out->erase(m_out->begin() + qsizetype(thumbnailEntry));
        }
        const size_t link = offset + 2 + size_t(count) * 12;
        return inBlock(link, 4) ? u32(link) : 0;
    }

    const uint8_t *m_p;
    size_t m_size;
    std::vector<ExifEntries::Entry> *m_out;
    bool m_motorola = false;
    std::set<uint32_t> m_visited;
    int m_budget = 20000; // real blocks hold a few hundred entries; hostile ones chain thousands
};
} // namespace

namespace ExifEntries {

bool Entry::operator<(const Entry &o) const
{
    return std::tie(group, tag, format, count, value) <
           std::tie(o.group, o.tag, o.format, o.count, o.value);
}

bool Entry::operator==(const Entry &o) const
{
    return group == o.group && tag == o.tag && format == o.format && count == o.count &&
           value == o.value;
}

Block read(const char *jpeg, size_t size)
{
    const auto *p = reinterpret_cast<const uint8_t *>(jpeg);
    Block block;
    if (size < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return block;
    // A block longer than one section can hold goes on in the next "Exif" sections, each with
    // its own header; the offsets count from the first section's TIFF header throughout.
    QByteArray tiff;
    size_t pos = 2;
    while (pos + 4 <= size && p[pos] == 0xFF) {
        const uint8_t marker = p[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break;
        const size_t length = ByteOrder::getBe16(p + pos + 2);
        if (length < 2 || pos + 2 + length > size)
            break;
        if (marker == 0xE1 && length >= 8 && std::memcmp(p + pos + 4, "Exif", 4) == 0) {
            tiff.append(reinterpret_cast<const char *>(p + pos + 10), qsizetype(length - 8));
            ++block.sections;
        }
        pos += 2 + length;
    }
    Walker(tiff, &block.entries).walk();
    std::sort(block.entries.begin(), block.entries.end());
    return block;
}

} // namespace ExifEntries
