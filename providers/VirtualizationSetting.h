// "Device.CpuAndIoVirtualization.Enable": always enabled on this platform;
// only the value 1 is accepted, and nothing is stored.
#ifndef ZELM_PROVIDERS_VIRTUALIZATION_SETTING_H_
#define ZELM_PROVIDERS_VIRTUALIZATION_SETTING_H_

#include <zelm/ZelmSettingProvider.h>

extern const ZELM_SETTING_PROVIDER mVirtualizationProvider;

// Size 1, value 1. EFI_INVALID_PARAMETER (a missing argument, also for a
// size probe); EFI_BUFFER_TOO_SMALL (*ValueSize 0, set to 1);
// EFI_UNSUPPORTED (another id).
EFI_STATUS EFIAPI VirtualizationSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                           VOID *Value);
EFI_STATUS EFIAPI VirtualizationSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider,
                                                  UINTN *ValueSize, VOID *Value);
// A first byte of 1 reports ZELM_SETTING_FLAG_UNCHANGED; anything else is
// EFI_UNSUPPORTED. EFI_INVALID_PARAMETER: a missing argument or 0 bytes.
EFI_STATUS EFIAPI VirtualizationSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                           const VOID *Value, UINT64 *Flags);
EFI_STATUS EFIAPI VirtualizationSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider);

VOID StartVirtualizationProviderLibrary(VOID);

#endif
