#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ucontext.h>

#include "bytewriter.h"

struct ProcMapsRegion;

// The note segment of a core file (registers, process, signal, auxiliary vector, mapped files),
// built into a caller's buffer in the order the kernel writes it. A note that does not fit is
// left out whole. Async-signal-safe except prepare().
class CoreNotes
{
public:
    CoreNotes(uint8_t *buffer, size_t capacity) : m_out(buffer, capacity) {}

    // Reads the command line for NT_PRPSINFO; called at start-up.
    static void prepare();

    // NT_PRSTATUS of the calling (faulting) thread; gdb selects the first one it finds.
    void addProcessStatus(const siginfo_t *info, const ucontext_t *context);
    void addProcessInfo();
    void addSignalInfo(const siginfo_t *info);
    void addAuxiliaryVector();
    // NT_FILE: the file-backed regions, so that gdb finds the program and its libraries.
    void addMappedFiles(const ProcMapsRegion *regions, size_t count, uint64_t pageSize);
    // NT_FPREGSET of the thread of addProcessStatus().
    void addFloatingPoint();

    size_t size() const { return m_out.size(); }

private:
    void begin(uint32_t type);
    void end();

    ByteWriter m_out;
    size_t m_noteStart = 0;
    size_t m_floatingPointSize = 0;
};
