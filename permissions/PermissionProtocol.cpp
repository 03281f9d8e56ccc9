#include "permissions/PermissionProtocol.h"

#include "permissions/CurrentPermissions.h"
#include "permissions/Identities.h"
#include "permissions/IdentityChanges.h"
#include "permissions/PermissionCheck.h"
#include "permissions/PermissionIds.h"
#include "permissions/PermissionImage.h"

namespace {

EFI_STATUS EFIAPI GetPermission(ZELM_SETTING_PERMISSION_PROTOCOL *This, const CHAR8 *Id,
                                UINT8 *PMask) {
  if (This == nullptr || PMask == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  PermissionStore *store = CurrentPermissionStore();
  if (store == nullptr) {
    return EFI_NOT_READY;
  }
  if (Id == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *PMask = PermissionMaskOf(store, Id);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ResetPermissions(ZELM_SETTING_PERMISSION_PROTOCOL *This, ZELM_AUTH_TOKEN *Token) {
  if (This == nullptr || Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (AuthenticationProtocol() == nullptr) {
    return EFI_NOT_READY;
  }
  BOOLEAN allowed = FALSE;
  EFI_STATUS status = HasRecoveryPermission(Token, &allowed);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (!allowed) {
    return EFI_ACCESS_DENIED;
  }
  FreePermissionStore(CurrentPermissionStore());
  SetCurrentPermissionStore(nullptr);
  status = CreateDefaultPermissionStore();
  if (EFI_ERROR(status)) {
    return status;
  }
  status = SavePermissionStore(CurrentPermissionStore());
  if (EFI_ERROR(status)) {
    // The defaults are not in "_SPP": enforcing or publishing them would
    // say what the next boot will not hold.
    (VOID) ReloadPermissionStore();
    return status;
  }
  (VOID) PublishCurrentPermissions(TRUE);
  return status;
}

// These changes stay in memory, without Dirty, until the next write of the
// whole store; reloads of "_SPP" before it apply them again. A failure is
// returned, so the caller learns that a revocation did not happen.
EFI_STATUS EFIAPI IdentityChange(ZELM_SETTING_PERMISSION_PROTOCOL *This, ZELM_AUTH_TOKEN *Token,
                                 UINT32 Identity, UINT8 Flag) {
  if (This == nullptr || Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Flag == 0) {
    return EFI_SUCCESS;
  }
  PermissionStore *store = CurrentPermissionStore();
  if (AuthenticationProtocol() == nullptr || store == nullptr) {
    return EFI_NOT_READY;
  }
  UINT32 mask = 0;
  if (EFI_ERROR(GetIdentityMask(Token, &mask))) {
    return EFI_ACCESS_DENIED;
  }
  if (Identity == kIdentityOwner) {
    EFI_STATUS status = ApplyIdentityChange(store, IdentityChangeOwnerKey);
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  if (mask == kIdentityZtd) {
    return ApplyIdentityChange(store, IdentityChangeZtdKey);
  }
  return EFI_SUCCESS;
}

} // namespace

ZELM_SETTING_PERMISSION_PROTOCOL mSettingPermission = {GetPermission, ResetPermissions,
                                                       IdentityChange};
