#include "providers/StringSettings.h"
#include "providers/ProviderValue.h"

#include <zelm/ZelmGuids.h>

#include "providers/ProviderLibrary.h"
#include "providers/SettingVariable.h"
#include "settings/SettingId.h"
#include "support/ProtocolNotify.h"

namespace {

constexpr UINTN kMaxValueSize = 0x4000;

// The setting's index in the table, or kStringSettingCount.
UINTN Classify(const CHAR8 *id) {
  for (UINTN i = 0; i < kStringSettingCount; i++) {
    if (SettingIdEquals(id, mStringProviders[i].Id)) {
      return i;
    }
  }
  return kStringSettingCount;
}

EFI_STATUS CheckRead(const ZELM_SETTING_PROVIDER *provider, UINTN *valueSize, VOID *value,
                     UINTN *index) {
  if (!ValueReadArgumentsValid(provider, valueSize, value)) {
    return EFI_INVALID_PARAMETER;
  }
  *index = Classify(provider->Id);
  return *index == kStringSettingCount ? EFI_UNSUPPORTED : EFI_SUCCESS;
}

VOID *mStringRegistration;

VOID EFIAPI OnProviderSupport(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  RegisterLibraryProviders(Event, mStringProviders, kStringSettingCount);
}

#define ZELM_STRING_SETTING(id, type)                                                              \
  {                                                                                                \
    id, type, ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS, StringSettingSet, StringSettingGet,            \
        StringSettingGetDefault, StringSettingSetDefault                                           \
  }

} // namespace

const ZELM_SETTING_PROVIDER mStringProviders[kStringSettingCount] = {
    ZELM_STRING_SETTING("Zelm.RecoveryUrl.String", ZELM_SETTING_TYPE_STRING),
    ZELM_STRING_SETTING("Zelm.RecoveryBootstrapUrl.String", ZELM_SETTING_TYPE_STRING),
    ZELM_STRING_SETTING("Zelm.HttpsCert.Binary", ZELM_SETTING_TYPE_CERT),
    ZELM_STRING_SETTING("Zelm.RegistrationId.String", ZELM_SETTING_TYPE_STRING),
    ZELM_STRING_SETTING("Zelm.TenantId.String", ZELM_SETTING_TYPE_STRING),
    ZELM_STRING_SETTING("MDM.FriendlyName.String", ZELM_SETTING_TYPE_STRING),
    ZELM_STRING_SETTING("MDM.TenantName.String", ZELM_SETTING_TYPE_STRING),
};

const CHAR16 *const kStringSettingVariables[kStringSettingCount] = {
    u"ZelmUrl",      u"ZelmUrl2",        u"ZelmHttpsCert", u"ZelmRegistrationId",
    u"ZelmTenantId", u"MdmFriendlyName", u"MdmTenantName"};

EFI_STATUS EFIAPI StringSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                   VOID *Value) {
  UINTN index = 0;
  EFI_STATUS status = CheckRead(Provider, ValueSize, Value, &index);
  if (EFI_ERROR(status)) {
    return status;
  }
  status = GetSettingVariable(kStringSettingVariables[index], ValueSize, Value);
  return status == EFI_NOT_FOUND ? StringSettingGetDefault(Provider, ValueSize, Value) : status;
}

EFI_STATUS EFIAPI StringSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                          VOID *Value) {
  UINTN index = 0;
  EFI_STATUS status = CheckRead(Provider, ValueSize, Value, &index);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (Provider->Type == ZELM_SETTING_TYPE_CERT) {
    *ValueSize = 0;
    return EFI_SUCCESS;
  }
  return ReturnOneByte(ValueSize, Value, Provider->Type == ZELM_SETTING_TYPE_ENABLE ? 1 : 0);
}

EFI_STATUS EFIAPI StringSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                   const VOID *Value, UINT64 *Flags) {
  if (Provider == nullptr || Provider->Id == nullptr || Value == nullptr || Flags == nullptr ||
      ValueSize > kMaxValueSize) {
    return EFI_INVALID_PARAMETER;
  }
  const UINTN index = Classify(Provider->Id);
  if (index == kStringSettingCount) {
    return EFI_UNSUPPORTED;
  }
  UINTN current = 0;
  const EFI_STATUS probe = StringSettingGet(Provider, &current, nullptr);
  BOOLEAN equal = FALSE;
  EFI_STATUS status = SettingVariableHolds(kStringSettingVariables[index], probe, current, Value,
                                           ValueSize, &equal);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (equal) {
    *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
    return EFI_SUCCESS;
  }
  return SetSettingVariable(kStringSettingVariables[index], ValueSize, Value);
}

EFI_STATUS EFIAPI StringSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider) {
  return SetToDefault(Provider);
}

VOID StartStringProviderLibrary(VOID) {
  (VOID) NotifyOnProtocol(&gZelmSettingProviderSupportProtocolGuid, OnProviderSupport,
                          &mStringRegistration);
  for (const CHAR16 *name : kStringSettingVariables) {
    (VOID) CheckStringVariableAttributes(name);
  }
}
