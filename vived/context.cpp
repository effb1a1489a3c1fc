// The calls that only read the device context; they need no transport.
#include "v7k.h"

#include <cstring>

namespace {
v7k_context *ctx(void *device)
{
    return static_cast<v7k_context *>(device);
}
} // namespace

extern "C" {

int v7k_get_mode(void *device)
{
    return device ? ctx(device)->workParam.mode : 0;
}

int v7k_get_fixtime(void *device)
{
    return device ? ctx(device)->workParam.timeInterval : 0;
}

uint32_t v7k_get_index(void *device)
{
    return device ? ctx(device)->receiveCounter : 0;
}

WorkParam v7k_get_work_param(void *device)
{
    WorkParam p;
    std::memset(&p, 0, sizeof p);
    if (device)
        std::memcpy(&p, &ctx(device)->workParam, sizeof p);
    return p;
}

int v7k_get_valid(void *device)
{
    // The camera never sends mode 0; a zero mode means no work parameters have arrived yet.
    return device && ctx(device)->workParam.mode != 0 ? 1 : 0;
}

} // extern "C"
