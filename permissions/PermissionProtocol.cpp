#include "permissions/PermissionProtocol.h"

namespace {

// Until the authentication protocol is located there is no permission
// store: every question that passes its argument checks is NOT_READY.

EFI_STATUS EFIAPI GetPermission(ZELM_SETTING_PERMISSION_PROTOCOL *This, const CHAR8 *Id,
                                UINT8 *PMask) {
  (VOID) Id;
  if (This == nullptr || PMask == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_NOT_READY;
}

EFI_STATUS EFIAPI ResetPermissions(ZELM_SETTING_PERMISSION_PROTOCOL *This, ZELM_AUTH_TOKEN *Token) {
  if (This == nullptr || Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_NOT_READY;
}

EFI_STATUS EFIAPI IdentityChange(ZELM_SETTING_PERMISSION_PROTOCOL *This, ZELM_AUTH_TOKEN *Token,
                                 UINT32 Identity, UINT8 Flag) {
  (VOID) Identity;
  if (This == nullptr || Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Flag == 0 ? EFI_SUCCESS : EFI_NOT_READY;
}

} // namespace

ZELM_SETTING_PERMISSION_PROTOCOL mSettingPermission = {GetPermission, ResetPermissions,
                                                       IdentityChange};
