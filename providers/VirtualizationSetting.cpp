#include "providers/VirtualizationSetting.h"
#include "providers/ProviderValue.h"

#include <zelm/ZelmGuids.h>

#include "providers/ProviderLibrary.h"
#include "settings/SettingId.h"
#include "support/ProtocolNotify.h"

namespace {

constexpr CHAR8 kVirtualizationId[] = "Device.CpuAndIoVirtualization.Enable";

BOOLEAN IsVirtualizationSetting(const CHAR8 *id) {
  return SettingIdEquals(id, kVirtualizationId);
}

EFI_STATUS ReadEnabled(const ZELM_SETTING_PROVIDER *provider, UINTN *valueSize, VOID *value) {
  if (provider == nullptr || provider->Id == nullptr || valueSize == nullptr || value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*valueSize == 0) {
    *valueSize = 1;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!IsVirtualizationSetting(provider->Id)) {
    return EFI_UNSUPPORTED;
  }
  *valueSize = 1;
  *static_cast<UINT8 *>(value) = 1;
  return EFI_SUCCESS;
}

VOID *mVirtualizationRegistration;

VOID EFIAPI OnProviderSupport(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  RegisterLibraryProviders(Event, &mVirtualizationProvider, 1);
}

} // namespace

const ZELM_SETTING_PROVIDER mVirtualizationProvider = {kVirtualizationId,
                                                       ZELM_SETTING_TYPE_ENABLE,
                                                       ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS,
                                                       VirtualizationSettingSet,
                                                       VirtualizationSettingGet,
                                                       VirtualizationSettingGetDefault,
                                                       VirtualizationSettingSetDefault};

EFI_STATUS EFIAPI VirtualizationSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                           VOID *Value) {
  return ReadEnabled(Provider, ValueSize, Value);
}

EFI_STATUS EFIAPI VirtualizationSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider,
                                                  UINTN *ValueSize, VOID *Value) {
  return ReadEnabled(Provider, ValueSize, Value);
}

EFI_STATUS EFIAPI VirtualizationSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                           const VOID *Value, UINT64 *Flags) {
  if (Provider == nullptr || Provider->Id == nullptr || Value == nullptr || Flags == nullptr ||
      ValueSize == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (!IsVirtualizationSetting(Provider->Id) || *static_cast<const UINT8 *>(Value) != 1) {
    return EFI_UNSUPPORTED;
  }
  *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI VirtualizationSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider) {
  return SetToDefault(Provider);
}

VOID StartVirtualizationProviderLibrary(VOID) {
  (VOID) NotifyOnProtocol(&gZelmSettingProviderSupportProtocolGuid, OnProviderSupport,
                          &mVirtualizationRegistration);
}
