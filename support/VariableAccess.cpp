// The get and set of the platform variable access path, by its mode.
#include "support/VariableAccess.h"

#include "support/VariableAccessState.h"

PlatformVariableAccessState mVariableAccess;

EFI_STATUS PlatformGetVariable(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes,
                               UINTN *Size, VOID *Data) {
  auto *name = const_cast<CHAR16 *>(Name);
  auto *guid = const_cast<EFI_GUID *>(Guid);
  switch (mVariableAccess.mode) {
  case VariableMode::Smm:
    if (mVariableAccess.smmVariable == nullptr) {
      return EFI_UNSUPPORTED;
    }
    return mVariableAccess.smmVariable->SmmGetVariable(name, guid, Attributes, Size, Data);
  case VariableMode::Dxe:
    if (mVariableAccess.runtime == nullptr) {
      return EFI_UNSUPPORTED;
    }
    return mVariableAccess.runtime->GetVariable(name, guid, Attributes, Size, Data);
  default:
    return EFI_UNSUPPORTED;
  }
}

EFI_STATUS PlatformSetVariable(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 Attributes,
                               UINTN Size, const VOID *Data) {
  auto *name = const_cast<CHAR16 *>(Name);
  auto *guid = const_cast<EFI_GUID *>(Guid);
  auto *data = const_cast<VOID *>(Data);
  switch (mVariableAccess.mode) {
  case VariableMode::Smm:
    if (mVariableAccess.smmVariable == nullptr) {
      return EFI_UNSUPPORTED;
    }
    return mVariableAccess.smmVariable->SmmSetVariable(name, guid, Attributes, Size, data);
  case VariableMode::Dxe:
    if (mVariableAccess.runtime == nullptr) {
      return EFI_UNSUPPORTED;
    }
    return mVariableAccess.runtime->SetVariable(name, guid, Attributes, Size, data);
  default:
    return EFI_UNSUPPORTED;
  }
}

BOOLEAN PlatformVariableSmmMode(VOID) {
  return mVariableAccess.mode == VariableMode::Smm;
}

BOOLEAN PlatformSmmVariableAvailable(VOID) {
  return mVariableAccess.mode == VariableMode::Smm && mVariableAccess.smmVariable != nullptr;
}

BOOLEAN PlatformBootServicesEnded(VOID) {
  return VariablePathHas(VariablePathBootServicesEnded);
}

VOID GetDefaultStoreRegion(const UINT8 **Address, UINT64 *Size) {
  *Address = static_cast<const UINT8 *>(mVariableAccess.defaultStoreRegion);
  *Size = mVariableAccess.defaultStoreSize;
}

const VOID *GetVariableRegionPointer(VOID) {
  return mVariableAccess.variableRegion;
}
