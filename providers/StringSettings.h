// The recovery and management strings: seven settings stored verbatim,
// each in its own platform setting variable ("ZelmUrl", "ZelmUrl2",
// "ZelmHttpsCert", "ZelmRegistrationId", "ZelmTenantId",
// "MdmFriendlyName", "MdmTenantName").
#ifndef ZELM_PROVIDERS_STRING_SETTINGS_H_
#define ZELM_PROVIDERS_STRING_SETTINGS_H_

#include <zelm/ZelmSettingProvider.h>

inline constexpr UINTN kStringSettingCount = 7;
extern const ZELM_SETTING_PROVIDER mStringProviders[kStringSettingCount];
// The variable of each setting, in the same order.
extern const CHAR16 *const kStringSettingVariables[kStringSettingCount];

// The stored value, or the default when its variable is absent (or of
// other attributes). EFI_INVALID_PARAMETER (no provider, id or size; no
// buffer for a size above 0); EFI_UNSUPPORTED (another id);
// EFI_BUFFER_TOO_SMALL with the size needed; GetVariable's statuses.
EFI_STATUS EFIAPI StringSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                   VOID *Value);
// An empty string (one zero byte), or no bytes for the certificate.
EFI_STATUS EFIAPI StringSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                          VOID *Value);
// Stores the value verbatim (0 bytes delete the variable); a value equal
// to the stored one reports ZELM_SETTING_FLAG_UNCHANGED and writes nothing.
// EFI_INVALID_PARAMETER (a missing argument, more than 0x4000 bytes);
// EFI_UNSUPPORTED (another id); EFI_OUT_OF_RESOURCES; the statuses of the
// reads, of deleting a variable of other attributes, and of the write.
EFI_STATUS EFIAPI StringSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                   const VOID *Value, UINT64 *Flags);
// Stores the default; statuses of GetDefault and Set.
EFI_STATUS EFIAPI StringSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider);

// Start-up: registration once the provider support protocol exists, then
// the attribute check of the seven variables.
VOID StartStringProviderLibrary(VOID);

#endif
