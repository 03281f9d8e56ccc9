#include "permissions/PermissionCheck.h"

// The permission store does not exist in this build yet, so every question
// is answered as before the store is loaded.
EFI_STATUS HasPermission(const CHAR8 *Id, ZELM_AUTH_TOKEN *AuthToken, BOOLEAN *Allowed) {
  (VOID) Id;
  (VOID) AuthToken;
  if (Allowed == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Allowed = FALSE;
  return EFI_NOT_READY;
}

EFI_STATUS HasRecoveryPermission(ZELM_AUTH_TOKEN *AuthToken, BOOLEAN *Allowed) {
  if (AuthToken == nullptr || Allowed == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return HasPermission("Zelm.OwnerKey.Enum", AuthToken, Allowed);
}
