/* The setting-permission protocol: permission masks, resetting all
   permissions, and identity key changes. */
#ifndef ZELM_SETTING_PERMISSION_H_
#define ZELM_SETTING_PERMISSION_H_

#include <zelm/ZelmAuthentication.h>

EFI_EXTERN_C_BEGIN

typedef struct ZELM_SETTING_PERMISSION_PROTOCOL_ ZELM_SETTING_PERMISSION_PROTOCOL;

/* The permission mask that applies to Id. EFI_NOT_READY before the
   permission store exists. */
typedef EFI_STATUS(EFIAPI *ZELM_GET_PERMISSION)(IN ZELM_SETTING_PERMISSION_PROTOCOL *This,
                                                IN CONST CHAR8 *Id, OUT UINT8 *PMask);
/* Replaces all permissions by the defaults, given recovery rights. */
typedef EFI_STATUS(EFIAPI *ZELM_RESET_PERMISSIONS)(IN ZELM_SETTING_PERMISSION_PROTOCOL *This,
                                                   IN ZELM_AUTH_TOKEN *Token);
/* Reports that an identity's key changed. */
typedef EFI_STATUS(EFIAPI *ZELM_IDENTITY_CHANGE)(IN ZELM_SETTING_PERMISSION_PROTOCOL *This,
                                                 IN ZELM_AUTH_TOKEN *Token, IN UINT32 Identity,
                                                 IN UINT8 Flag);

struct ZELM_SETTING_PERMISSION_PROTOCOL_ {
  ZELM_GET_PERMISSION GetPermission;
  ZELM_RESET_PERMISSIONS ResetPermissions;
  ZELM_IDENTITY_CHANGE IdentityChange;
};

EFI_EXTERN_C_END

#endif
