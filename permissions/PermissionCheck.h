// Permission questions asked by the settings manager.
#ifndef ZELM_PERMISSIONS_PERMISSION_CHECK_H_
#define ZELM_PERMISSIONS_PERMISSION_CHECK_H_

#include <zelm/ZelmAuthentication.h>

// Whether the identity behind AuthToken may change setting Id.
// EFI_INVALID_PARAMETER: NULL Id, AuthToken or Allowed. EFI_NOT_READY: the store
// is not loaded or the authentication protocol not located.
[[nodiscard]] EFI_STATUS HasPermission(const CHAR8 *Id, ZELM_AUTH_TOKEN *AuthToken,
                                       BOOLEAN *Allowed);

// Whether the identity behind AuthToken may reset or recover the settings.
// EFI_INVALID_PARAMETER: NULL AuthToken or Allowed. Otherwise as HasPermission.
[[nodiscard]] EFI_STATUS HasRecoveryPermission(ZELM_AUTH_TOKEN *AuthToken, BOOLEAN *Allowed);

#endif
