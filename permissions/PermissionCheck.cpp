#include "permissions/PermissionCheck.h"

#include "permissions/Identities.h"
#include "permissions/PermissionIds.h"
#include "permissions/PermissionStore.h"
#include "settings/Registry.h"

namespace {

// The group rule: every group holding Id that has an entry must share a
// bit with the caller; then Id's own entry is not consulted. FALSE in
// *Decided when no group of Id has an entry.
BOOLEAN GroupsAllow(PermissionStore *store, const CHAR8 *id, UINT8 identity, BOOLEAN *decided) {
  *decided = FALSE;
  for (SettingGroup *g = NextGroupContaining(id, nullptr); g != nullptr;
       g = NextGroupContaining(id, g)) {
    PermissionEntry *entry = FindPermissionEntry(store, g->Id);
    if (entry == nullptr) {
      continue;
    }
    *decided = TRUE;
    if ((entry->PMask & identity) == 0) {
      return FALSE;
    }
  }
  return *decided;
}

// Ids whose right lets a caller reset or recover, tried in this order.
constexpr const CHAR8 *kRecoveryIds[] = {kOwnerKeyId, kRecoveryId, kZtdRecoveryId};

} // namespace

EFI_STATUS HasPermission(const CHAR8 *Id, ZELM_AUTH_TOKEN *AuthToken, BOOLEAN *Allowed) {
  if (Id == nullptr || AuthToken == nullptr || Allowed == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Allowed = FALSE;
  PermissionStore *store = CurrentPermissionStore();
  if (store == nullptr || AuthenticationProtocol() == nullptr) {
    return EFI_NOT_READY;
  }
  UINT32 mask = 0;
  EFI_STATUS status = GetIdentityMask(AuthToken, &mask);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINT8 identity = static_cast<UINT8>(mask);
  BOOLEAN decided = FALSE;
  BOOLEAN allowed = GroupsAllow(store, Id, identity, &decided);
  if (!decided) {
    allowed = (PermissionMaskOf(store, Id) & identity) != 0;
  }
  *Allowed = allowed;
  return EFI_SUCCESS;
}

EFI_STATUS HasRecoveryPermission(ZELM_AUTH_TOKEN *AuthToken, BOOLEAN *Allowed) {
  if (AuthToken == nullptr || Allowed == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Allowed = FALSE;
  for (const CHAR8 *id : kRecoveryIds) {
    EFI_STATUS status = HasPermission(id, AuthToken, Allowed);
    if (EFI_ERROR(status) || *Allowed) {
      return status;
    }
  }
  return EFI_SUCCESS;
}
