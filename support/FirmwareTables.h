// The firmware tables saved by the image entry. They are plain pointers
// (constant-initialised), set once at start-up.
#ifndef ZELM_SUPPORT_FIRMWARE_TABLES_H_
#define ZELM_SUPPORT_FIRMWARE_TABLES_H_

#include <uefi/UefiSystemTable.h>

extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;

// The VendorTable of the configuration table's entry Guid, or NULL (also
// without a system table).
VOID *FindConfigurationTable(const EFI_GUID *Guid);

#endif
