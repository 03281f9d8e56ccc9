// "Zelm3.OnboardXpbt.Enable": whether the platform may publish its XPBT,
// kept in the one-byte variable "XPBTen" (absent: enabled). While it is
// enabled at start-up, a marker protocol tells the platform's table
// publisher so.
#ifndef ZELM_PROVIDERS_XPBT_SETTING_H_
#define ZELM_PROVIDERS_XPBT_SETTING_H_

#include <zelm/ZelmSettingProvider.h>

extern const ZELM_SETTING_PROVIDER mXpbtProvider;

// The stored byte as it is, or 1 when "XPBTen" is absent (or of other
// attributes). EFI_INVALID_PARAMETER (no provider, id or size; no buffer
// for a size above 0); EFI_UNSUPPORTED (another id); GetVariable's
// statuses.
EFI_STATUS EFIAPI XpbtSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                 VOID *Value);
EFI_STATUS EFIAPI XpbtSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                        VOID *Value);
// Stores the one byte as it is; an equal byte reports
// ZELM_SETTING_FLAG_UNCHANGED. An unreadable current value counts as
// different. EFI_INVALID_PARAMETER (a missing argument, not one byte);
// EFI_UNSUPPORTED (another id); the statuses of the write.
EFI_STATUS EFIAPI XpbtSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                 const VOID *Value, UINT64 *Flags);
EFI_STATUS EFIAPI XpbtSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider);

// Start-up: registration, the clean-up of "XPBTen", then the marker when
// the setting is exactly 1.
VOID StartXpbtProviderLibrary(VOID);

#endif
