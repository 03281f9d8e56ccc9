#include "support/FirmwareTables.h"

#include "support/Memory.h"

EFI_HANDLE gImageHandle;
EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;

VOID *FindConfigurationTable(const EFI_GUID *Guid) {
  if (gST == nullptr || gST->ConfigurationTable == nullptr) {
    return nullptr;
  }
  for (UINTN i = 0; i < gST->NumberOfTableEntries; i++) {
    if (CompareGuid(&gST->ConfigurationTable[i].VendorGuid, Guid)) {
      return gST->ConfigurationTable[i].VendorTable;
    }
  }
  return nullptr;
}
