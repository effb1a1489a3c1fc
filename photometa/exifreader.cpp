#include "exifreader.h"

#include "byteorder.h"
#include "exifdecoder.h"

#include <QDebug>
#include <QFile>

#include <cstring>
#include <vector>

namespace {
constexpr int kMaxSections = 20;
constexpr int kMaxPadding = 7;
constexpr size_t kMaxCommentBytes = 1000;

// Where the section walk takes its bytes from: a file read on demand or a buffer.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Reads exactly n bytes or returns false.
    virtual bool read(unsigned char *dst, size_t n) = 0;
    int byte()
    {
        unsigned char c;
        return read(&c, 1) ? c : -1;
    }
};

// Reads a file only as far as the walk asks, so the image data is never touched.
class FileSource : public ByteSource
{
public:
    explicit FileSource(QFile *file)
        : m_file(file)
    {}
    bool read(unsigned char *dst, size_t n) override
    {
        return m_file->read(reinterpret_cast<char *>(dst), qint64(n)) == qint64(n);
    }

private:
    QFile *m_file;
};

class BufferSource : public ByteSource
{
public:
    BufferSource(const char *data, size_t size)
        : m_data(data)
        , m_size(data ? size : 0)
    {}
    bool read(unsigned char *dst, size_t n) override
    {
        if (n > m_size - m_pos)
            return false;
        std::memcpy(dst, m_data + m_pos, n);
        m_pos += n;
        return true;
    }

private:
    const char *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

bool isFrameMarker(int marker)
{
    // SOF0..SOF15 without DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

void processFrame(const std::vector<unsigned char> &section, PhotoInfo *info, int marker)
{
    if (section.size() < 8) {
        info->error = QStringLiteral("Truncated frame section");
        return;
    }
    info->height = ByteOrder::getBe16(section.data() + 3);
    info->width = ByteOrder::getBe16(section.data() + 5);
    info->isColor = section[7] == 3 ? 1 : 0;
    info->process = marker;
}

// The comment bytes start after the length; CR LF becomes LF and other controls become '?'.
void processComment(const std::vector<unsigned char> &section, PhotoInfo *info)
{
    const size_t end = std::min(section.size(), kMaxCommentBytes + 2);
    QByteArray text;
    for (size_t i = 2; i < end; ++i) {
        const unsigned char c = section[i];
        if (c == '\r' && i + 1 < end && section[i + 1] == '\n')
            continue;
        text.append(c < 0x20 && c != '\n' && c != '\t' ? '?' : char(c));
    }
    info->comment = QString::fromUtf8(text);
}

void walkSections(ByteSource &source, PhotoInfo *info)
{
    unsigned char soi[2];
    if (!source.read(soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) {
        info->error = QStringLiteral("Not a JPEG file");
        return;
    }
    int kept = 0;
    bool haveComment = false;
    while (kept < kMaxSections) {
        int marker = source.byte();
        if (marker != 0xFF) {
            info->error =
                QString::fromLatin1(marker < 0 ? "Premature end of file?" : "invalid marker");
            return;
        }
        int padding = 0;
        do {
            marker = source.byte();
            if (marker < 0) {
                info->error = QStringLiteral("Premature end of file?");
                return;
            }
        } while (marker == 0xFF && ++padding < kMaxPadding);
        if (marker == 0xFF) {
            qDebug("too many padding unsigned chars");
            info->error = QStringLiteral("too many padding unsigned chars!");
            return;
        }

        if (marker == 0xD9) { // end of image, which carries no length
            qDebug("No image in jpeg!");
            info->error = QStringLiteral("No image in jpeg!");
            return;
        }

        unsigned char lengthBytes[2];
        if (!source.read(lengthBytes, 2)) {
            info->error = QStringLiteral("Premature end of file?");
            return;
        }
        const size_t length = ByteOrder::getBe16(lengthBytes);
        if (length < 2) {
            info->error = QStringLiteral("invalid marker");
            return;
        }
        std::vector<unsigned char> section(length);
        section[0] = lengthBytes[0];
        section[1] = lengthBytes[1];
        if (!source.read(section.data() + 2, length - 2)) {
            info->error = QStringLiteral("Premature end of file?");
            return;
        }

        switch (marker) {
        case 0xDA: // start of scan: the header is over, the image data follows
            return;
        case 0xE0:
            break;
        case 0xE1:
            if (length >= 6 && std::memcmp(section.data() + 2, "Exif", 4) == 0) {
                ExifDecoder decoder(section.data() + 2, length - 2, info);
                info->exifFound = decoder.decode() || info->exifFound;
                ++kept;
            }
            break;
        case 0xFE:
            if (!haveComment) {
                processComment(section, info);
                haveComment = true;
                ++kept;
            }
            break;
        default:
            if (isFrameMarker(marker))
                processFrame(section, info, marker);
            ++kept;
            break;
        }
    }
    info->error = QStringLiteral("Too many sections in jpg file");
}
} // namespace

namespace ExifReader {

PhotoInfo readFile(const QString &path)
{
    PhotoInfo info;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        info.error = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
        return info;
    }
    FileSource source(&file);
    walkSections(source, &info);
    return info;
}

PhotoInfo readBuffer(const char *data, size_t size)
{
    PhotoInfo info;
    BufferSource source(data, size);
    walkSections(source, &info);
    return info;
}

} // namespace ExifReader
