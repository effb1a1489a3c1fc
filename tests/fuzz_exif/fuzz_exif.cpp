// libFuzzer entry for the JPEG/EXIF header reader; the replay test calls the same function.
#include <cstddef>
#include <cstdint>

#include "exifreader.h"
#include "photoinfotable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const PhotoInfo info = ExifReader::readBuffer(reinterpret_cast<const char *>(data), size);
    // The table row converts every value the offload writes out; it must cope with any of them.
    PhotoInfoTable::row(QStringLiteral("photo.jpg"), info);
    return 0;
}
