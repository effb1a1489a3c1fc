#include "exifdecoder.h"

#include "byteorder.h"
#include "exifreader.h"

#include <QByteArray>

#include <cmath>
#include <cstring>

namespace {
// Bytes per component of EXIF formats 1..12.
constexpr int kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr int kFormatAscii = 2;
constexpr int kFormatRational = 5;
constexpr int kFormatSRational = 10;
constexpr int kMaxDepth = 8; // real photos nest three deep (IFD0 -> EXIF -> interoperability)
constexpr int kMaxComment = 999;

// Conversions that a nonsense value (NaN, 1e300, negative offsets) cannot make undefined.
int toInt(double v)
{
    return (v > -2147483648.0 && v < 2147483648.0) ? static_cast<int>(v) : 0;
}

uint32_t toU32(double v)
{
    return (v >= 0 && v < 4294967296.0) ? static_cast<uint32_t>(v) : 0;
}

// mm per unit of the resolution unit tags; 0 for codes outside the table.
double unitFactor(int code)
{
    switch (code) {
    case 1:
    case 2:
        return 1.0;
    case 3:
        return 0.3937007874;
    case 4:
        return 0.03937007874;
    case 5:
        return 0.00003937007874;
    default:
        return 0.0;
    }
}

// Text of an ASCII tag: up to the first NUL, cut at the field size.
QString asciiText(const unsigned char *p, uint64_t count, int limit)
{
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, uint64_t(limit)));
    size_t len = 0;
    while (len < n && p[len] != 0)
        ++len;
    return QString::fromUtf8(reinterpret_cast<const char *>(p), int(len));
}

// Cameras pad make and model with blanks to a fixed width; the tables want the name alone.
QString nameText(const unsigned char *p, uint64_t count, int limit)
{
    QString text = asciiText(p, count, limit);
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}
} // namespace

ExifDecoder::ExifDecoder(const unsigned char *data, size_t size, PhotoInfo *info)
    : m_base(data)
    , m_size(size)
    , m_info(info)
{}

void ExifDecoder::setError(const char *text)
{
    m_info->error = QString::fromLatin1(text);
}

unsigned ExifDecoder::u16(size_t offset) const
{
    return m_motorola ? ByteOrder::getBe16(m_base + offset) : ByteOrder::getLe16(m_base + offset);
}

uint32_t ExifDecoder::u32(size_t offset) const
{
    return m_motorola ? ByteOrder::getBe32(m_base + offset) : ByteOrder::getLe32(m_base + offset);
}

