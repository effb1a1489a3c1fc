#include "jpegscan.h"

#include "byteorder.h"

namespace JpegScan {

size_t scanStart(const unsigned char *data, size_t size)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return 0;
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            return 0;
        const unsigned char marker = data[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA)
            return at;
        if (marker == 0xD9)
            return 0;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const size_t length = ByteOrder::getBe16(data + at + 2);
        if (length < 2 || length > size - at - 2)
            return 0;
        at += 2 + length;
    }
    return 0;
}

} // namespace JpegScan
