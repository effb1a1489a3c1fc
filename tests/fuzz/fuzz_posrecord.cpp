// Feeds raw POS records of both sizes to the decoder and the table row writers.
#include "postable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (int recordSize : {32, 52}) {
        for (size_t at = 0; at + size_t(recordSize) <= size; at += size_t(recordSize)) {
            vived::PosRecord record;
            if (!vived::PosTable::decode(data + at, recordSize, record))
                continue;
            vived::PosTable::mainRow(record, recordSize);
            std::string row;
            for (int lens = 0; lens < 5; ++lens)
                vived::PosTable::lensRow(record, lens, row);
        }
    }
    return 0;
}
