// Identities: the authentication protocol as the permission manager knows
// it, the start-up of the permission store once that protocol appears, and
// the recovery check that guards resets.
#ifndef ZELM_PERMISSIONS_IDENTITIES_H_
#define ZELM_PERMISSIONS_IDENTITIES_H_

#include <zelm/ZelmAuthentication.h>

#include <uefi/UefiSystemTable.h>

// Forgets the store and the authentication protocol (start of a fresh
// driver; memory of an earlier start is not touched).
VOID ResetPermissionManager(VOID);

// The located authentication protocol, or NULL before the notification.
ZELM_AUTHENTICATION_PROTOCOL *AuthenticationProtocol(VOID);

// The authentication protocol for a caller that may run before the
// permission manager found it: its pointer when set, otherwise looked up
// now. NULL when not installed (or installed with a NULL interface).
ZELM_AUTHENTICATION_PROTOCOL *FindAuthenticationProtocol(VOID);

// The identity mask behind Token (all 32 bits). EFI_NOT_READY without the
// authentication protocol; otherwise GetTokenIdentity's status.
[[nodiscard]] EFI_STATUS GetIdentityMask(ZELM_AUTH_TOKEN *Token, UINT32 *Mask);

// Notification on the installation of the authentication protocol: locates
// it, then loads the stored permissions while the owner is enrolled, or
// saves the defaults, and publishes the current permissions. Closes its
// event once the protocol was found.
VOID EFIAPI InitializePermissionsOnAuthentication(EFI_EVENT Event, VOID *Context);

#endif
