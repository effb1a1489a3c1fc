#pragma once

#include <cstddef>
#include <cstdint>
#include <ucontext.h>

// What an ELF core file needs from the processor architecture: the machine code, the register
// set in the kernel's ptrace order and the floating-point state. One implementation per
// architecture, chosen by the build; the rest of the core writer is architecture-neutral.
namespace CoreArch {

// False where no implementation exists: the crash handler then writes no dump.
bool supported();

// The ELF e_machine value.
uint16_t machine();

// Number of 64-bit general registers in NT_PRSTATUS (the kernel's user_regs_struct).
size_t generalRegisterCount();

// Fills registers[0, generalRegisterCount()) from the signal context of the faulting thread.
// Async-signal-safe.
void generalRegisters(const ucontext_t *context, uint64_t *registers);

// Copies the NT_FPREGSET descriptor into out (at most capacity bytes); returns its size, 0 when
// the context carries no floating-point state. Async-signal-safe.
size_t floatingPointRegisters(const ucontext_t *context, uint8_t *out, size_t capacity);

} // namespace CoreArch
