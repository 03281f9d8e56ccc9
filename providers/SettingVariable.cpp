#include "providers/SettingVariable.h"

#include <platform/PlatformGuids.h>

#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/Pool.h"
#include "support/VariableAlloc.h"
#include "support/VariableAttributes.h"

namespace {

CHAR16 *Mutable(const CHAR16 *name) {
  return const_cast<CHAR16 *>(name);
}

EFI_STATUS Delete(const CHAR16 *name) {
  return gRT->SetVariable(Mutable(name), &gPlatformSettingVariableGuid, 0, 0, nullptr);
}

} // namespace

EFI_STATUS GetSettingVariable(const CHAR16 *Name, UINTN *Size, VOID *Value) {
  const UINTN asked = *Size;
  UINT32 attributes = 0;
  EFI_STATUS status =
      gRT->GetVariable(Mutable(Name), &gPlatformSettingVariableGuid, &attributes, Size, Value);
  // A probe answered EFI_BUFFER_TOO_SMALL need not fill the attributes:
  // they count only from a read that returned them.
  if (status == EFI_BUFFER_TOO_SMALL) {
    const UINTN needed = *Size;
    EFI_STATUS read = ReadVariableAttributes(Name, &gPlatformSettingVariableGuid, &attributes);
    if (EFI_ERROR(read)) {
      *Size = asked;
      return read;
    }
    *Size = needed;
  }
  if ((status == EFI_SUCCESS || status == EFI_BUFFER_TOO_SMALL) &&
      attributes != kStoredVariableAttributes) {
    *Size = asked;
    return EFI_NOT_FOUND;
  }
  return status;
}

EFI_STATUS SetSettingVariable(const CHAR16 *Name, UINTN Size, const VOID *Value) {
  if (Size == 0) {
    return Delete(Name);
  }
  EFI_STATUS status = DeleteVariableOfOtherAttributes(Name, &gPlatformSettingVariableGuid,
                                                      kStoredVariableAttributes);
  if (EFI_ERROR(status)) {
    return status;
  }
  return gRT->SetVariable(Mutable(Name), &gPlatformSettingVariableGuid, kStoredVariableAttributes,
                          Size, const_cast<VOID *>(Value));
}

EFI_STATUS SettingVariableHolds(const CHAR16 *Name, EFI_STATUS Probe, UINTN Current,
                                const VOID *Value, UINTN Size, BOOLEAN *Equal) {
  *Equal = FALSE;
  if (Probe == EFI_NOT_FOUND) {
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(Probe) && Probe != EFI_BUFFER_TOO_SMALL) {
    return Probe;
  }
  if (Current == 0) {
    *Equal = Size == 0;
    return EFI_SUCCESS;
  }
  if (Size != Current) {
    return EFI_SUCCESS;
  }
  PoolPtr<UINT8> stored(static_cast<UINT8 *>(AllocPool(Current)));
  if (!stored) {
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_STATUS status = GetSettingVariable(Name, &Current, stored.get());
  if (EFI_ERROR(status)) {
    return status;
  }
  *Equal = Current == 0 || CompareMem(stored.get(), Value, Size) == 0;
  return EFI_SUCCESS;
}

EFI_STATUS CheckStringVariableAttributes(const CHAR16 *Name) {
  VOID *buffer = nullptr;
  UINT32 attributes = 0;
  if (EFI_ERROR(GetVariableAllocWithAttributes(Name, &gPlatformSettingVariableGuid, &buffer,
                                               nullptr, &attributes))) {
    return EFI_SUCCESS;
  }
  FreePool(buffer);
  return attributes == kStoredVariableAttributes ? EFI_SUCCESS : Delete(Name);
}
