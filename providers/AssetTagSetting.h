// "Zelm3.AssetTag.String": up to 36 characters of a fixed alphabet, kept
// with its terminator in the variable "AssetTag" (absent: empty).
#ifndef ZELM_PROVIDERS_ASSET_TAG_SETTING_H_
#define ZELM_PROVIDERS_ASSET_TAG_SETTING_H_

#include <zelm/ZelmSettingProvider.h>

extern const ZELM_SETTING_PROVIDER mAssetTagProvider;

// The stored tag, or the empty string when "AssetTag" is absent (or of
// other attributes). Statuses as the XPBT setting's Get.
EFI_STATUS EFIAPI AssetTagSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                     VOID *Value);
EFI_STATUS EFIAPI AssetTagSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                            VOID *Value);
// Stores a tag of 1 to 37 bytes whose only zero byte is its last and whose
// other bytes are digits, letters, "-" or "."; an equal tag reports
// ZELM_SETTING_FLAG_UNCHANGED. EFI_INVALID_PARAMETER (a missing argument, a
// tag outside the rules); EFI_UNSUPPORTED (another id);
// EFI_OUT_OF_RESOURCES; the statuses of the reads and of the write.
EFI_STATUS EFIAPI AssetTagSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                     const VOID *Value, UINT64 *Flags);
EFI_STATUS EFIAPI AssetTagSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider);

// Start-up: registration, then the clean-up of "AssetTag".
VOID StartAssetTagProviderLibrary(VOID);

#endif
