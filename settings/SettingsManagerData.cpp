#include "settings/SettingsManagerData.h"

#include <zelm/ZelmGuids.h>

#include "settings/SettingsVariables.h"
#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/Pool.h"
#include "support/VariableAlloc.h"
#include "support/VariableAttributes.h"

namespace {

// The signature and layout version come before anything else is trusted.
constexpr UINTN kLeadingBytes = 5;

} // namespace

EFI_STATUS LoadSettingsManagerData(ZELM_SETTINGS_MANAGER_DATA *Data) {
  VOID *buffer = nullptr;
  UINTN size = 0;
  UINT32 attributes = 0;
  EFI_STATUS status = GetVariableAllocWithAttributes(kSettingsManagerIdVariableName,
                                                     &gZelmSettingsManagerVariableGuid, &buffer,
                                                     &size, &attributes);
  if (EFI_ERROR(status)) {
    // A failed read says nothing about the content: only an absent variable
    // may stand for fresh data, whatever status the firmware chose.
    return status == EFI_NOT_FOUND || status == EFI_OUT_OF_RESOURCES ? status : EFI_DEVICE_ERROR;
  }
  PoolPtr<UINT8> bytes(static_cast<UINT8 *>(buffer));
  if (size < kLeadingBytes || attributes != kStoredVariableAttributes) {
    return EFI_NOT_FOUND;
  }
  SettingsManagerImage image = {};
  CopyMem(&image, bytes.get(), kLeadingBytes);
  if (image.Signature != kSettingsManagerSignature) {
    return EFI_COMPROMISED_DATA;
  }
  if (image.LayoutVersion != kSettingsManagerLayoutVersion) {
    return EFI_UNSUPPORTED;
  }
  if (size != sizeof(image)) {
    return EFI_COMPROMISED_DATA;
  }
  CopyMem(&image, bytes.get(), sizeof(image));
  if (image.Version < image.LowestSupportedVersion) {
    return EFI_COMPROMISED_DATA;
  }
  Data->Version = image.Version;
  Data->LowestSupportedVersion = image.LowestSupportedVersion;
  Data->CreatedOn = image.CreatedOn;
  Data->Dirty = FALSE;
  return EFI_SUCCESS;
}

BOOLEAN SettingsManagerDataAbsent(EFI_STATUS LoadStatus) {
  return LoadStatus == EFI_NOT_FOUND || LoadStatus == EFI_COMPROMISED_DATA ||
         LoadStatus == EFI_UNSUPPORTED;
}

VOID FreshSettingsManagerData(ZELM_SETTINGS_MANAGER_DATA *Data) {
  *Data = {};
  if (EFI_ERROR(gRT->GetTime(&Data->CreatedOn, nullptr))) {
    Data->CreatedOn = {};
  }
  Data->Dirty = TRUE;
}

EFI_STATUS SaveSettingsManagerData(ZELM_SETTINGS_MANAGER_DATA *Data) {
  if (Data == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!Data->Dirty) {
    return EFI_SUCCESS;
  }
  SettingsManagerImage image = {};
  image.Signature = kSettingsManagerSignature;
  image.LayoutVersion = kSettingsManagerLayoutVersion;
  image.Version = Data->Version;
  image.LowestSupportedVersion = Data->LowestSupportedVersion;
  image.CreatedOn = Data->CreatedOn;
  if (EFI_ERROR(gRT->GetTime(&image.SavedOn, nullptr))) {
    image.SavedOn = {};
  }
  (VOID) DeleteVariableOfOtherAttributes(
      kSettingsManagerIdVariableName, &gZelmSettingsManagerVariableGuid, kStoredVariableAttributes);
  EFI_STATUS status =
      gRT->SetVariable(kSettingsManagerIdVariableName, &gZelmSettingsManagerVariableGuid,
                       kStoredVariableAttributes, sizeof(image), &image);
  if (!EFI_ERROR(status)) {
    Data->Dirty = FALSE;
  }
  return status;
}
