#include "corearch.h"

#include <cstring>
#include <elf.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <unistd.h>

#if !defined(__x86_64__)
#error "corearch_x86_64.cpp is for x86_64 builds only; the build selects corearch_generic.cpp"
#endif

#include <asm/prctl.h>

namespace CoreArch {

namespace {

// The order of struct user_regs_struct, which gdb expects in NT_PRSTATUS.
enum UserRegister {
    R15, R14, R13, R12, Rbp, Rbx, R11, R10, R9, R8, Rax, Rcx, Rdx, Rsi, Rdi, OrigRax, Rip, Cs,
    Eflags, Rsp, Ss, FsBase, GsBase, Ds, Es, Fs, Gs, UserRegisterCount
};
static_assert(UserRegisterCount * sizeof(uint64_t) == sizeof(user_regs_struct));
static_assert(offsetof(user_regs_struct, rip) == Rip * sizeof(uint64_t));
static_assert(offsetof(user_regs_struct, fs_base) == FsBase * sizeof(uint64_t));
static_assert(offsetof(user_regs_struct, gs) == Gs * sizeof(uint64_t));

// The fxsave image of struct user_fpregs_struct.
constexpr size_t FxsaveSize = 512;
static_assert(sizeof(user_fpregs_struct) == FxsaveSize);

uint64_t segment(int which)
{
    uint16_t value = 0;
    switch (which) {
    case Ds: asm volatile("mov %%ds, %0" : "=r"(value)); break;
    case Es: asm volatile("mov %%es, %0" : "=r"(value)); break;
    case Fs: asm volatile("mov %%fs, %0" : "=r"(value)); break;
    case Gs: asm volatile("mov %%gs, %0" : "=r"(value)); break;
    default: asm volatile("mov %%ss, %0" : "=r"(value)); break;
    }
    return value;
}

} // namespace

bool supported()
{
    return true;
}

uint16_t machine()
{
    return EM_X86_64;
}

size_t generalRegisterCount()
{
    return UserRegisterCount;
}

void generalRegisters(const ucontext_t *context, uint64_t *r)
{
    const greg_t *g = context->uc_mcontext.gregs;
    r[R15] = uint64_t(g[REG_R15]);
    r[R14] = uint64_t(g[REG_R14]);
    r[R13] = uint64_t(g[REG_R13]);
    r[R12] = uint64_t(g[REG_R12]);
    r[Rbp] = uint64_t(g[REG_RBP]);
    r[Rbx] = uint64_t(g[REG_RBX]);
    r[R11] = uint64_t(g[REG_R11]);
    r[R10] = uint64_t(g[REG_R10]);
    r[R9] = uint64_t(g[REG_R9]);
    r[R8] = uint64_t(g[REG_R8]);
    r[Rax] = uint64_t(g[REG_RAX]);
    r[Rcx] = uint64_t(g[REG_RCX]);
    r[Rdx] = uint64_t(g[REG_RDX]);
    r[Rsi] = uint64_t(g[REG_RSI]);
    r[Rdi] = uint64_t(g[REG_RDI]);
    // Not stopped in a system call: gdb must not try to restart one.
    r[OrigRax] = ~uint64_t(0);
    r[Rip] = uint64_t(g[REG_RIP]);
    r[Eflags] = uint64_t(g[REG_EFL]);
    r[Rsp] = uint64_t(g[REG_RSP]);
    // cs, gs and fs selectors share one slot of the signal frame, cs in the low 16 bits.
    r[Cs] = uint64_t(g[REG_CSGSFS]) & 0xffff;
    // The handler runs on the faulting thread, so its own segment state is the thread's.
    r[Ss] = segment(Ss);
    r[Ds] = segment(Ds);
    r[Es] = segment(Es);
    r[Fs] = segment(Fs);
    r[Gs] = segment(Gs);
    unsigned long base = 0;
    r[FsBase] = syscall(SYS_arch_prctl, ARCH_GET_FS, &base) == 0 ? base : 0;
    base = 0;
    r[GsBase] = syscall(SYS_arch_prctl, ARCH_GET_GS, &base) == 0 ? base : 0;
}

size_t floatingPointRegisters(const ucontext_t *context, uint8_t *out, size_t capacity)
{
    const void *state = context->uc_mcontext.fpregs;
    if (!state || capacity < FxsaveSize)
        return 0;
    memcpy(out, state, FxsaveSize);
    return FxsaveSize;
}

} // namespace CoreArch
