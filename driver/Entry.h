// The driver's image entry point.
#ifndef ZELM_DRIVER_ENTRY_H_
#define ZELM_DRIVER_ENTRY_H_

#include <uefi/UefiSystemTable.h>

extern "C" EFI_STATUS EFIAPI ZelmDriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

#endif
