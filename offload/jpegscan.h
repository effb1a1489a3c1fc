#pragma once

#include <cstddef>

// Where the image data of a JPEG begins.
namespace JpegScan {

// Offset of the start-of-scan marker: the metadata segments lie before it, the image data
// after it. 0 when the segments do not lead to one within size.
size_t scanStart(const unsigned char *data, size_t size);

} // namespace JpegScan