// Caller guarantees kFormatSize[format] bytes at offset.
double ExifDecoder::number(size_t offset, int format) const
{
    switch (format) {
    case 1:
        return m_base[offset];
    case 6:
        return static_cast<signed char>(m_base[offset]);
    case 3:
        return u16(offset);
    case 8:
        return static_cast<int16_t>(u16(offset));
    case 4:
        return u32(offset);
    case 9:
        return static_cast<int32_t>(u32(offset));
    case kFormatRational: {
        const uint32_t den = u32(offset + 4);
        return den == 0 ? 0.0 : double(u32(offset)) / den;
    }
    case kFormatSRational: {
        const int32_t den = static_cast<int32_t>(u32(offset + 4));
        return den == 0 ? 0.0 : double(static_cast<int32_t>(u32(offset))) / den;
    }
    case 11: {
        const uint32_t bits = u32(offset);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    case 12: {
        uint64_t bits = m_motorola ? (uint64_t(u32(offset)) << 32) | u32(offset + 4)
                                   : (uint64_t(u32(offset + 4)) << 32) | u32(offset);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    default:
        return 0.0;
    }
}

bool ExifDecoder::decode()
{
    if (m_size < 6 || std::memcmp(m_base, "Exif", 4) != 0) {
        setError("Incorrect Exif header");
        return false;
    }
    m_base += 6;
    m_size -= 6;
    if (m_size >= 2 && m_base[0] == 'I' && m_base[1] == 'I') {
        m_motorola = false;
    } else if (m_size >= 2 && m_base[0] == 'M' && m_base[1] == 'M') {
        m_motorola = true;
    } else {
        setError("Invalid Exif alignment marker.");
        return false;
    }
    if (m_size < 8 || u16(2) != 0x2A) {
        setError("Invalid Exif start (1)");
        return false;
    }
    const uint32_t first = u32(4);
    if (first < 8 || first > 16) {
        setError("Suspicious offset of first IFD value");
        return false;
    }
    processDirectory(first, 0, false);

    if (m_thumbnailOffset != 0 && m_thumbnailSize != 0 &&
        inBlock(m_thumbnailOffset, m_thumbnailSize)) {
        m_info->thumbnailOffset = m_thumbnailOffset;
        m_info->thumbnailSize = m_thumbnailSize;
    }
    if (m_info->focalPlaneXRes != 0) {
        m_info->ccdWidth = m_largestDimension * m_info->focalPlaneUnits / m_info->focalPlaneXRes;
    }
    return true;
}

template <typename OnEntry> size_t ExifDecoder::forEachEntry(size_t start, OnEntry &&onEntry)
{
    if (!inBlock(start, 2)) {
        setError("Illegally sized directory");
        return 0;
    }
    const unsigned entries = u16(start);
    if (!inBlock(start + 2, uint64_t(entries) * 12)) {
        setError("Illegally sized directory");
        return 0;
    }
    for (unsigned i = 0; i < entries && m_entryBudget-- > 0; ++i) {
        const size_t at = start + 2 + size_t(i) * 12;
        Entry entry{u16(at), u16(at + 2), u32(at + 4), at + 8, 0};
        if (entry.format < 1 || entry.format > 12) {
            setError("Illegal format code in EXIF dir");
            continue;
        }
        entry.byteCount = uint64_t(entry.components) * kFormatSize[entry.format];
        if (entry.byteCount > 4) {
            const uint32_t offset = u32(at + 8);
            if (!inBlock(offset, entry.byteCount)) {
                setError("Illegal pointer offset value in EXIF.");
                return 0;
            }
            entry.valueOffset = offset;
        }
        onEntry(entry);
    }
    const size_t link = start + 2 + size_t(entries) * 12;
    return inBlock(link, 4) ? link : 0;
}

void ExifDecoder::processDirectory(size_t start, int depth, bool thumbnail)
{
    // A directory reached twice (a link back to itself or a parent) would loop for ever.
    if (depth > kMaxDepth || !m_visited.insert(start * 2).second)
        return;
    const size_t link = forEachEntry(start, [&](const Entry &entry) {
        // The directory after the first describes the thumbnail; its size, orientation and
        // resolution must not replace the photo's own.
        if (!thumbnail || entry.tag == 0x0201 || entry.tag == 0x0202)
            processEntry(entry, depth);
    });
    const uint32_t next = link ? u32(link) : 0;
    if (next != 0) {
        if (next >= m_size)
            setError("Illegal subdirectory link");
        else
            processDirectory(next, depth + 1, true);
    }
}

void ExifDecoder::processSubdirectory(uint32_t offset, int depth, bool gps)
{
    if (offset >= m_size) {
        setError("Illegal subdirectory link");
        return;
    }
    if (gps)
        processGpsDirectory(offset);
    else
        processDirectory(offset, depth + 1, false);
}

void ExifDecoder::processEntry(const Entry &entry, int depth)
{
    const unsigned tag = entry.tag;
    const int format = int(entry.format);
    const uint64_t components = entry.components;
    const size_t valueOffset = entry.valueOffset;
    const uint64_t byteCount = entry.byteCount;
    const unsigned char *value = m_base + valueOffset;
    // Text tags hold no number; a zero-count entry has nothing to convert.
    const double v =
        (format == kFormatAscii || components == 0) ? 0.0 : number(valueOffset, format);
    PhotoInfo &info = *m_info;
    switch (tag) {
    case 0x010F:
        info.cameraMake = nameText(value, byteCount, 31);
        break;
    case 0x0110:
        info.cameraModel = nameText(value, byteCount, 39);
        break;
    case 0x9003:
        info.dateTime = asciiText(value, byteCount, 19);
        break;
    case 0x9291:
        info.subSecTime = asciiText(value, byteCount, 9).trimmed();
        break;
    case 0x0112:
        info.orientation = toInt(v);
        if (info.orientation < 1 || info.orientation > 8) {
            setError("Undefined rotation value");
            info.orientation = 0;
        }
        break;
    case 0x9209:
        info.flashUsed = (toInt(v) & 7) ? 1 : 0;
        break;
    case 0x920A:
        info.focalLength = v;
        break;
    case 0x829A:
        info.exposureTime = v;
        break;
    case 0x9201:
        if (info.exposureTime == 0)
            info.exposureTime = 1.0 / std::exp2(v);
        break;
    case 0x829D:
        info.apertureFNumber = v;
        break;
    case 0x9202:
    case 0x9205:
        if (info.apertureFNumber == 0)
            info.apertureFNumber = std::exp2(v / 2);
        break;
    case 0x9206:
        info.distance = v;
        break;
    case 0x9204:
        info.exposureBias = v;
        break;
    case 0x9208:
        info.lightSource = toInt(v);
        break;
    case 0x9207:
        info.meteringMode = toInt(v);
        break;
    case 0x8822:
        info.exposureProgram = toInt(v);
        break;
    case 0x8827:
        info.isoEquivalent = toInt(v);
        if (info.isoEquivalent < 50 && info.isoEquivalent > -10000000)
            info.isoEquivalent *= 200;
        break;
    case 0x9102:
        info.compressionLevel = toInt(v);
        break;
    case 0xA20E:
        info.focalPlaneXRes = v;
        break;
    case 0xA20F:
        info.focalPlaneYRes = v;
        break;
    case 0xA210:
        info.focalPlaneUnits = unitFactor(toInt(v));
        break;
    case 0x011A:
        info.xResolution = v;
        break;
    case 0x011B:
        info.yResolution = v;
        break;
    case 0x0128:
        info.resolutionUnit = unitFactor(toInt(v));
        break;
    case 0x9203:
        info.brightness = v;
        break;
    case 0x9286: {
        size_t n = size_t(byteCount);
        while (n > 0 && value[n - 1] == ' ')
            --n;
        size_t from = 0;
        if (n >= 5 && std::memcmp(value, "ASCII", 5) == 0) {
            from = n; // only blanks after the code: an empty comment
            for (size_t a = 5; a < 10 && a < n; ++a) {
                if (value[a] != 0 && value[a] != ' ') {
                    from = a;
                    break;
                }
            }
        }
        info.comment = asciiText(value + from, n - from, kMaxComment);
        break;
    }
    case 0xA002:
    case 0xA003:
        if (v > m_largestDimension && v < 1e9)
            m_largestDimension = toInt(v);
        break;
    case 0x0201:
        m_thumbnailOffset = toU32(v);
        break;
    case 0x0202:
        m_thumbnailSize = toU32(v);
        break;
    case 0x8769:
    case 0xA005:
        processSubdirectory(toU32(v), depth, false);
        break;
    case 0x0203:
        processSubdirectory(toU32(v), depth, false);
        processSubdirectory(toU32(v), depth, true);
        break;
    case 0x8825:
        processSubdirectory(toU32(v), depth, true);
        break;
    default:
        break;
    }
}

void ExifDecoder::processGpsDirectory(size_t start)
{
    if (!m_visited.insert(start * 2 + 1).second)
        return;
    PhotoInfo &info = *m_info;
    forEachEntry(start, [&](const Entry &entry) {
        const int format = int(entry.format);
        const uint32_t components = entry.components;
        const size_t valueOffset = entry.valueOffset;
        const bool threeNumbers = components >= 3 && format != kFormatAscii;
        const double first =
            (components == 0 || format == kFormatAscii) ? 0.0 : number(valueOffset, int(format));
        auto degrees = [&] {
            const size_t step = size_t(kFormatSize[format]);
            return first + number(valueOffset + step, int(format)) / 60 +
                   number(valueOffset + 2 * step, int(format)) / 3600;
        };
        switch (entry.tag) {
        case 1:
            if (components > 0)
                info.gpsLatitudeRef = char(m_base[valueOffset]);
            break;
        case 2:
            if (threeNumbers) {
                info.gpsLatitude = degrees();
                info.gpsFound = true;
            }
            break;
        case 3:
            if (components > 0)
                info.gpsLongitudeRef = char(m_base[valueOffset]);
            break;
        case 4:
            if (threeNumbers) {
                info.gpsLongitude = degrees();
                info.gpsFound = true;
            }
            break;
        case 5:
            info.gpsAltitudeRef = toInt(first);
            break;
        case 6:
            info.gpsAltitude = first;
            break;
        default:
            break;
        }
    });
    if (info.gpsLatitudeRef == 'S' && info.gpsLatitude > 0)
        info.gpsLatitude = -info.gpsLatitude;
    if (info.gpsLongitudeRef == 'W' && info.gpsLongitude > 0)
        info.gpsLongitude = -info.gpsLongitude;
}
