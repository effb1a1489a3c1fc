#include "copyreading.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include "cardprefetch.h"
#include "checksumlist.h"
#include "jpegscan.h"
#include "syncio.h"

namespace {

constexpr size_t kChunk = 1 << 20;
// Metadata of a camera JPEG (EXIF, maker notes, thumbnail) ends well before this.
constexpr size_t kHeadLimit = 4 << 20;

} // namespace

namespace CopyReading {

std::vector<std::pair<std::string, std::string>> checksumLines(const std::string &folder)
{
    return ChecksumList::read(folder);
}

CardReadAhead::CardReadAhead(std::function<const char *(int index)> path, int count)
    : m_prefetch(std::make_unique<CardPrefetch>(std::move(path), count, CardPrefetch::Window))
{}

CardReadAhead::~CardReadAhead() = default;

void CardReadAhead::reading(int index)
{
    m_prefetch->reading(index);
}

} // namespace CopyReading

PhotoDigest::PhotoDigest(bool withImageData)
    : m_scan(withImageData ? Looking : None)
{
    XXH64_reset(m_full, 0);
}

PhotoDigest::~PhotoDigest()
{
    XXH64_freeState(m_full);
    XXH64_freeState(m_tail);
}

void PhotoDigest::add(const unsigned char *data, size_t size)
{
    XXH64_update(m_full, data, size);
    m_size += qint64(size);
    if (m_scan == Found) {
        XXH64_update(m_tail, data, size);
        return;
    }
    if (m_scan != Looking)
        return;
    m_head.insert(m_head.end(), data, data + size);
    if (m_head.size() >= 2 && (m_head[0] != 0xFF || m_head[1] != 0xD8)) {
        giveUp();
        return;
    }
    if (const size_t start = JpegScan::scanStart(m_head.data(), m_head.size())) {
        m_scan = Found;
        XXH64_reset(m_tail, 0);
        XXH64_update(m_tail, m_head.data() + start, m_head.size() - start);
        std::vector<unsigned char>().swap(m_head);
    } else if (m_head.size() >= kHeadLimit) {
        giveUp();
    }
}

void PhotoDigest::giveUp()
{
    m_scan = None;
    std::vector<unsigned char>().swap(m_head);
}

bool digestFile(const QString &path, PhotoDigest *digest)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // One buffer per thread: the cards are read side by side.
    thread_local std::vector<unsigned char> chunk(kChunk);
    bool ok = true;
    for (;;) {
        const ssize_t got = SyncIo::readSome(fd, chunk.data(), chunk.size());
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        digest->add(chunk.data(), size_t(got));
    }
    ::close(fd);
    return ok;
}
