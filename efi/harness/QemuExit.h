// Ends the QEMU run with the harness's verdict.
#ifndef ZELM_EFI_HARNESS_QEMU_EXIT_H_
#define ZELM_EFI_HARNESS_QEMU_EXIT_H_

#include <uefi/UefiSystemTable.h>

// Values written to QEMU's isa-debug-exit device at port 0xF4; QEMU exits
// with status (value << 1) | 1, so 33 means passed and 35 failed.
#define HARNESS_EXIT_PASSED 0x10u
#define HARNESS_EXIT_FAILED 0x11u

// Writes the verdict to the debug-exit device; on a machine without one,
// shuts down through ResetSystem instead.
[[noreturn]] VOID ExitQemu(EFI_SYSTEM_TABLE *SystemTable, BOOLEAN Passed);

#endif
