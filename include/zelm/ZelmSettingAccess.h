/* The provider support protocol (registration of setting providers) and the
   settings access protocol (reading and writing settings by identifier). */
#ifndef ZELM_SETTING_ACCESS_H_
#define ZELM_SETTING_ACCESS_H_

#include <zelm/ZelmAuthentication.h>
#include <zelm/ZelmSettingProvider.h>

EFI_EXTERN_C_BEGIN

typedef struct ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL_ ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL;

/* Registers a copy of *Provider.
   EFI_INVALID_PARAMETER: NULL or foreign This, NULL Provider, Id or operation,
   an Id that begins with a digit, is longer than 96 characters or is
   already registered. EFI_OUT_OF_RESOURCES: pool exhausted. */
typedef EFI_STATUS(EFIAPI *ZELM_REGISTER_PROVIDER)(IN ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *This,
                                                   IN CONST ZELM_SETTING_PROVIDER *Provider);

struct ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL_ {
  ZELM_REGISTER_PROVIDER RegisterProvider;
};

typedef struct ZELM_SETTING_ACCESS_PROTOCOL_ ZELM_SETTING_ACCESS_PROTOCOL;

/* Writes a setting (or every member of a setting group) under the
   permission of the identity behind AuthToken. */
typedef EFI_STATUS(EFIAPI *ZELM_SETTING_ACCESS_SET)(IN ZELM_SETTING_ACCESS_PROTOCOL *This,
                                                    IN CONST CHAR8 *Id,
                                                    IN ZELM_AUTH_TOKEN *AuthToken, IN UINT32 Type,
                                                    IN UINTN ValueSize, IN CONST VOID *Value,
                                                    IN OUT UINT64 *Flags);
/* Reads a setting or a group's combined value. EFI_BUFFER_TOO_SMALL sets
 *ValueSize; Value may be NULL only when *ValueSize is 0. */
typedef EFI_STATUS(EFIAPI *ZELM_SETTING_ACCESS_GET)(IN ZELM_SETTING_ACCESS_PROTOCOL *This,
                                                    IN CONST CHAR8 *Id,
                                                    IN ZELM_AUTH_TOKEN *AuthToken OPTIONAL,
                                                    IN UINT32 Type, IN OUT UINTN *ValueSize,
                                                    OUT VOID *Value, OUT UINT64 *Flags OPTIONAL);
/* Returns every resettable setting to its default, given recovery rights. */
typedef EFI_STATUS(EFIAPI *ZELM_SETTING_ACCESS_RESET_TO_DEFAULTS)(
    IN ZELM_SETTING_ACCESS_PROTOCOL *This, IN ZELM_AUTH_TOKEN *AuthToken);

struct ZELM_SETTING_ACCESS_PROTOCOL_ {
  ZELM_SETTING_ACCESS_SET Set;
  ZELM_SETTING_ACCESS_GET Get;
  ZELM_SETTING_ACCESS_RESET_TO_DEFAULTS ResetToDefaults;
};
EFI_STATIC_ASSERT(sizeof(ZELM_SETTING_ACCESS_PROTOCOL) == 24,
                  "ZELM_SETTING_ACCESS_PROTOCOL layout");

EFI_EXTERN_C_END

#endif
