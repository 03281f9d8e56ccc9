#include "support/VariableAlloc.h"

#include "support/FirmwareTables.h"
#include "support/Pool.h"

EFI_STATUS GetVariableAlloc(const CHAR16 *Name, const EFI_GUID *Guid, VOID **Buffer, UINTN *Size) {
  return GetVariableAllocWithAttributes(Name, Guid, Buffer, Size, nullptr);
}

EFI_STATUS GetVariableAllocWithAttributes(const CHAR16 *Name, const EFI_GUID *Guid, VOID **Buffer,
                                          UINTN *Size, UINT32 *Attributes) {
  if (Buffer != nullptr) {
    *Buffer = nullptr;
  }
  if (Size != nullptr) {
    *Size = 0;
  }
  if (Attributes != nullptr) {
    *Attributes = 0;
  }
  if (Name == nullptr || Guid == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto *name = const_cast<CHAR16 *>(Name);
  auto *guid = const_cast<EFI_GUID *>(Guid);
  UINTN needed = 0;
  EFI_STATUS status = gRT->GetVariable(name, guid, nullptr, &needed, nullptr);
  if (status != EFI_BUFFER_TOO_SMALL) {
    // Success without a buffer would hand callers a NULL block as data.
    return status == EFI_SUCCESS ? EFI_UNSUPPORTED : status;
  }
  if (needed == 0) {
    return EFI_UNSUPPORTED;
  }
  PoolPtr<VOID> data(AllocPool(needed));
  if (!data) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN size = needed;
  status = gRT->GetVariable(name, guid, Attributes, &size, data.get());
  if (EFI_ERROR(status)) {
    if (Attributes != nullptr) {
      *Attributes = 0;
    }
    return status;
  }
  if (size > needed) {
    if (Attributes != nullptr) {
      *Attributes = 0;
    }
    return EFI_BAD_BUFFER_SIZE;
  }
  if (Size != nullptr) {
    *Size = size;
  }
  *Buffer = data.release();
  return status;
}

EFI_STATUS ReadVariableAttributes(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes) {
  VOID *data = nullptr;
  EFI_STATUS status = GetVariableAllocWithAttributes(Name, Guid, &data, nullptr, Attributes);
  FreePool(data);
  return status;
}

EFI_STATUS DeleteVariableOfOtherAttributes(const CHAR16 *Name, const EFI_GUID *Guid,
                                           UINT32 Attributes) {
  UINT32 attributes = 0;
  if (EFI_ERROR(ReadVariableAttributes(Name, Guid, &attributes)) || attributes == Attributes) {
    return EFI_SUCCESS;
  }
  return gRT->SetVariable(const_cast<CHAR16 *>(Name), const_cast<EFI_GUID *>(Guid), 0, 0, nullptr);
}
