// Processor access that differs between the firmware image and the host
// build. One header, two sources chosen by the build: efi/CpuX64.cpp
// (instructions) and host/Cpu.cpp (the firmware double's hooks).
#ifndef ZELM_SUPPORT_CPU_H_
#define ZELM_SUPPORT_CPU_H_

#include <uefi/UefiBaseType.h>

extern "C" {
// Time-stamp counter.
UINT64 CpuReadTsc(VOID);
// 32-bit read of an I/O port.
UINT32 CpuIoRead32(UINT16 Port);
// Disables interrupts; returns whether they were enabled.
BOOLEAN CpuSaveAndDisableInterrupts(VOID);
// Re-enables interrupts when Enabled is TRUE.
VOID CpuRestoreInterrupts(BOOLEAN Enabled);
// Spin-loop hint.
VOID CpuPause(VOID);
}

#endif
