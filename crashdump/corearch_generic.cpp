#include "corearch.h"

// Architectures without a register mapping: the crash handler reports that it cannot write a
// dump and the process dies by its signal as it would without the handler.
namespace CoreArch {

bool supported()
{
    return false;
}

uint16_t machine()
{
    return 0;
}

size_t generalRegisterCount()
{
    return 0;
}

void generalRegisters(const ucontext_t *, uint64_t *)
{
}

size_t floatingPointRegisters(const ucontext_t *, uint8_t *, size_t)
{
    return 0;
}

} // namespace CoreArch
