#include "zipcrypto.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <random>

#include <zlib.h>

namespace {
const z_crc_t *crcTable()
{
    static const z_crc_t *const table = get_crc_table();
    return table;
}

// The cipher's three keys, kept in registers for a whole buffer: every byte depends on the one
// before it, so the loop is only as fast as one step's chain of table reads and a multiply.
struct Keys
{
    uint32_t k0, k1, k2;
    const z_crc_t *table;

    uint8_t streamByte() const
    {
        const uint32_t t = (k2 & 0xFFFF) | 2;
        return uint8_t((t * (t ^ 1)) >> 8);
    }
    void update(uint8_t plain)
    {
        k0 = uint32_t(table[(k0 ^ plain) & 0xFF]) ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = uint32_t(table[(k2 ^ (k1 >> 24)) & 0xFF]) ^ (k2 >> 8);
    }
};
} // namespace

ZipCrypto::ZipCrypto(const char *password)
{
    Keys keys{m_keys[0], m_keys[1], m_keys[2], crcTable()};
    for (const char *p = password; *p; ++p)
        keys.update(uint8_t(*p));
    m_keys[0] = keys.k0;
    m_keys[1] = keys.k1;
    m_keys[2] = keys.k2;
}

void ZipCrypto::header(uint32_t crc, unsigned char *out)
{
    std::random_device random;
    for (size_t i = 0; i < HeaderSize - 2; ++i)
        out[i] = uint8_t(random());
    out[HeaderSize - 2] = uint8_t(crc >> 16);
    out[HeaderSize - 1] = uint8_t(crc >> 24);
    encrypt(out, HeaderSize);
}

template <bool Encrypt> void ZipCrypto::run(unsigned char *data, size_t size)
{
    Keys keys{m_keys[0], m_keys[1], m_keys[2], crcTable()};
    for (size_t i = 0; i < size; ++i) {
        const uint8_t stream = keys.streamByte();
        const uint8_t plain = Encrypt ? data[i] : uint8_t(data[i] ^ stream);
        data[i] = Encrypt ? uint8_t(plain ^ stream) : plain;
        keys.update(plain);
    }
    m_keys[0] = keys.k0;
    m_keys[1] = keys.k1;
    m_keys[2] = keys.k2;
}

namespace {
// Encrypts two independent streams in one loop. Each stream is a chain of table reads and a
// multiply in which every byte waits for the one before; two chains side by side keep the
// processor's units busy where one leaves them waiting, about one and a half times the bytes
// per second of a lone stream.
void encryptTwo(Keys *a, unsigned char *da, Keys *b, unsigned char *db, size_t size)
{
    Keys x = *a, y = *b;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t sx = x.streamByte(), sy = y.streamByte();
        const uint8_t px = da[i], py = db[i];
        da[i] = uint8_t(px ^ sx);
        db[i] = uint8_t(py ^ sy);
        x.update(px);
        y.update(py);
    }
    *a = x;
    *b = y;
}

void encryptOne(Keys *k, unsigned char *data, size_t size)
{
    Keys x = *k;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t stream = x.streamByte();
        const uint8_t plain = data[i];
        data[i] = uint8_t(plain ^ stream);
        x.update(plain);
    }
    *k = x;
}

// Where the cameras' engine threads meet to encrypt in pairs. A thread with data posts it and
// works on it alone, a slice at a time; a second thread that arrives meanwhile claims it, the
// first parks at its next slice boundary, and the second runs both streams together. Nobody
// waits for a partner that may never come: a lone camera costs one lock per slice.
struct Job
{
    Keys keys;
    unsigned char *data;
    size_t left;
    bool claimed = false;
    bool parked = false;
    bool done = false;
};

struct Meeting
{
    std::mutex mutex;
    std::condition_variable changed;
    Job *posted = nullptr;
};

Meeting &meeting()
{
    static Meeting m;
    return m;
}

constexpr size_t Slice = 16 * 1024;
// Below this, a pairing's locking costs more than it can save.
constexpr size_t PairFrom = 4 * Slice;

void encryptMeeting(Keys *keys, unsigned char *data, size_t size)
{
    Meeting &m = meeting();
    Job mine{*keys, data, size};
    std::unique_lock<std::mutex> lock(m.mutex);
    // Paired with whoever is posted, as long as there is someone and something of mine is left.
    while (m.posted && mine.left > 0) {
        Job *other = m.posted;
        m.posted = nullptr;
        other->claimed = true;
        m.changed.wait(lock, [other] { return other->parked; });
        lock.unlock();
        const size_t both = std::min(other->left, mine.left);
        encryptTwo(&other->keys, other->data, &mine.keys, mine.data, both);
        encryptOne(&other->keys, other->data + both, other->left - both);
        mine.data += both;
        mine.left -= both;
        lock.lock();
        other->done = true;
        m.changed.notify_all();
    }
    if (mine.left == 0) {
        *keys = mine.keys;
        return;
    }
    // Alone: posted for the next one to come, worked on a slice at a time meanwhile.
    m.posted = &mine;
    lock.unlock();
    for (;;) {
        const size_t n = std::min(Slice, mine.left);
        encryptOne(&mine.keys, mine.data, n);
        mine.data += n;
        mine.left -= n;
        lock.lock();
        if (mine.claimed) {
            mine.parked = true;
            m.changed.notify_all();
            m.changed.wait(lock, [&mine] { return mine.done; });
            break;
        }
        if (mine.left == 0) {
            m.posted = nullptr;
            break;
        }
        lock.unlock();
    }
    *keys = mine.keys;
}
} // namespace

void ZipCrypto::encrypt(unsigned char *data, size_t size)
{
    if (size < PairFrom) {
        run<true>(data, size);
        return;
    }
    Keys keys{m_keys[0], m_keys[1], m_keys[2], crcTable()};
    encryptMeeting(&keys, data, size);
    m_keys[0] = keys.k0;
    m_keys[1] = keys.k1;
    m_keys[2] = keys.k2;
}

void ZipCrypto::decrypt(unsigned char *data, size_t size)
{
    run<false>(data, size);
}
