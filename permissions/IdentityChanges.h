// The identity settings' changes that IdentityChange makes in memory. They
// reach "_SPP" with the next write of the whole store; until then every
// reload of "_SPP" within the boot applies them again, so a refused or
// discarded packet cannot bring back a revoked key's rights.
#ifndef ZELM_PERMISSIONS_IDENTITY_CHANGES_H_
#define ZELM_PERMISSIONS_IDENTITY_CHANGES_H_

#include "permissions/PermissionStore.h"

// Which key changed, as IdentityChange reports it.
enum IdentityChangeKind : UINT8 {
  IdentityChangeOwnerKey = 0x01, // the owner's key: "Zelm.ZtdKey.Enum" revoked
  IdentityChangeZtdKey = 0x02,   // made under exactly the zero-touch identity
};

// Applies Kind's entries to Store and, on success, remembers them for the
// reloads of this boot. EFI_SUCCESS; the status of SetPermissionEntry (the
// entries before the failing one stay set).
[[nodiscard]] EFI_STATUS ApplyIdentityChange(PermissionStore *Store, IdentityChangeKind Kind);

// Applies every remembered change again (after a reload of "_SPP").
// EFI_SUCCESS; the status of SetPermissionEntry.
[[nodiscard]] EFI_STATUS ReapplyIdentityChanges(PermissionStore *Store);

// Forgets the remembered changes: a whole-store write carried them into
// "_SPP", or the driver starts afresh.
VOID ForgetIdentityChanges(VOID);

#endif
