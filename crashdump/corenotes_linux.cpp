#include "corenotes.h"

#include <cstring>
#include <elf.h>
#include <sys/procfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "corearch.h"
#include "procmaps.h"
#include "signalsafeio.h"

namespace {

// Layouts of the kernel's 64-bit elf_prstatus and elf_prpsinfo, written field by field.
constexpr size_t PrstatusRegistersOffset = 112;
constexpr size_t PrpsinfoFileNameSize = 16;
constexpr size_t PrpsinfoArgumentsSize = 80;
constexpr size_t PrpsinfoSize = 136;
constexpr size_t SiginfoSize = 128;
static_assert(offsetof(struct elf_prstatus, pr_cursig) == 12);
static_assert(offsetof(struct elf_prstatus, pr_pid) == 32);
static_assert(offsetof(struct elf_prstatus, pr_utime) == 48);
static_assert(offsetof(struct elf_prstatus, pr_reg) == PrstatusRegistersOffset);
static_assert(offsetof(struct elf_prpsinfo, pr_uid) == 16);
static_assert(offsetof(struct elf_prpsinfo, pr_fname) == 40);
static_assert(sizeof(struct elf_prpsinfo) == PrpsinfoSize);
static_assert(sizeof(siginfo_t) == SiginfoSize);

constexpr size_t MaxRegisters = 64;
constexpr size_t FloatingPointCapacity = 4096;
constexpr size_t AuxiliaryCapacity = 4096;

char g_fileName[PrpsinfoFileNameSize];
char g_arguments[PrpsinfoArgumentsSize];
uint64_t g_registers[MaxRegisters];
uint8_t g_floatingPoint[FloatingPointCapacity];
uint8_t g_auxiliary[AuxiliaryCapacity];

int32_t threadId()
{
    return int32_t(syscall(SYS_gettid));
}

int32_t sessionId()
{
    return int32_t(syscall(SYS_getsid, 0));
}

} // namespace

void CoreNotes::prepare()
{
    memset(g_fileName, 0, sizeof(g_fileName));
    memset(g_arguments, 0, sizeof(g_arguments));
    size_t length = SignalSafeIo::readFile("/proc/self/comm", g_fileName, sizeof(g_fileName) - 1);
    while (length > 0 && g_fileName[length - 1] == '\n')
        g_fileName[--length] = '\0';
    // The arguments are separated by NULs; the kernel shows them joined by spaces.
    length = SignalSafeIo::readFile("/proc/self/cmdline", g_arguments, sizeof(g_arguments) - 1);
    while (length > 0 && g_arguments[length - 1] == '\0')
        --length;
    for (size_t i = 0; i < length; ++i) {
        if (g_arguments[i] == '\0')
            g_arguments[i] = ' ';
    }
}

void CoreNotes::begin(uint32_t type)
{
    static const char name[] = "CORE";
    m_noteStart = m_out.size();
    m_out.u32(sizeof(name));
    m_out.u32(0); // descsz, set by end()
    m_out.u32(type);
    m_out.bytes(name, sizeof(name));
    m_out.alignTo(4);
}

void CoreNotes::end()
{
    const size_t descriptorStart = m_noteStart + 12 + 8;
    const size_t descriptorSize = m_out.size() - descriptorStart;
    m_out.alignTo(4);
    if (m_out.overflowed()) {
        m_out.truncate(m_noteStart);
        return;
    }
    m_out.patchU32(m_noteStart + 4, uint32_t(descriptorSize));
}

