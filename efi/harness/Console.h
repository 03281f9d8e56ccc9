// Text output of the test application on the firmware console (ConOut,
// which QEMU's -nographic mode carries to its standard output).
#ifndef ZELM_EFI_HARNESS_CONSOLE_H_
#define ZELM_EFI_HARNESS_CONSOLE_H_

#include <uefi/UefiSystemTable.h>

VOID ConsoleInit(EFI_SYSTEM_TABLE *SystemTable);

// A small printf: %a (ASCII string), %u (UINT64, decimal), %x (UINT64,
// hexadecimal), %r (EFI_STATUS by name), %%. "\n" becomes "\r\n".
VOID Print(const CHAR8 *Format, ...);

// The standard name of a status code, or NULL for one without a name.
const CHAR8 *StatusName(EFI_STATUS Status);

#endif
