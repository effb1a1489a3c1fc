// libFuzzer target: task files and archive tails.
#include "taskfilefuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return taskFileFuzzOne(data, size);
}
