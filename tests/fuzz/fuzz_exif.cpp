// libFuzzer entry for the JPEG/EXIF header reader; the replay test calls the same function.
#include <cstddef>
#include <cstdint>

#include <QtGlobal>

#include "exifentries.h"
#include "exifreader.h"
#include "photoinfotable.h"

// Only when fuzzing: the reader's console notes would flood the fuzzer's output.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const PhotoInfo info = ExifReader::readBuffer(reinterpret_cast<const char *>(data), size);
    // The table row converts every value the offload writes out; it must cope with any of them.
    PhotoInfoTable::row(QStringLiteral("photo.jpg"), info);
    // The tagger lists every entry of the same bytes, continuation sections included.
    ExifEntries::read(reinterpret_cast<const char *>(data), size);
    return 0;
}
