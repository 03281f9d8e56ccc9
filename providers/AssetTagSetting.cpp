#include "providers/AssetTagSetting.h"
#include "providers/ProviderValue.h"

#include <zelm/ZelmGuids.h>

#include "providers/ProviderLibrary.h"
#include "providers/SettingVariable.h"
#include "settings/SettingId.h"
#include "support/ProtocolNotify.h"

namespace {

constexpr CHAR8 kAssetTagId[] = "Zelm3.AssetTag.String";
constexpr CHAR16 kAssetTagVariable[] = u"AssetTag";
constexpr UINTN kMaxTagSize = 37; // 36 characters and the terminator

BOOLEAN InAlphabet(UINT8 c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
         c == '.';
}

BOOLEAN ValidTag(const UINT8 *tag, UINTN size) {
  if (size == 0 || size > kMaxTagSize || tag[size - 1] != 0) {
    return FALSE;
  }
  for (UINTN i = 0; i + 1 < size; i++) {
    if (!InAlphabet(tag[i])) {
      return FALSE;
    }
  }
  return TRUE;
}

EFI_STATUS CheckRead(const ZELM_SETTING_PROVIDER *provider, UINTN *valueSize, VOID *value) {
  if (!ValueReadArgumentsValid(provider, valueSize, value)) {
    return EFI_INVALID_PARAMETER;
  }
  return SettingIdEquals(provider->Id, kAssetTagId) ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

VOID *mAssetTagRegistration;

VOID EFIAPI OnProviderSupport(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  RegisterLibraryProviders(Event, &mAssetTagProvider, 1);
}

} // namespace

const ZELM_SETTING_PROVIDER mAssetTagProvider = {kAssetTagId,
                                                 ZELM_SETTING_TYPE_STRING,
                                                 ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS,
                                                 AssetTagSettingSet,
                                                 AssetTagSettingGet,
                                                 AssetTagSettingGetDefault,
                                                 AssetTagSettingSetDefault};

EFI_STATUS EFIAPI AssetTagSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                     VOID *Value) {
  EFI_STATUS status = CheckRead(Provider, ValueSize, Value);
  if (EFI_ERROR(status)) {
    return status;
  }
  status = GetSettingVariable(kAssetTagVariable, ValueSize, Value);
  return status == EFI_NOT_FOUND ? AssetTagSettingGetDefault(Provider, ValueSize, Value) : status;
}

EFI_STATUS EFIAPI AssetTagSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                            VOID *Value) {
  EFI_STATUS status = CheckRead(Provider, ValueSize, Value);
  if (EFI_ERROR(status)) {
    return status;
  }
  return ReturnOneByte(ValueSize, Value, 0);
}

EFI_STATUS EFIAPI AssetTagSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                     const VOID *Value, UINT64 *Flags) {
  if (Provider == nullptr || Provider->Id == nullptr || Value == nullptr || Flags == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const auto *tag = static_cast<const UINT8 *>(Value);
  if (!ValidTag(tag, ValueSize)) {
    return EFI_INVALID_PARAMETER;
  }
  if (!SettingIdEquals(Provider->Id, kAssetTagId)) {
    return EFI_UNSUPPORTED;
  }
  UINTN current = 0;
  const EFI_STATUS probe = AssetTagSettingGet(Provider, &current, nullptr);
  BOOLEAN equal = FALSE;
  EFI_STATUS status =
      SettingVariableHolds(kAssetTagVariable, probe, current, tag, ValueSize, &equal);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (equal) {
    *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
    return EFI_SUCCESS;
  }
  return SetSettingVariable(kAssetTagVariable, ValueSize, tag);
}

EFI_STATUS EFIAPI AssetTagSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider) {
  return SetToDefault(Provider);
}

VOID StartAssetTagProviderLibrary(VOID) {
  (VOID) NotifyOnProtocol(&gZelmSettingProviderSupportProtocolGuid, OnProviderSupport,
                          &mAssetTagRegistration);
  (VOID) CheckStringVariableAttributes(kAssetTagVariable);
}
