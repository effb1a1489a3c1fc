#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <xxhash.h>

// An archive's XXH64 for the checksum list, carried along as each new entry is read back from
// the disk. The read-back drops the entry's cached pages, so summing the finished archive again
// would read all of it from the disk a second time; with this only its directory is read.
class ArchiveHash
{
public:
    ArchiveHash();
    ArchiveHash(const ArchiveHash &other);
    ArchiveHash &operator=(const ArchiveHash &other);

    // Whether the bytes before offset are summed: always so at the start of an archive.
    bool reaches(const std::string &archive, uint64_t offset) const;
    // Takes over from, which reaches offset in archive, to go on summing from there.
    void carry(const ArchiveHash &from, const std::string &archive, uint64_t offset);
    void add(const unsigned char *data, size_t size);
    // The whole archive's hash, reading what follows the summed bytes (the directory) from the
    // disk as the rest was; -1 when this does not sum archive or the file does not read.
    int finish(const std::string &archive, uint64_t *hash) const;

private:
    struct Free
    {
        void operator()(XXH64_state_t *state) const { XXH64_freeState(state); }
    };
    std::unique_ptr<XXH64_state_t, Free> m_state;
    std::string m_archive; // empty: sums nothing yet
    uint64_t m_covered = 0;
};
