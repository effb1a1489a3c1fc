#pragma once

#include <csignal>
#include <ucontext.h>

// Writes an ELF core file (the platform's own post-mortem format) of the running process from
// inside a fatal-signal handler: the faulting thread's registers, the process's writable memory
// and the list of mapped files, so that gdb shows the crash with symbols.
namespace ElfCoreWriter {

// Captures what must not be looked up inside a signal handler (page size, command line).
void prepare();

// Writes the core to fd. Async-signal-safe, but uses static storage: one call at a time.
// False when the processor is not supported or a write to fd failed (for example disk full).
bool write(int fd, const siginfo_t *info, const ucontext_t *context);

} // namespace ElfCoreWriter
