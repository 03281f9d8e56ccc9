// The firmware tables saved by the image entry. They are plain pointers
// (constant-initialised), set once at start-up.
#ifndef ZELM_SUPPORT_FIRMWARE_TABLES_H_
#define ZELM_SUPPORT_FIRMWARE_TABLES_H_

#include <uefi/UefiSystemTable.h>

extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;

#endif
