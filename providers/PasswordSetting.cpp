#include "providers/PasswordSetting.h"

#include <zelm/ZelmGuids.h>

#include "providers/ProviderLibrary.h"
#include "settings/SettingId.h"
#include "support/ProtocolNotify.h"

namespace {

constexpr CHAR8 kPasswordId[] = "Device.Password.Password";
constexpr UINT8 kNoSystemPassword = 0;

BOOLEAN IsPasswordId(const CHAR8 *id) {
  return id != nullptr && SettingIdEquals(id, kPasswordId);
}

EFI_STATUS ReadValue(const ZELM_SETTING_PROVIDER *provider, UINTN *valueSize, VOID *value) {
  if (*valueSize == 0) {
    *valueSize = 1;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!IsPasswordId(provider->Id)) {
    return EFI_UNSUPPORTED;
  }
  *valueSize = 1;
  *static_cast<UINT8 *>(value) = kNoSystemPassword;
  return EFI_SUCCESS;
}

VOID *mPasswordRegistration;

VOID EFIAPI OnProviderSupport(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  RegisterLibraryProviders(Event, &mPasswordProvider, 1);
}

} // namespace

const ZELM_SETTING_PROVIDER mPasswordProvider = {kPasswordId,
                                                 ZELM_SETTING_TYPE_PASSWORD,
                                                 1,
                                                 PasswordSettingSet,
                                                 PasswordSettingGet,
                                                 PasswordSettingGetDefault,
                                                 PasswordSettingSetDefault};

EFI_STATUS EFIAPI PasswordSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                     VOID *Value) {
  if (Provider == nullptr || ValueSize == nullptr || Value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return ReadValue(Provider, ValueSize, Value);
}

EFI_STATUS EFIAPI PasswordSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                            VOID *Value) {
  if (Provider == nullptr || Provider->Id == nullptr || ValueSize == nullptr || Value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return ReadValue(Provider, ValueSize, Value);
}

EFI_STATUS EFIAPI PasswordSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                     const VOID *Value, UINT64 *Flags) {
  (VOID) ValueSize;
  if (Provider == nullptr || Value == nullptr || Flags == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Flags = 0;
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI PasswordSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider) {
  if (Provider == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return IsPasswordId(Provider->Id) ? EFI_ACCESS_DENIED : EFI_UNSUPPORTED;
}

VOID StartPasswordProviderLibrary(VOID) {
  (VOID) NotifyOnProtocol(&gZelmSettingProviderSupportProtocolGuid, OnProviderSupport,
                          &mPasswordRegistration);
}
