#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ArchiveHash;

// Reads an archive's last entry back from the disk for the engine's verification. The entry is
// found and read here rather than through the zip library's reader, which loses the 64-bit
// sizes and offsets of entries beyond 4 GB.
namespace ZipVerify {

// What the central directory says about one entry.
struct Entry
{
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeader = 0;
};

// One entry of a camera folder's archives, as the zip library lists it.
struct Listed
{
    std::string name;
    uint64_t size = 0;
    uint32_t crc = 0;
    int archive = 0; // 1 for pack1.zip
};

// Every entry of the archives prefix + "pack1.zip", "pack2.zip"... in packing order, which is
// the engine's copy order. An archive that does not open as a zip ends the list (*damaged is
// its number, else 0).
void listArchives(const std::string &prefix, std::vector<Listed> *entries, int *damaged);

// Offset of the central directory from the last bytes of an archive (tail holds the final
// length bytes of a file of fileSize bytes). -1 when they hold no valid end record.
int findCentralDirectory(const unsigned char *tail, size_t length, uint64_t fileSize,
                         uint64_t *offset);

// The last entry of a central directory of length bytes; -1 when the records do not parse.
int lastEntry(const unsigned char *directory, size_t length, Entry *entry);

// XXH64 of the last entry's data, read from the disk (cached pages dropped first); -1 when the
// archive does not read, the last entry is not called name, or its CRC or size do not match.
// With a password the hash is XXH3 of the bytes as stored (the encryption header and the
// encrypted data, see ZipEntryWriter::storedHash), and only the header's check byte is decrypted:
// deciphering is a strictly serial chain, four times slower than enciphering, and would make
// the read-back the slowest part of an offload.
// When from sums the archive up to the entry, next receives it summed on to the directory, from
// the same reads from the disk.
int lastEntryHash(const std::string &archive, const std::string &name, const char *password,
                  uint64_t *hash, const ArchiveHash *from = nullptr, ArchiveHash *next = nullptr);

} // namespace ZipVerify