void CoreNotes::addProcessStatus(const siginfo_t *info, const ucontext_t *context)
{
    const size_t registerCount = CoreArch::generalRegisterCount();
    if (registerCount == 0 || registerCount > MaxRegisters)
        return;
    CoreArch::generalRegisters(context, g_registers);
    m_floatingPointSize =
        CoreArch::floatingPointRegisters(context, g_floatingPoint, sizeof(g_floatingPoint));
    uint64_t blocked = 0;
    memcpy(&blocked, &context->uc_sigmask, sizeof(blocked));

    begin(NT_PRSTATUS);
    m_out.u32(uint32_t(info->si_signo));
    m_out.u32(uint32_t(info->si_code));
    m_out.u32(uint32_t(info->si_errno));
    m_out.u16(uint16_t(info->si_signo)); // pr_cursig
    m_out.zeros(2);
    m_out.u64(0); // pr_sigpend
    m_out.u64(blocked); // pr_sighold
    // gdb takes pr_pid as the thread's id.
    m_out.u32(uint32_t(threadId()));
    m_out.u32(uint32_t(getppid()));
    m_out.u32(uint32_t(getpgrp()));
    m_out.u32(uint32_t(sessionId()));
    m_out.zeros(4 * 16); // user, system and children's times
    for (size_t i = 0; i < registerCount; ++i)
        m_out.u64(g_registers[i]);
    m_out.u32(m_floatingPointSize > 0 ? 1 : 0); // pr_fpvalid
    m_out.zeros(4);
    end();
}

void CoreNotes::addProcessInfo()
{
    begin(NT_PRPSINFO);
    m_out.u8(0); // pr_state: running
    m_out.u8('R');
    m_out.u8(0); // pr_zomb
    m_out.u8(0); // pr_nice
    m_out.zeros(4);
    m_out.u64(0); // pr_flag
    m_out.u32(uint32_t(getuid()));
    m_out.u32(uint32_t(getgid()));
    m_out.u32(uint32_t(getpid()));
    m_out.u32(uint32_t(getppid()));
    m_out.u32(uint32_t(getpgrp()));
    m_out.u32(uint32_t(sessionId()));
    m_out.bytes(g_fileName, sizeof(g_fileName));
    m_out.bytes(g_arguments, sizeof(g_arguments));
    end();
}

void CoreNotes::addSignalInfo(const siginfo_t *info)
{
    // The kernel's siginfo layout is the C library's; it is copied as the process saw it.
    begin(NT_SIGINFO);
    m_out.bytes(info, SiginfoSize);
    end();
}

void CoreNotes::addAuxiliaryVector()
{
    const size_t length = SignalSafeIo::readFile("/proc/self/auxv", g_auxiliary, sizeof(g_auxiliary));
    if (length == 0)
        return;
    begin(NT_AUXV);
    m_out.bytes(g_auxiliary, length);
    end();
}

void CoreNotes::addMappedFiles(const ProcMapsRegion *regions, size_t count, uint64_t pageSize)
{
    // Take as many files as fit: the header, 24 bytes per file and its name.
    size_t files = 0;
    size_t needed = 12 + 8 + 16;
    for (size_t i = 0; i < count; ++i) {
        if (regions[i].path[0] != '/')
            continue;
        const size_t more = 24 + strlen(regions[i].path) + 1;
        if (needed + more + 4 > m_out.remaining())
            break;
        needed += more;
        ++files;
    }
    if (files == 0)
        return;
    begin(NT_FILE);
    m_out.u64(files);
    m_out.u64(pageSize);
    size_t written = 0;
    for (size_t i = 0; i < count && written < files; ++i) {
        if (regions[i].path[0] != '/')
            continue;
        m_out.u64(regions[i].start);
        m_out.u64(regions[i].end);
        m_out.u64(regions[i].offset / pageSize);
        ++written;
    }
    written = 0;
    for (size_t i = 0; i < count && written < files; ++i) {
        if (regions[i].path[0] != '/')
            continue;
        m_out.bytes(regions[i].path, strlen(regions[i].path) + 1);
        ++written;
    }
    end();
}

void CoreNotes::addFloatingPoint()
{
    if (m_floatingPointSize == 0)
        return;
    begin(NT_FPREGSET);
    m_out.bytes(g_floatingPoint, m_floatingPointSize);
    end();
}
