#include "permissions/Identities.h"

#include <zelm/ZelmGuids.h>

#include "permissions/CurrentPermissions.h"
#include "permissions/IdentityChanges.h"
#include "permissions/PermissionImage.h"
#include "support/FirmwareTables.h"
#include "support/StartupResources.h"

namespace {

ZELM_AUTHENTICATION_PROTOCOL *mAuthentication;

// Whether start-up must load "_SPP" (owner enrolled and the stored content
// usable), fall back to the defaults, or leave the store empty. With an
// owner enrolled only a missing or invalid "_SPP" is replaced: after a
// passing read failure the defaults would let the local identity change
// what the owner had taken away.
[[nodiscard]] EFI_STATUS StartStore(BOOLEAN ownerEnrolled) {
  if (ownerEnrolled) {
    EFI_STATUS status = LoadPermissionStore(nullptr);
    if (status != EFI_NOT_FOUND && status != EFI_COMPROMISED_DATA) {
      return status;
    }
  }
  EFI_STATUS status = CreateDefaultPermissionStore();
  if (EFI_ERROR(status)) {
    return status;
  }
  (VOID) SavePermissionStore(CurrentPermissionStore());
  return EFI_SUCCESS;
}

} // namespace

VOID ResetPermissionManager(VOID) {
  mAuthentication = nullptr;
  SetCurrentPermissionStore(nullptr);
  ForgetIdentityChanges();
}

ZELM_AUTHENTICATION_PROTOCOL *AuthenticationProtocol(VOID) {
  return mAuthentication;
}

ZELM_AUTHENTICATION_PROTOCOL *FindAuthenticationProtocol(VOID) {
  if (mAuthentication != nullptr) {
    return mAuthentication;
  }
  VOID *interface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gZelmAuthenticationProtocolGuid, nullptr, &interface))) {
    return nullptr;
  }
  return static_cast<ZELM_AUTHENTICATION_PROTOCOL *>(interface);
}

EFI_STATUS GetIdentityMask(ZELM_AUTH_TOKEN *Token, UINT32 *Mask) {
  if (mAuthentication == nullptr) {
    return EFI_NOT_READY;
  }
  ZELM_IDENTITY_PROPERTIES properties = {};
  EFI_STATUS status = mAuthentication->GetTokenIdentity(mAuthentication, Token, &properties);
  if (!EFI_ERROR(status)) {
    *Mask = properties.IdentityMask;
  }
  return status;
}

VOID EFIAPI InitializePermissionsOnAuthentication(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  if (mAuthentication != nullptr) {
    CloseTrackedEvent(Event);
    return;
  }
  ZELM_AUTHENTICATION_PROTOCOL *found = FindAuthenticationProtocol();
  if (found == nullptr) {
    return; // a later installation notifies again
  }
  mAuthentication = found;
  UINT8 enrolled = 0;
  if (!EFI_ERROR(mAuthentication->GetEnrolledIdentities(mAuthentication, &enrolled)) &&
      !EFI_ERROR(StartStore((enrolled & ZELM_IDENTITY_OWNER) != 0))) {
    // Compared with what is stored, not trusted: a power cut after a write
    // of "_SPP" leaves the document of the permissions before it.
    (VOID) PublishCurrentPermissions(FALSE);
  }
  CloseTrackedEvent(Event);
}
