#include "providers/XpbtSetting.h"
#include "providers/ProviderValue.h"

#include <platform/PlatformGuids.h>
#include <zelm/ZelmGuids.h>

#include "providers/ProviderLibrary.h"
#include "providers/SettingVariable.h"
#include "settings/SettingId.h"
#include "support/ProtocolNotify.h"
#include "support/StartupResources.h"

namespace {

constexpr CHAR8 kXpbtId[] = "Zelm3.OnboardXpbt.Enable";
constexpr CHAR16 kXpbtVariable[] = u"XPBTen";
constexpr UINT8 kXpbtEnabled = 1;

EFI_STATUS CheckRead(const ZELM_SETTING_PROVIDER *provider, UINTN *valueSize, VOID *value) {
  if (!ValueReadArgumentsValid(provider, valueSize, value)) {
    return EFI_INVALID_PARAMETER;
  }
  return SettingIdEquals(provider->Id, kXpbtId) ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

VOID *mXpbtRegistration;

VOID EFIAPI OnProviderSupport(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  RegisterLibraryProviders(Event, &mXpbtProvider, 1);
}

} // namespace

const ZELM_SETTING_PROVIDER mXpbtProvider = {kXpbtId,
                                             ZELM_SETTING_TYPE_ENABLE,
                                             ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS |
                                                 ZELM_SETTING_FLAG_REBOOT_REQUIRED,
                                             XpbtSettingSet,
                                             XpbtSettingGet,
                                             XpbtSettingGetDefault,
                                             XpbtSettingSetDefault};

EFI_STATUS EFIAPI XpbtSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                 VOID *Value) {
  EFI_STATUS status = CheckRead(Provider, ValueSize, Value);
  if (EFI_ERROR(status)) {
    return status;
  }
  status = GetSettingVariable(kXpbtVariable, ValueSize, Value);
  return status == EFI_NOT_FOUND ? XpbtSettingGetDefault(Provider, ValueSize, Value) : status;
}

EFI_STATUS EFIAPI XpbtSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                        VOID *Value) {
  EFI_STATUS status = CheckRead(Provider, ValueSize, Value);
  if (EFI_ERROR(status)) {
    return status;
  }
  return ReturnOneByte(ValueSize, Value, kXpbtEnabled);
}

EFI_STATUS EFIAPI XpbtSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                 const VOID *Value, UINT64 *Flags) {
  if (Provider == nullptr || Provider->Id == nullptr || Value == nullptr || Flags == nullptr ||
      ValueSize != 1) {
    return EFI_INVALID_PARAMETER;
  }
  if (!SettingIdEquals(Provider->Id, kXpbtId)) {
    return EFI_UNSUPPORTED;
  }
  const UINT8 requested = *static_cast<const UINT8 *>(Value);
  // A variable of another size cannot be compared: the new byte replaces it.
  UINT8 current = 0;
  UINTN size = sizeof(current);
  if (!EFI_ERROR(XpbtSettingGet(Provider, &size, &current)) && current == requested) {
    *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
    return EFI_SUCCESS;
  }
  return SetSettingVariable(kXpbtVariable, sizeof(requested), &requested);
}

EFI_STATUS EFIAPI XpbtSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider) {
  return SetToDefault(Provider);
}

VOID StartXpbtProviderLibrary(VOID) {
  (VOID) NotifyOnProtocol(&gZelmSettingProviderSupportProtocolGuid, OnProviderSupport,
                          &mXpbtRegistration);
  (VOID) CheckStringVariableAttributes(kXpbtVariable);
  UINT8 value = 0;
  UINTN size = sizeof(value);
  if (!EFI_ERROR(XpbtSettingGet(&mXpbtProvider, &size, &value)) && value == kXpbtEnabled) {
    // Tracked, so a failed start takes the marker away again.
    (VOID) InstallImageProtocols(&gPlatformXpbtEnabledProtocolGuid, nullptr);
  }
}
