#pragma once

#include <cstdint>
#include <string>

// Reads an archive back from the disk, for the engine's verification and for checks.
namespace ZipVerify {

// XXH64 of the last entry's data, read from the disk (cached pages dropped first); -1 when the
// archive does not open, the last entry is not called name, or its CRC does not match.
int lastEntryHash(const std::string &archive, const std::string &name, const char *password,
                  uint64_t *hash);

} // namespace ZipVerify
