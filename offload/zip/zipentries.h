#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Reads a volume's entries back as the photos they hold, for a reader beside the offload (the
// restore's save gate): the archive's format, its encryption and its compression stay in here.
namespace ZipEntries {

// Takes an entry's plain bytes, chunk by chunk.
using Sink = std::function<void(const unsigned char *data, size_t size)>;

// Walks archive's entries in order. open(index, name) gives a sink for the entry's plain bytes
// (deciphered with password when the entry is encrypted, inflated when deflated), or none to pass
// it over; closed(index, whole) then says whether the entry read to its end with the CRC-32 and
// size its directory records. Stops after the entry in hand when stop() says so. false when the
// archive does not open as a zip.
bool read(const std::string &archive, const std::string &password,
          const std::function<Sink(int index, const std::string &name)> &open,
          const std::function<void(int index, bool whole)> &closed,
          const std::function<bool()> &stop);

} // namespace ZipEntries
