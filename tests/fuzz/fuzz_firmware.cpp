// Feeds the firmware image checks and the decryption of the encrypted container.
#include "firmwareimage.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<uint8_t> file(data, data + size);
    vived::FirmwareHeader header;
    if (vived::FirmwareImage::parse(file, header) &&
        header.bodyLength != size - vived::FirmwareImage::kHeaderSize)
        std::abort();
    std::vector<uint8_t> plain;
    if (vived::FirmwareImage::decrypt(file, plain) && plain.size() >= size)
        std::abort(); // padding and header always make the container longer
    return 0;
}
