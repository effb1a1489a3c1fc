#include "elfcorewriter.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "corearch.h"
#include "corenotes.h"
#include "procmaps.h"
#include "signalsafeio.h"

namespace ElfCoreWriter {

namespace {

constexpr size_t MaxRegions = 8192;
constexpr size_t MapsCapacity = 2 * 1024 * 1024;
constexpr size_t NotesCapacity = 2 * 1024 * 1024;
constexpr size_t HeaderSize = 64;
constexpr size_t ProgramHeaderSize = 56;
constexpr size_t HeadersCapacity = HeaderSize + ProgramHeaderSize * (MaxRegions + 1);
static_assert(sizeof(Elf64_Ehdr) == HeaderSize && sizeof(Elf64_Phdr) == ProgramHeaderSize);
// e_phnum is 16 bits wide and counts the note segment too.
static_assert(MaxRegions + 1 < 0xffff);

// Everything lives here rather than on the stack: the handler may run on a small alternate
// stack, or on the remaining stack of a worker thread.
char g_maps[MapsCapacity];
ProcMapsRegion g_regions[MaxRegions];
uint64_t g_fileSize[MaxRegions];
uint8_t g_notes[NotesCapacity];
uint8_t g_headers[HeadersCapacity];
uint8_t g_zeros[64 * 1024];
uint64_t g_pageSize = 4096;

bool startsWith(const char *text, const char *prefix)
{
    while (*prefix) {
        if (*text++ != *prefix++)
            return false;
    }
    return true;
}

bool equals(const char *a, const char *b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool endsWith(const char *text, const char *suffix)
{
    const size_t length = strlen(text);
    const size_t suffixLength = strlen(suffix);
    return length >= suffixLength && equals(text + length - suffixLength, suffix);
}

bool writeZeros(int fd, uint64_t size)
{
    while (size > 0) {
        const size_t chunk = size < sizeof(g_zeros) ? size_t(size) : sizeof(g_zeros);
        if (!SignalSafeIo::writeAll(fd, g_zeros, chunk))
            return false;
        size -= chunk;
    }
    return true;
}

// Copies process memory to the file. write() fails with EFAULT where a page cannot be read
// (unmapped since the listing was taken, or a mapped file cut short); such pages become zeros so
// that every later segment stays at its recorded offset.
bool writeMemory(int fd, uint64_t address, uint64_t size)
{
    constexpr uint64_t MaxChunk = 1u << 30;
    while (size > 0) {
        const size_t chunk = size_t(size < MaxChunk ? size : MaxChunk);
        // The raw system call: a sanitizer's write() would check the bytes it cannot see (its
        // own shadow memory among them) and end the process before the dump is complete.
        const long written = syscall(SYS_write, fd, address, chunk);
        if (written > 0) {
            address += uint64_t(written);
            size -= uint64_t(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EFAULT) {
            uint64_t gap = g_pageSize - address % g_pageSize;
            if (gap > size)
                gap = size;
            if (!writeZeros(fd, gap))
                return false;
            address += gap;
            size -= gap;
            continue;
        }
        return false;
    }
    return true;
}

bool isFileBacked(const ProcMapsRegion &region)
{
    return region.path[0] == '/';
}

bool isDeviceMemory(const ProcMapsRegion &region)
{
    // Reading a device mapping can have side effects or block; shared memory files are plain.
    return startsWith(region.path, "/dev/") && !startsWith(region.path, "/dev/shm/")
           && !startsWith(region.path, "/dev/zero");
}

// How much of a region goes into the file. Read-only file mappings are left to gdb, which
// reads them from the files named in NT_FILE; what the process changed is dumped.
uint64_t contentSize(size_t index, size_t count)
{
    const ProcMapsRegion &region = g_regions[index];
    const uint64_t size = region.end - region.start;
    // Beyond this a writable region is an address-space reservation (the shadow memory of the
    // sanitizer builds is terabytes), not data worth a dump that size.
    constexpr uint64_t MaxContent = uint64_t(64) << 30;
    if (isDeviceMemory(region) || size > MaxContent)
        return 0;
    if (region.writable || !isFileBacked(region) || endsWith(region.path, " (deleted)"))
        return size;
    // Relocated data that was made read-only afterwards (the dynamic section among it, which
    // gdb needs to find the shared libraries) sits right before the object's writable data.
    if (index + 1 < count) {
        const ProcMapsRegion &next = g_regions[index + 1];
        if (!region.executable && !region.shared && next.writable && next.start == region.end
            && equals(next.path, region.path))
            return size;
    }
    // The first page holds an object's ELF header and build id.
    if (region.offset == 0)
        return size < g_pageSize ? size : g_pageSize;
    return 0;
}

bool isDumped(const ProcMapsRegion &region)
{
    return region.readable && !equals(region.path, "[vvar]") && !equals(region.path, "[vsyscall]")
           && !equals(region.path, "[vvar_vclock]");
}

size_t collectRegions()
{
    const size_t length = SignalSafeIo::readFile("/proc/self/maps", g_maps, sizeof(g_maps));
    const size_t parsed = ProcMaps::parse(g_maps, length, g_regions, MaxRegions);
    size_t kept = 0;
    for (size_t i = 0; i < parsed; ++i) {
        if (isDumped(g_regions[i]))
            g_regions[kept++] = g_regions[i];
    }
    for (size_t i = 0; i < kept; ++i)
        g_fileSize[i] = contentSize(i, kept);
    return kept;
}

size_t writeNotes(const siginfo_t *info, const ucontext_t *context, size_t count)
{
    CoreNotes notes(g_notes, sizeof(g_notes));
    notes.addProcessStatus(info, context);
    notes.addProcessInfo();
    notes.addSignalInfo(info);
    notes.addAuxiliaryVector();
    notes.addMappedFiles(g_regions, count, g_pageSize);
    notes.addFloatingPoint();
    return notes.size();
}

size_t writeHeaders(size_t count, size_t notesSize, uint64_t dataOffset)
{
    ByteWriter out(g_headers, sizeof(g_headers));
    const uint8_t ident[EI_NIDENT] = {ELFMAG0, ELFMAG1, ELFMAG2, ELFMAG3, ELFCLASS64,
                                      ELFDATA2LSB, EV_CURRENT, ELFOSABI_NONE};
    out.bytes(ident, sizeof(ident));
    out.u16(ET_CORE);
    out.u16(CoreArch::machine());
    out.u32(EV_CURRENT);
    out.u64(0); // e_entry
    out.u64(HeaderSize); // e_phoff
    out.u64(0); // e_shoff
    out.u32(0); // e_flags
    out.u16(HeaderSize);
    out.u16(ProgramHeaderSize);
    out.u16(uint16_t(count + 1));
    out.u16(0); // e_shentsize
    out.u16(0); // e_shnum
    out.u16(0); // e_shstrndx

    const uint64_t notesOffset = HeaderSize + ProgramHeaderSize * (count + 1);
    out.u32(PT_NOTE);
    out.u32(0);
    out.u64(notesOffset);
    out.u64(0);
    out.u64(0);
    out.u64(notesSize);
    out.u64(0);
    out.u64(4);

    uint64_t offset = dataOffset;
    for (size_t i = 0; i < count; ++i) {
        const ProcMapsRegion &region = g_regions[i];
        out.u32(PT_LOAD);
        out.u32((region.readable ? PF_R : 0) | (region.writable ? PF_W : 0)
                | (region.executable ? PF_X : 0));
        out.u64(offset);
        out.u64(region.start);
        out.u64(0);
        out.u64(g_fileSize[i]);
        out.u64(region.end - region.start);
        out.u64(g_pageSize);
        offset += g_fileSize[i];
    }
    return out.size();
}

} // namespace

void prepare()
{
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize > 0)
        g_pageSize = uint64_t(pageSize);
    CoreNotes::prepare();
}

bool write(int fd, const siginfo_t *info, const ucontext_t *context)
{
    if (!CoreArch::supported())
        return false;
    const size_t count = collectRegions();
    const size_t notesSize = writeNotes(info, context, count);
    const uint64_t notesOffset = HeaderSize + ProgramHeaderSize * (count + 1);
    const uint64_t dataOffset = (notesOffset + notesSize + g_pageSize - 1) / g_pageSize * g_pageSize;
    const size_t headersSize = writeHeaders(count, notesSize, dataOffset);
    if (!SignalSafeIo::writeAll(fd, g_headers, headersSize) || !SignalSafeIo::writeAll(fd, g_notes, notesSize)
        || !writeZeros(fd, dataOffset - notesOffset - notesSize))
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (g_fileSize[i] > 0 && !writeMemory(fd, g_regions[i].start, g_fileSize[i]))
            return false;
    }
    return true;
}

} // namespace ElfCoreWriter
