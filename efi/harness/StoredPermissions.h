// What the driver stores and publishes once it has built the default
// permission store: "_SPP" and "ZelmPermissionCurrent", read back through
// the runtime services as the operating system would.
#ifndef ZELM_EFI_HARNESS_STORED_PERMISSIONS_H_
#define ZELM_EFI_HARNESS_STORED_PERMISSIONS_H_

#include <uefi/UefiSystemTable.h>

#include "efi/harness/CheckLog.h"

// One check for "_SPP" (attributes, size and header of the default store)
// and one for "ZelmPermissionCurrent" (attributes, opening text and the
// closing NUL).
VOID CheckStoredPermissions(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log);

#endif
