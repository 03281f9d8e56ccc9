// "Device.Password.Password": reports that no system password is set and
// refuses every change; nothing is stored.
#ifndef ZELM_PROVIDERS_PASSWORD_SETTING_H_
#define ZELM_PROVIDERS_PASSWORD_SETTING_H_

#include <zelm/ZelmSettingProvider.h>

extern const ZELM_SETTING_PROVIDER mPasswordProvider;

// Size 1, value 0. EFI_INVALID_PARAMETER: NULL Provider, ValueSize or Value.
// EFI_BUFFER_TOO_SMALL: *ValueSize 0. EFI_UNSUPPORTED: another Id.
EFI_STATUS EFIAPI PasswordSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                     VOID *Value);
// As PasswordSettingGet; a NULL Id is EFI_INVALID_PARAMETER as well.
EFI_STATUS EFIAPI PasswordSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                            VOID *Value);
// Clears *Flags and returns EFI_UNSUPPORTED. EFI_INVALID_PARAMETER: NULL
// Provider, Value or Flags.
EFI_STATUS EFIAPI PasswordSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                     const VOID *Value, UINT64 *Flags);
// EFI_ACCESS_DENIED for this setting, EFI_UNSUPPORTED for another Id.
EFI_STATUS EFIAPI PasswordSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider);

// Start-up: registers the provider once the provider support protocol exists.
VOID StartPasswordProviderLibrary(VOID);

#endif
