#pragma once

#include <cstddef>
#include <cstdint>

// Where the image data of a JPEG begins.
namespace JpegScan {

// Offset of the start-of-scan marker: the metadata segments lie before it, the image data
// after it. 0 when the segments do not lead to one within size.
size_t scanStart(const unsigned char *data, size_t size);

// The same for a file read piece by piece, holding nothing of it: segments are passed over by
// their lengths, however the pieces cut them.
class Finder
{
public:
    enum State { Looking, Found, NotFound };

    // Takes the next size bytes of the file.
    State add(const unsigned char *data, size_t size);
    State state() const { return m_state; }
    // The offset of the start-of-scan marker, once Found.
    uint64_t start() const { return m_start; }

private:
    enum Step { Soi, SoiEnd, Mark, Marker, Length, LengthEnd, Skip };

    State m_state = Looking;
    Step m_step = Soi;
    uint64_t m_at = 0;   // bytes taken so far
    uint64_t m_mark = 0; // where the marker being read begins
    uint64_t m_skip = 0; // segment bytes still to pass over
    unsigned m_length = 0;
    uint64_t m_start = 0;
};

} // namespace JpegScan
