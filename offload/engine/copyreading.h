#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <xxhash.h>

class CardPrefetch;

// How an offload's copies read back, for a reader beside the offload (the restore's save gate,
// which lets a card be cleared only when every photo on it is saved): what a camera folder's
// checksum list says of each copy, a photo hashed the way the engine hashes it, and a card read
// ahead while its photos are compared. The engine's own pieces stay behind this header.
namespace CopyReading {

// The lines of a camera folder's checksum list as (path, XXH64 in hex), in the list's order.
std::vector<std::pair<std::string, std::string>> checksumLines(const std::string &folder);

// A card read ahead of the photos being compared, by the engine's window, so that the card
// reader does not wait for the comparison. path(index) names file index of count.
class CardReadAhead
{
public:
    CardReadAhead(std::function<const char *(int index)> path, int count);
    ~CardReadAhead(); // stops reading and waits for the thread
    CardReadAhead(const CardReadAhead &) = delete;
    CardReadAhead &operator=(const CardReadAhead &) = delete;

    // File index is compared next (the files before it are done with).
    void reading(int index);

private:
    std::unique_ptr<CardPrefetch> m_prefetch;
};

} // namespace CopyReading

// What one pass over a photo's bytes tells: its XXH64 and, when asked, the XXH64 of its image
// data from the start of scan on, which a tagged copy shares.
class PhotoDigest
{
public:
    explicit PhotoDigest(bool withImageData);
    ~PhotoDigest();
    PhotoDigest(const PhotoDigest &) = delete;
    PhotoDigest &operator=(const PhotoDigest &) = delete;

    void add(const unsigned char *data, size_t size);

    uint64_t hash() const { return XXH64_digest(m_full); }
    qint64 size() const { return m_size; }
    bool hasImageData() const { return m_scan == Found; }
    uint64_t imageDataHash() const { return XXH64_digest(m_tail); }

private:
    enum Scan { Looking, Found, None };
    void giveUp();

    XXH64_state_t *m_full = XXH64_createState();
    XXH64_state_t *m_tail = XXH64_createState();
    qint64 m_size = 0;
    Scan m_scan;
    std::vector<unsigned char> m_head;
};

// Reads a whole file into the digest; false when it cannot be read to its end.
bool digestFile(const QString &path, PhotoDigest *digest);
