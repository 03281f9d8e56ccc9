// The driver's permission path with the harness as the authentication
// component: no store before the component appears, the default store once
// it does, and Set / Get decided by the identity behind a token.
#ifndef ZELM_EFI_HARNESS_PERMISSION_CHECKS_H_
#define ZELM_EFI_HARNESS_PERMISSION_CHECKS_H_

#include <uefi/UefiSystemTable.h>

#include "efi/harness/CheckLog.h"

// Before the authentication protocol exists: GetPermission is EFI_NOT_READY.
// Then installs the harness's protocol on a new handle, which runs the
// driver's notification, and checks the default store it built: the masks
// GetPermission answers and the variables it saved and published.
VOID CheckPermissionStoreStart(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log);

// After access start, with the harness provider registered: Set and Get of
// HARNESS_TEST_SETTING_ID with a local and an owner-only token.
VOID CheckAccessDecisions(EFI_BOOT_SERVICES *BootServices, CheckLog &Log);

#endif
